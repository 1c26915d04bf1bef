#include "common/publicFun.h"

#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/messageBox.h"
#include "platform/registry.h"
#include "platform/shellFolders.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"
#include "support/childProcess.h"
#include "support/hiveBuilder.h"
#include "support/peBuilder.h"
#include "support/tempMachine.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// ---- SplitString ----

struct TSplitCase {
    const char* Text;
    std::vector<std::string> Pieces;
};

class SplitStringCases : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitStringCases, GivesThePieces) {
    platform::TStringList list{"left over"};
    SplitString(GetParam().Text, ',', list);
    EXPECT_EQ(list.Lines(), GetParam().Pieces);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitStringCases,
                         ::testing::Values(TSplitCase{"a,,b,", {"a", "", "b"}}, TSplitCase{",a", {"", "a"}},
                                           TSplitCase{"", {}}, TSplitCase{",", {""}},
                                           TSplitCase{"a, b ,c", {"a", " b ", "c"}},
                                           TSplitCase{"abc", {"abc"}}, TSplitCase{"x,,", {"x", ""}}));

// ---- Special folders ----

TEST(SpecialFolder, IndexSelectsItsFolderAndEveryOtherValueTheHistory) {
    const int expected[] = {0x17, 0x0B, 0x16, 0x18, 0x00, 0x02, 0x05, 0x06, 0x07, 0x08, 0x09,
                            0x10, 0x13, 0x14, 0x15, 0x19, 0x1A, 0x1B, 0x1F, 0x20, 0x21};
    for (int index = 1; index <= 21; ++index)
        EXPECT_EQ(SpecialFolderCsidl(index), expected[index - 1]) << index;
    for (int index : {0, -1, 22, 1000, INT32_MIN})
        EXPECT_EQ(SpecialFolderCsidl(index), platform::CSIDL_HISTORY) << index;

    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    std::string path = "stale";
    GetSpecialFolder(5, path);
    EXPECT_EQ(path, "C:\\users\\tester\\Desktop");
    GetSpecialFolder(16, path);
    EXPECT_EQ(path, "C:\\users\\Public\\Desktop");
    for (int index : {0, -1, 22}) {
        GetSpecialFolder(index, path);
        EXPECT_EQ(path, "C:\\users\\tester\\AppData\\Local\\Microsoft\\Windows\\History") << index;
    }
}

// ---- Folders ----

class FolderTree : public ::testing::Test {
protected:
    fs::path Host(const std::string& windowsPath) const { return FMachine.HostPath(windowsPath); }

    TTempMachine FMachine;
};

TEST_F(FolderTree, EmptyMeansNoEntryAtAllHiddenOnesIncluded) {
    FMachine.MakeFolder("C:\\Empty");
    FMachine.MakeFolder("C:\\OnlyFolder\\sub");
    FMachine.WriteFile("C:\\OnlyHidden\\secret.txt", "x");
    FMachine.SetDosAttributes(Host("C:\\OnlyHidden\\secret.txt"), platform::FILE_ATTRIBUTE_HIDDEN);
    FMachine.WriteFile("C:\\OnlyDotFile\\.config", "x");
    struct {
        const char* Folder;
        bool Empty;
    } cases[] = {{"C:\\Empty", true},        {"C:\\OnlyFolder", false},  {"C:\\OnlyHidden", false},
                 {"C:\\OnlyDotFile", false}, {"C:\\Never\\There", true}, {"C:\\onlyfolder\\SUB", true}};
    for (const auto& item : cases) {
        EXPECT_EQ(IsFolderEmpty(item.Folder), item.Empty) << item.Folder;
        EXPECT_EQ(IsFolderEmpty(std::string(item.Folder) + "\\"), item.Empty) << item.Folder;
    }
}

