#include "common/opUninstallFile.h"
#include "common/opUninstallRegistry.h"
#include "common/publicFun.h"
#include "common/safetyGuard.h"
#include "platform/processes.h"
#include "platform/winePath.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A prefix as Wine makes it for a person: the user's Desktop, Documents, Downloads, Pictures and Templates
// are links into the home folder (Pictures and Templates to the home folder itself, as Wine does when no
// such folder exists there).
class GuardedMachine : public ::testing::Test {
protected:
    void SetUp() override {
        FMachine.UseFixtureRegistry("win64");
        const fs::path profile = FMachine.HostPath("C:\\users\\tester");
        fs::remove_all(profile / "Desktop");
        for (const char* name : {"Desktop", "Documents", "Downloads"}) {
            fs::create_directories(FMachine.Home() / name);
            fs::create_symlink(FMachine.Home() / name, profile / name);
        }
        fs::create_symlink(FMachine.Home(), profile / "Pictures");
        FMachine.MakeLink("C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Templates",
                          FMachine.Home());
        for (const char* folder :
             {"C:\\windows\\syswow64", "C:\\windows\\Fonts", "C:\\Program Files\\Acme\\data",
              "C:\\Program Files (x86)\\Acme\\Helper", "C:\\ProgramData\\AcmeCorp",
              "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\AcmeCorp",
              "C:\\users\\tester\\AppData\\Roaming\\AcmeCorp",
              "C:\\users\\tester\\AppData\\Local\\BetaWidget", "C:\\users\\Public\\Desktop\\Acme"})
            FMachine.MakeFolder(folder);
        fs::create_directories(FMachine.Home() / "Desktop" / "Acme Folder");
        // Program folders that are links to what must stay.
        FMachine.MakeLink("C:\\Program Files\\ToHome", FMachine.Home());
        FMachine.MakeLink("C:\\Program Files\\ToDesktop", FMachine.Home() / "Desktop");
        FMachine.MakeLink("C:\\Program Files\\ToWindows", FMachine.DriveC() / "windows");
        FMachine.MakeLink("C:\\Program Files\\ToRoot", "/");
        FMachine.MakeLink("C:\\Program Files\\ToAcme", FMachine.DriveC() / "Program Files" / "Acme");
    }

    std::string Z(const fs::path& path) const { return platform::ToWindowsPath(path); }

    TTempMachine FMachine;
};

TEST_F(GuardedMachine, RefusesSystemAndSpecialFoldersAndWhatHoldsThem) {
    const std::string refused[] = {
        // Drive roots and what is no full path.
        "C:\\",
        "C:",
        "c:/",
        "D:\\",
        "Z:\\",
        "",
        "   ",
        "Program Files\\Acme",
        "\\Program Files\\Acme",
        "\\\\server\\share\\folder",
        // The Windows folders.
        "C:\\windows",
        "c:\\WINDOWS\\",
        "C:\\windows\\system32",
        "C:\\windows\\SysWOW64",
        "C:\\windows\\Fonts",
        "C:\\windows\\temp",
        "C:\\Program Files",
        "C:\\Program Files (x86)",
        "C:\\Program Files\\Common Files",
        "C:\\Program Files (x86)\\Common Files",
        // Special folders, the profile and what holds them.
        "C:\\users",
        "C:\\users\\tester",
        "C:\\USERS\\TESTER\\",
        "C:\\users\\Public",
        "C:\\users\\Public\\Desktop",
        "C:\\ProgramData",
        "C:\\ProgramData\\Microsoft",
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
        "C:\\users\\tester\\Desktop",
        "C:\\users\\tester\\Documents",
        "C:\\users\\tester\\Downloads",
        "C:\\users\\tester\\Pictures",
        "C:\\users\\tester\\AppData",
        "C:\\users\\tester\\AppData\\Roaming",
        "C:\\users\\tester\\AppData\\Local",
        "C:\\users\\tester\\AppData\\LocalLow",
        "C:\\users\\tester\\Temp",
        "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp",
        "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Templates",
        // Other spellings of the same folders.
        "C:\\Program Files\\Acme\\..",
        "C:/Program Files/./",
        "C:\\Program Files\\\\",
        "C:\\windows\\system32\\..\\..\\users",
        "C:\\..\\..\\windows",
        // Links whose real place must stay: the home folder, a special folder, the Windows folder, "/".
        "C:\\Program Files\\ToHome",
        "C:\\Program Files\\ToDesktop",
        "C:\\Program Files\\ToWindows",
        "C:\\Program Files\\ToRoot",
        // Linux places: the home folder and what holds it, top folders, the prefix, the program's own folder.
        Z(FMachine.Home()),
        Z(FMachine.Root()),
        "Z:\\usr",
        "Z:\\etc\\",
        Z(FMachine.Prefix()),
        Z(FMachine.DriveC()),
        FMachine.ProgramFolderWindows(),
    };
    for (const auto& folder : refused)
        EXPECT_FALSE(safetyGuard::MayDeleteFolder(folder)) << folder;
}