TEST_F(FolderTree, DeletesEverythingWhateverItsAttributesButNeverFollowsALink) {
    // Outside the tree: a folder and a file that links inside the tree point to.
    fs::path outside = FMachine.Root() / "outside";
    FMachine.WriteHostFile(outside / "keep" / "precious.txt", "mine");
    FMachine.WriteHostFile(outside / "single.txt", "mine too");

    for (const char* slash : {"", "\\"}) {
        SCOPED_TRACE(*slash ? "with a trailing backslash" : "without");
        FMachine.WriteFile("C:\\Program Files\\Acme\\acme.exe", "MZ");
        FMachine.WriteFile("C:\\Program Files\\Acme\\readonly.txt", "r");
        fs::permissions(Host("C:\\Program Files\\Acme\\readonly.txt"),
                        fs::perms::owner_read | fs::perms::group_read);
        FMachine.WriteFile("C:\\Program Files\\Acme\\data\\deep\\hidden.dat", "h");
        FMachine.SetDosAttributes(Host("C:\\Program Files\\Acme\\data\\deep\\hidden.dat"),
                                  platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_SYSTEM);
        FMachine.WriteFile("C:\\Program Files\\Acme\\data\\.hidden", "h");
        FMachine.MakeFolder("C:\\Program Files\\Acme\\empty");
        FMachine.SetDosAttributes(Host("C:\\Program Files\\Acme\\empty"), platform::FILE_ATTRIBUTE_SYSTEM);
        FMachine.MakeLink("C:\\Program Files\\Acme\\data\\linked", outside / "keep");
        FMachine.MakeLink("C:\\Program Files\\Acme\\single.lnk", outside / "single.txt");
        FMachine.MakeLink("C:\\Program Files\\Acme\\dangling", outside / "nothing");

        EXPECT_TRUE(DeleteFolderTree(std::string("C:\\Program Files\\Acme") + slash));
        EXPECT_FALSE(fs::exists(fs::symlink_status(Host("C:\\Program Files\\Acme"))));
        EXPECT_TRUE(fs::is_directory(Host("C:\\Program Files")));
        EXPECT_TRUE(fs::exists(outside / "keep" / "precious.txt"));
        EXPECT_TRUE(fs::exists(outside / "single.txt"));
        EXPECT_EQ(fs::status(outside / "single.txt").permissions() & fs::perms::owner_write,
                  fs::perms::owner_write);
    }
}

TEST_F(FolderTree, AFolderThatIsALinkGoesAsALink) {
    fs::path outside = FMachine.Root() / "outside";
    FMachine.WriteHostFile(outside / "precious.txt", "mine");
    FMachine.MakeLink("C:\\Program Files\\Acme", outside);
    EXPECT_TRUE(DeleteFolderTree("C:\\Program Files\\Acme"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Host("C:\\Program Files\\Acme"))));
    EXPECT_TRUE(fs::exists(outside / "precious.txt"));
}

TEST_F(FolderTree, ALockedFileStaysWithItsFoldersAndTheRestGoes) {
    FMachine.WriteFile("C:\\Program Files\\Acme\\a.txt", "a");
    FMachine.WriteFile("C:\\Program Files\\Acme\\other\\b.txt", "b");
    FMachine.WriteFile("C:\\Program Files\\Acme\\bin\\locked.dll", "l");
    FMachine.WriteFile("C:\\Program Files\\Acme\\bin\\free.dll", "f");
    if (!FMachine.SetImmutable(Host("C:\\Program Files\\Acme\\bin\\locked.dll"), true))
        GTEST_SKIP() << "the file system cannot lock files";
    EXPECT_FALSE(DeleteFolderTree("C:\\Program Files\\Acme"));
    EXPECT_TRUE(fs::exists(Host("C:\\Program Files\\Acme\\bin\\locked.dll")));
    EXPECT_FALSE(fs::exists(Host("C:\\Program Files\\Acme\\bin\\free.dll")));
    EXPECT_FALSE(fs::exists(Host("C:\\Program Files\\Acme\\a.txt")));
    EXPECT_FALSE(fs::exists(Host("C:\\Program Files\\Acme\\other")));
    FMachine.SetImmutable(Host("C:\\Program Files\\Acme\\bin\\locked.dll"), false);
}