TEST_F(GuardedMachine, AllowsProgramFolders) {
    for (const char* folder : {
             "C:\\Program Files\\Acme",
             "C:\\Program Files\\Acme\\",
             "c:\\program files\\acme\\DATA",
             "C:\\Program Files (x86)\\Acme\\Helper",
             "C:\\ProgramData\\AcmeCorp",
             "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\AcmeCorp",
             "C:\\users\\tester\\AppData\\Roaming\\AcmeCorp",
             "C:\\users\\tester\\AppData\\Local\\BetaWidget",
             "C:\\users\\Public\\Desktop\\Acme",
             "C:\\windows\\Acme",
             "C:\\Program Files\\Never There",
             "C:\\Program Files\\ToAcme",
         })
        EXPECT_TRUE(safetyGuard::MayDeleteFolder(folder)) << folder;
}

// Every file and folder below a Linux folder with its content ("/" marks a folder), links as their target
// text.
std::map<std::string, std::string> TreeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            tree[name] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[name] = "/";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            tree[name] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return tree;
}

// A removal led by a hostile database and registry at the person's own files: the profile's Desktop is a
// link into the home folder (to the home folder itself, or to ~/Desktop), Z: is "/" and D: a link to the
// home folder. Parameter: whether the Desktop is the home folder itself.
class PersonalFiles : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        const fs::path home = FMachine.Home();
        for (const auto& [name, content] :
             std::map<std::string, std::string>{{".ssh/id_rsa", "secret"},
                                                {".ssh/config", "Host *"},
                                                {".bashrc", "alias ll='ls -l'"},
                                                {"Desktop/Photos/cat.jpg", "jpeg"},
                                                {"Desktop/notes.txt", "notes"},
                                                {"Documents/report.odt", "report"}})
            FMachine.WriteHostFile(home / name, content);
        const fs::path desktop = GetParam() ? home : home / "Desktop";
        fs::remove_all(FMachine.HostPath("C:\\users\\tester\\Desktop"));
        fs::create_symlink(desktop, FMachine.HostPath("C:\\users\\tester\\Desktop"));
        fs::create_symlink(home, FMachine.Prefix() / "dosdevices" / "d:");
        FMachine.WriteHostFile(desktop / "Acme Tool.lnk", "shortcut");
        FMachine.WriteFile("C:\\Program Files\\Acme\\acme.exe", "MZ");
        FHomeBefore = TreeOf(home);
        FHomeBefore.erase(fs::relative(desktop / "Acme Tool.lnk", home).string());
    }

    std::string Z(const std::string& inHome) const { return "Z:" + (FMachine.Home() / inHome).string(); }

    TTempMachine FMachine;
    std::map<std::string, std::string> FHomeBefore;
};