TEST_F(FolderTree, APathThatNeverExistedIsGoneAndAGuardedFolderStays) {
    EXPECT_TRUE(DeleteFolderTree("C:\\Program Files\\Never\\There"));
    EXPECT_TRUE(DeleteFolderTree("C:\\Program Files\\Never\\There\\"));

    FMachine.WriteFile("C:\\users\\tester\\AppData\\Roaming\\note.txt", "n");
    FMachine.WriteFile("C:\\Program Files\\Acme\\acme.exe", "MZ");
    for (const char* guarded :
         {"C:\\users\\tester", "C:\\Program Files", "C:\\", "C:\\users\\tester\\AppData\\.."})
        EXPECT_FALSE(DeleteFolderTree(guarded)) << guarded;
    EXPECT_TRUE(fs::exists(Host("C:\\users\\tester\\AppData\\Roaming\\note.txt")));
    EXPECT_TRUE(fs::exists(Host("C:\\Program Files\\Acme\\acme.exe")));
}

// ---- Processes ----

class ProcessesByName : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetSleepForTesting([this](unsigned milliseconds) { FSleeps.push_back(milliseconds); });
    }
    void TearDown() override { platform::SetSleepForTesting({}); }

    // Names of this run's own, so that tests running side by side never see each other's processes.
    std::string Unique(const std::string& stem) const {
        return stem + "-" + std::to_string(getpid()) + ".exe";
    }
    // A native program in the prefix (C:\Program Files\Acme\<name>).
    fs::path NativeProgram(const std::string& name) const {
        fs::path program = FMachine.HostPath("C:\\Program Files\\Acme\\" + name);
        if (!fs::exists(program))
            TChildProcess::CopySleepProgram(program);
        return program;
    }

    TTempMachine FMachine;
    std::vector<unsigned> FSleeps;
};

TEST_F(ProcessesByName, MatchByBareNameInAnyCaseOrByTheWholePath) {
    const std::string victim = Unique("Victim");
    const std::string wineName = Unique("acmeping");
    TChildProcess native;
    ASSERT_TRUE(native.Start(NativeProgram(victim), {victim, "60"}));
    fs::path loader = FMachine.Root() / "wine" / "wine64";
    TChildProcess::CopySleepProgram(loader);
    TChildProcess wine;
    ASSERT_TRUE(wine.Start(loader, {"C:\\Program Files\\AcmeCorp\\" + wineName, "60"}));

    struct {
        std::string Name;
        bool Running;
    } cases[] = {
        {victim, true},
        {platform::UpperCase(victim), true},
        {platform::LowerCase(victim), true},
        {"C:\\Program Files\\Acme\\" + victim, true},
        {"c:\\program files\\acme\\" + platform::UpperCase(victim), true},
        {"D:\\Acme\\" + victim, false},
        {victim.substr(0, victim.size() - 4), false},
        {wineName, true},
        {"C:\\Program Files\\AcmeCorp\\" + wineName, true},
        {"Acme\\" + wineName, false},
        {"", false},
    };
    for (const auto& item : cases)
        EXPECT_EQ(IsProcessRunning(item.Name), item.Running) << item.Name;
    EXPECT_TRUE(FSleeps.empty());
}

TEST_F(ProcessesByName, KillEndsEveryMatchPausingASecondAfterEach) {
    const std::string victim = Unique("victim");
    TChildProcess first;
    TChildProcess second;
    ASSERT_TRUE(first.Start(NativeProgram(victim), {victim, "60"}));
    ASSERT_TRUE(second.Start(NativeProgram(victim), {victim, "60"}));
    fs::path loader = FMachine.Root() / "wine" / "wine64";
    TChildProcess::CopySleepProgram(loader);
    TChildProcess wine;
    ASSERT_TRUE(wine.Start(loader, {"C:\\windows\\" + victim, "60"}));
    TChildProcess bystander;
    const std::string other = Unique("bystander");
    ASSERT_TRUE(bystander.Start(NativeProgram(other), {other, "60"}));

    KillProcessByName(platform::UpperCase(victim));
    EXPECT_TRUE(first.ReapKilled());
    EXPECT_TRUE(second.ReapKilled());
    EXPECT_TRUE(wine.ReapKilled());
    EXPECT_EQ(FSleeps, (std::vector<unsigned>{1000, 1000, 1000}));
    EXPECT_TRUE(bystander.Running());
    EXPECT_FALSE(IsProcessRunning(victim));
}

TEST_F(ProcessesByName, NoMatchReturnsAtOnceAndOthersProcessesAndTheRunnerLive) {
    KillProcessByName(Unique("nobody-runs-this"));
    EXPECT_TRUE(FSleeps.empty());

    // Another user's process is not in the user's snapshot.
    const std::string foreign = Unique("foreign");
    TChildProcess other;
    ASSERT_TRUE(other.Start(NativeProgram(foreign), {foreign, "60"}, 65534));
    EXPECT_FALSE(IsProcessRunning(foreign));
    KillProcessByName(foreign);
    EXPECT_TRUE(FSleeps.empty());
    EXPECT_TRUE(other.Running());

    // The runner matches by its own file, and the guard keeps it alive; the pause still follows the match.
    const std::string self = platform::ToWindowsPath(fs::read_symlink("/proc/self/exe"));
    ASSERT_TRUE(IsProcessRunning(self));
    KillProcessByName(self);
    EXPECT_EQ(FSleeps, std::vector<unsigned>{1000});
    EXPECT_TRUE(IsProcessRunning(self));
}

// ---- File times and versions ----

class FileFacts : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 10, 14, 30, 15); });
        FPrevious = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string& caption, uint32_t flags) {
                FMessages.push_back(text + "|" + caption + "|" + std::to_string(flags));
                return platform::IDOK;
            });
    }
    void TearDown() override {
        platform::SetClockForTesting({});
        platform::SetMessageBoxHandler(FPrevious);
    }

    TTempMachine FMachine;
    platform::TMessageBoxHandler FPrevious;
    std::vector<std::string> FMessages;
};