TEST_P(PersonalFiles, AHostileRemovalTakesOnlyTheProgramsOwnFiles) {
    // Install folders from probe values: through the linked Desktop, Z: and D:.
    const char* desktopValues[] = {"C:\\users\\tester\\Desktop\\.ssh\\tool.exe",
                                   "C:\\users\\tester\\Desktop\\Photos\\tool.exe",
                                   "C:\\users\\tester\\Desktop\\Desktop\\Photos\\tool.exe"};
    THiveBuilder system(THiveBuilder::System);
    system.Key("Software\\Acme")
        .String("Desk1", desktopValues[0])
        .String("Desk2", desktopValues[1])
        .String("Desk3", desktopValues[2])
        .String("Zed", Z(".ssh/tool.exe"))
        .String("Dee", "D:\\Documents\\tool.exe")
        .String("Own", "C:\\Program Files\\Acme\\acme.exe");
    FMachine.WriteRegistryFile("system.reg", system.Text());
    platform::TStringList keys;
    platform::TStringList values;
    for (const char* name : {"Desk1", "Desk2", "Desk3", "Zed", "Dee", "Own"}) {
        keys.Add("HKEY_LOCAL_MACHINE\\Software\\Acme");
        values.Add(name);
    }
    platform::TStringList folders;
    TURegistryOp registry;
    registry.GetFoldersFromValues(keys, values, folders);
    ASSERT_GE(folders.Count(), 3) << "the values must name existing folders of the home";
    for (const std::string& folder : folders) {
        const bool own = folder.find("acme") != std::string::npos;
        EXPECT_EQ(DeleteFolderTree(folder), own) << folder;
    }

    // Database items through the same places, and the program's own file.
    TDatabaseWriter writer;
    writer.Add("acme", "Acme Tool", 1)
        .File(1, "\\users{cur}\\Desktop\\.ssh\\id_rsa")
        .File(1, "\\users{cur}\\Desktop\\notes.txt")
        .File(1, "\\users{cur}\\Desktop\\.bashrc")
        .File(1, Z(".ssh/config"))
        .File(1, "D:\\.bashrc")
        .File(1, "D:\\Documents\\report.odt")
        .File(1, "{pf}\\Acme\\readme.txt");
    writer.WriteFiles(FMachine.ProgramFolder());
    FMachine.WriteFile("C:\\Program Files\\Acme\\readme.txt", "own");
    TUFileOp database("", "");
    platform::TStringList items;
    ASSERT_GE(database.GetLeftoverItems("Acme Tool", 1, items, 1), 4);
    for (const std::string& item : items) {
        const std::string path = item.substr(1);
        EXPECT_EQ(DeleteItemFile(path), path == "C:\\Program Files\\Acme\\readme.txt") << path;
    }
    // The program's files themselves, beside the databases, are no item of any program.
    EXPECT_FALSE(DeleteItemFile(FMachine.ProgramFolderWindows() + "KV.dat"));

    // Shell entries: the program's own shortcut on the linked Desktop goes; a name that is no shortcut, and
    // any folder there, stay.
    EXPECT_TRUE(DeleteShellEntryFile("C:\\users\\tester\\Desktop\\Acme Tool.lnk"));
    EXPECT_FALSE(DeleteShellEntryFile("C:\\users\\tester\\Desktop\\.bashrc"));
    EXPECT_FALSE(DeleteShellEntryFile("C:\\users\\tester\\Desktop\\notes.txt"));
    EXPECT_FALSE(DeleteShellEntryTree("C:\\users\\tester\\Desktop\\.ssh"));
    EXPECT_FALSE(DeleteShellEntryTree("C:\\users\\tester\\Desktop\\Photos"));
    EXPECT_FALSE(DeleteShellEntryFile("C:\\users\\tester\\Documents\\Acme Tool.lnk"));

    EXPECT_EQ(TreeOf(FMachine.Home()), FHomeBefore);
    EXPECT_FALSE(fs::exists(FMachine.HostPath("C:\\Program Files\\Acme\\acme.exe")));
    EXPECT_FALSE(fs::exists(FMachine.HostPath("C:\\Program Files\\Acme\\readme.txt")));
}

INSTANTIATE_TEST_SUITE_P(Desktops, PersonalFiles, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("DesktopIsTheHome")
                                                : std::string("DesktopInTheHome");
                         });