TEST_F(FileFacts, FileTimeToDateTimeKeepsUtcUnlessAskedForLocal) {
    platform::TFileTime epoch = platform::UnixTimeToFileTime(0, 0);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(epoch, 0), platform::UnixDateDelta);
    platform::TFileTime moment = platform::UnixTimeToFileTime(1700000000, 250000000);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(moment, 0), platform::EncodeDateTime(2023, 11, 14, 22, 13, 20, 250));
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(0xFFFFFFFFFFFFFFFFULL, 0), 0.0);

    const char* saved = std::getenv("TZ");
    std::string savedValue = saved != nullptr ? saved : "";
    setenv("TZ", "EST5", 1);
    tzset();
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(moment, 1), platform::EncodeDateTime(2023, 11, 14, 17, 13, 20, 250));
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(moment, 2), FileTimeToDateTime(moment, 0));
    if (saved != nullptr)
        setenv("TZ", savedValue.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST_F(FileFacts, GetFileDateByWhich) {
    FMachine.WriteFile("C:\\Acme\\acme.exe", "MZ");
    fs::path host = FMachine.HostPath("C:\\Acme\\acme.exe");
    timespec times[2] = {{1600000000, 0}, {1700000000, 500000000}}; // access, write
    ASSERT_EQ(utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
    platform::TFileTimes stored;
    ASSERT_TRUE(platform::GetFileTimes("C:\\Acme\\acme.exe", stored));
    const platform::TDateTime today = platform::EncodeDateTime(2026, 12, 10);

    EXPECT_DOUBLE_EQ(GetFileDate("C:\\Acme\\acme.exe", 1), FileTimeToDateTime(stored.Creation, 0));
    EXPECT_DOUBLE_EQ(GetFileDate("C:\\Acme\\acme.exe", 2),
                     platform::EncodeDateTime(2023, 11, 14, 22, 13, 20, 500));
    EXPECT_DOUBLE_EQ(GetFileDate("c:\\ACME\\Acme.EXE", 3), platform::EncodeDateTime(2020, 9, 13, 12, 26, 40));
    for (int which : {0, 4, -1})
        EXPECT_DOUBLE_EQ(GetFileDate("C:\\Acme\\acme.exe", which), today) << which;
    EXPECT_TRUE(FMessages.empty());

    EXPECT_DOUBLE_EQ(GetFileDate("C:\\Acme\\missing.exe", 2), today);
    EXPECT_EQ(FMessages, std::vector<std::string>{"Can not open file!|Error|0"});
}

TEST_F(FileFacts, GetFileVersionOfTheFirstTranslation) {
    fs::create_directories(FMachine.HostPath("C:\\Acme"));
    TPeBuilder english;
    english.SetVersion("1.2.3.4");
    english.Write(FMachine.HostPath("C:\\Acme\\english.exe"));
    TPeBuilder german(TPeBuilder::TFormat::Pe32Plus);
    german.SetVersion("10.0.19041.1", 0x0407, 0x04E4);
    german.Write(FMachine.HostPath("C:\\Acme\\german.dll"));
    TPeBuilder plain;
    plain.AddIconGroup(1, {TIconSpec{16, 0xFF0000FF}});
    plain.Write(FMachine.HostPath("C:\\Acme\\plain.exe"));
    FMachine.WriteFile("C:\\Acme\\readme.txt", "not a program");

    struct {
        const char* File;
        const char* Version;
    } cases[] = {{"C:\\Acme\\english.exe", "1.2.3.4"},
                 {"C:\\Acme\\german.dll", "10.0.19041.1"},
                 {"C:\\Acme\\plain.exe", ""},
                 {"C:\\Acme\\readme.txt", ""},
                 {"C:\\Acme\\missing.exe", ""}};
    for (const auto& item : cases) {
        std::string version = "stale";
        GetFileVersion(item.File, version);
        EXPECT_EQ(version, item.Version) << item.File;
    }
    EXPECT_TRUE(FMessages.empty());
}

TEST_F(FileFacts, GetFileVersionOfABuiltNativeProgram) {
    std::string version;
    GetFileVersion(platform::ToWindowsPath(KORVANE_RESOURCE_CARRIER), version);
    EXPECT_EQ(version, "1.2.3.4");
}

// ---- Services ----

class ServiceRemoval : public ProcessesByName {
protected:
    void WriteServices(const std::string& imageName) const {
        THiveBuilder hive(THiveBuilder::System);
        hive.Key("System\\CurrentControlSet\\Services\\AcmeSvc")
            .ExpandString("ImagePath", "\"%ProgramFiles%\\Acme\\" + imageName + "\" -service")
            .Dword("Start", 2)
            .Dword("Type", 0x10);
        hive.Key("System\\CurrentControlSet\\Services\\AcmeSvc\\Parameters").String("Mode", "fast");
        hive.Key("System\\CurrentControlSet\\Services\\Other").ExpandString("ImagePath", "C:\\other.exe");
        FMachine.WriteRegistryFile("system.reg", hive.Text());
    }
    static bool ServiceKeyExists(const std::string& name) {
        platform::TRegistry registry(platform::KEY_READ);
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        return registry.KeyExists("System\\CurrentControlSet\\Services\\" + name);
    }
};

TEST_F(ServiceRemoval, EndsTheImagesProcessesAndDeletesTheKey) {
    const std::string image = Unique("acmesvc");
    WriteServices(image);
    TChildProcess service;
    ASSERT_TRUE(service.Start(NativeProgram(image), {image, "60"}));

    EXPECT_EQ(RemoveService("AcmeSvc"), 1);
    EXPECT_TRUE(service.ReapKilled());
    EXPECT_FALSE(ServiceKeyExists("AcmeSvc"));
    EXPECT_TRUE(ServiceKeyExists("Other"));
    // A stop does not wait.
    EXPECT_TRUE(FSleeps.empty());
    // Once gone, it is an unknown name.
    EXPECT_EQ(RemoveService("AcmeSvc"), -2);
}

TEST_F(ServiceRemoval, UnknownOrRefusedNamesAndNoWritableMachine) {
    WriteServices(Unique("acmesvc"));
    for (const char* name : {"NoSuchService", "", "AcmeSvc\\Parameters", "..\\..\\..\\Software"})
        EXPECT_EQ(RemoveService(name), -2) << name;
    EXPECT_TRUE(ServiceKeyExists("AcmeSvc\\Parameters"));

    // A registry file without write permission is a machine without administrative rights.
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(RemoveService("AcmeSvc"), -1);
    EXPECT_TRUE(ServiceKeyExists("AcmeSvc"));

    // No prefix at all.
    setenv("WINEPREFIX", (FMachine.Root() / "no-prefix").c_str(), 1);
    EXPECT_EQ(RemoveService("AcmeSvc"), -1);
}

TEST(SystemFolders, WindowsAndSystemDirectories) {
    EXPECT_EQ(GetWindowsDir(), "C:\\windows");
    EXPECT_EQ(GetSystemDir(), "C:\\windows\\system32");
}

} // namespace