TEST(ShellEntryGuard, AMenuFolderGoesAsATreeButNoSpecialFolder) {
    TTempMachine machine;
    const std::string programs =
        "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    machine.WriteFile(programs + "\\Acme\\Acme Tool.lnk", "shortcut");
    machine.MakeFolder(programs + "\\StartUp");
    EXPECT_FALSE(DeleteShellEntryTree(programs + "\\StartUp"));
    EXPECT_FALSE(DeleteShellEntryTree(programs));
    EXPECT_TRUE(DeleteShellEntryTree(programs + "\\Acme"));
    EXPECT_FALSE(fs::exists(machine.HostPath(programs + "\\Acme")));
    EXPECT_TRUE(fs::exists(machine.HostPath(programs + "\\StartUp")));
}

TEST(ShellEntryGuard, RefusesBlankNamesAndNamesThatLeadElsewhere) {
    for (const std::string& name :
         {std::string(""), std::string("  "), std::string("\t"), std::string("."), std::string(".."),
          std::string(" .. "), std::string("a\\b"), std::string("a/b"), std::string("..\\Desktop"),
          std::string("C:x.lnk"), std::string("*"), std::string("*.lnk"), std::string("a?b"),
          std::string("a|b"), std::string("x\0y", 3)})
        EXPECT_FALSE(safetyGuard::MayDeleteShellEntry(name)) << name;
    for (const char* name : {"Acme Tool.lnk", "Acme Tool (All Users).lnk", "M\xC3\xBCller Caf\xC3\xA9.lnk",
                             "foo..bar.lnk", ".hidden.lnk", "AcmeCorp Acme Tool"})
        EXPECT_TRUE(safetyGuard::MayDeleteShellEntry(name)) << name;
}

TEST(ProcessGuard, RefusesTheProgramItsParentsUpdateAndWinesOwnProcesses) {
    TTempMachine machine;
    const uint32_t self = platform::GetCurrentProcessId();
    const uint32_t stranger = 0x7FFFFF00; // no such process, so no ancestor either
    struct {
        uint32_t ProcessId;
        std::string ExeFile;
        bool Allowed;
    } cases[] = {
        {stranger, "C:\\Program Files\\Acme\\acme.exe", true},
        {stranger, "acme.exe", true},
        {stranger, machine.ProgramFolderWindows() + "KV.exe", true},
        {stranger, "C:\\Program Files\\Acme\\services.exe", true},
        {stranger, "C:\\windows\\system32\\ping.exe", true},
        {self, "C:\\Program Files\\Acme\\acme.exe", false},
        {static_cast<uint32_t>(getppid()), "C:\\Program Files\\Acme\\acme.exe", false},
        {1, "C:\\Program Files\\Acme\\acme.exe", false},
        {0, "C:\\Program Files\\Acme\\acme.exe", false},
        {stranger, "", false},
        {stranger, "  ", false},
        {stranger, "Update.exe", false},
        {stranger, machine.ProgramFolderWindows() + "update.EXE", false},
        {stranger, "C:\\windows\\system32\\services.exe", false},
        {stranger, "c:\\WINDOWS\\syswow64\\svchost.exe", false},
        {stranger, "C:\\windows\\explorer.exe", false},
        {stranger, "C:\\windows\\system32\\conhost.exe", false},
        {stranger, "start.exe", false},
        {stranger, "winedevice.exe", false},
        {stranger, "C:\\windows\\system32\\rpcss.exe", false},
        {stranger, "C:\\windows\\system32\\plugplay.exe", false},
        {stranger, "C:\\windows\\system32\\wineboot.exe", false},
        {stranger, "Z:\\usr\\lib\\wine\\wineserver64", false},
        {stranger, "Z:\\opt\\wine-stable\\bin\\wineserver", false},
        {stranger, "Z:\\usr\\lib\\wine\\wine64", false},
        // The machine's own programs are nobody's leftovers.
        {stranger, platform::ToWindowsPath("/bin/sh"), false},
    };
    for (const auto& item : cases)
        EXPECT_EQ(safetyGuard::MayEndProcess(item.ProcessId, item.ExeFile), item.Allowed)
            << item.ProcessId << " " << item.ExeFile;
}

} // namespace
