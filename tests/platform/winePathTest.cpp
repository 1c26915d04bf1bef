#include "platform/winePath.h"

#include "support/scopedVariable.h"
#include "support/tempMachine.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace fs = std::filesystem;
using platform::DriveFolder;
using platform::PrefixFolder;
using platform::RealLocation;
using platform::ResolvePath;
using platform::ToWindowsPath;

namespace {

// A prefix with mixed-case names, a folder link, a D: drive outside the prefix and a drive whose link
// leads nowhere.
class WinePathTest : public testing::Test {
protected:
    void SetUp() override {
        Machine.WriteFile("C:\\Program Files\\AcmeCorp\\Tool.EXE", "x");
        Machine.MakeFolder("C:\\Mixed");
        Machine.MakeFolder("C:\\mixed");
        Machine.WriteFile("C:\\Outside Target\\inner.txt", "x");
        Machine.MakeLink("C:\\LinkDir", Machine.DriveC() / "Outside Target");
        Machine.WriteHostFile(Machine.Root() / "ddrive" / "Data" / "File.txt", "x");
        fs::create_symlink(Machine.Root() / "ddrive", Machine.Prefix() / "dosdevices" / "d:");
        fs::create_symlink(Machine.Root() / "nowhere", Machine.Prefix() / "dosdevices" / "e:");
    }

    TTempMachine Machine;
};

struct TResolveCase {
    const char* WindowsPath;
    const char* Expected; // below the root named by Base; nullptr: no path
    const char* Base;     // "c" drive_c, "d" the D: folder
};

TEST_F(WinePathTest, ResolvesWindowsPaths) {
    const TResolveCase cases[] = {
        {"C:\\", "", "c"},
        {"C:", "", "c"},
        {"c:/program files/acmecorp/tool.exe", "Program Files/AcmeCorp/Tool.EXE", "c"},
        {"C:\\PROGRAM FILES\\AcmeCorp\\", "Program Files/AcmeCorp", "c"},
        {"C:\\Program Files\\Missing\\Sub\\New.txt", "Program Files/Missing/Sub/New.txt", "c"},
        {"C:\\Mixed", "Mixed", "c"},
        {"C:\\mixed", "mixed", "c"},
        {"C:\\Program Files\\..\\..\\..\\Program Files", "Program Files", "c"},
        {"C:\\.\\Program Files\\.\\AcmeCorp\\..", "Program Files", "c"},
        {"C:\\\\Program Files//AcmeCorp", "Program Files/AcmeCorp", "c"},
        {"\\\\?\\C:\\Program Files", "Program Files", "c"},
        {"C:\\LinkDir", "LinkDir", "c"},
        {"C:\\linkdir\\INNER.TXT", "LinkDir/inner.txt", "c"},
        {"C:\\LinkDir\\..\\Program Files", "Program Files", "c"},
        {"d:\\data\\FILE.TXT", "Data/File.txt", "d"},
        {"D:\\", "", "d"},
        {"E:\\x", nullptr, ""},
        {"Q:\\x", nullptr, ""},
        {"\\\\server\\share\\x", nullptr, ""},
        {"Program Files", nullptr, ""},
        {"1:\\x", nullptr, ""},
        {"", nullptr, ""},
    };
    for (const TResolveCase& c : cases) {
        SCOPED_TRACE(c.WindowsPath);
        std::optional<fs::path> resolved = ResolvePath(c.WindowsPath);
        if (c.Expected == nullptr) {
            EXPECT_FALSE(resolved.has_value());
            continue;
        }
        fs::path base = std::string(c.Base) == "c" ? Machine.DriveC() : Machine.Root() / "ddrive";
        fs::path expected = std::string(c.Expected).empty() ? base : base / c.Expected;
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(*resolved, expected);
    }
}

TEST_F(WinePathTest, CaseInsensitiveMatchTakesOneOfTheListedNames) {
    std::optional<fs::path> resolved = ResolvePath("C:\\MIXED");
    ASSERT_TRUE(resolved.has_value());
    EXPECT_TRUE(*resolved == Machine.DriveC() / "Mixed" || *resolved == Machine.DriveC() / "mixed");
}

TEST_F(WinePathTest, DriveZIsTheRootWithoutALinkAndTheLinkOtherwise) {
    EXPECT_EQ(DriveFolder('z'), fs::path("/"));
    std::string rootAsWindows = ToWindowsPath(Machine.Root());
    ASSERT_EQ(rootAsWindows.substr(0, 3), "Z:\\");
    // Linux names are matched without regard to case through Z: as well.
    std::optional<fs::path> resolved = ResolvePath(rootAsWindows + "\\PREFIX\\DRIVE_C");
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(*resolved, Machine.DriveC());

    fs::remove(Machine.Prefix() / "dosdevices" / "z:");
    EXPECT_EQ(DriveFolder('Z'), fs::path("/"));
    fs::create_symlink(Machine.Root() / "ddrive", Machine.Prefix() / "dosdevices" / "z:");
    EXPECT_EQ(DriveFolder('z'), Machine.Root() / "ddrive");
    EXPECT_EQ(ResolvePath("Z:\\Data"), Machine.Root() / "ddrive" / "Data");
}

TEST_F(WinePathTest, DriveLettersIgnoreCaseAndRelativeLinksResolveFromDosdevices) {
    EXPECT_EQ(DriveFolder('c'), Machine.DriveC());
    EXPECT_EQ(DriveFolder('C'), Machine.DriveC());
    EXPECT_EQ(DriveFolder('d'), Machine.Root() / "ddrive");
    EXPECT_TRUE(DriveFolder('e').empty());
    EXPECT_TRUE(DriveFolder('q').empty());
    EXPECT_TRUE(DriveFolder('1').empty());
}

TEST_F(WinePathTest, PrefixFollowsTheEnvironmentOnEveryCall) {
    EXPECT_EQ(PrefixFolder(), Machine.Prefix());
    {
        TScopedVariable prefix("WINEPREFIX", "");
        EXPECT_EQ(PrefixFolder(), Machine.Home() / ".wine");
    }
    {
        TScopedVariable prefix("WINEPREFIX", nullptr);
        EXPECT_EQ(PrefixFolder(), Machine.Home() / ".wine");
    }
    {
        TScopedVariable prefix("WINEPREFIX", (Machine.Root() / "missing").c_str());
        EXPECT_EQ(PrefixFolder(), Machine.Root() / "missing");
        EXPECT_TRUE(DriveFolder('c').empty());
        EXPECT_FALSE(ResolvePath("C:\\").has_value());
        EXPECT_EQ(DriveFolder('z'), fs::path("/"));
    }
    EXPECT_EQ(ResolvePath("C:\\"), Machine.DriveC());
}

TEST_F(WinePathTest, ToWindowsPathChoosesTheClosestDrive) {
    EXPECT_EQ(ToWindowsPath(Machine.DriveC()), "C:\\");
    EXPECT_EQ(ToWindowsPath(Machine.DriveC() / "Program Files" / "AcmeCorp"), "C:\\Program Files\\AcmeCorp");
    EXPECT_EQ(ToWindowsPath(Machine.DriveC() / "Program Files" / "AcmeCorp" / ""),
              "C:\\Program Files\\AcmeCorp");
    EXPECT_EQ(ToWindowsPath(Machine.DriveC() / "windows" / ".." / "users"), "C:\\users");
    EXPECT_EQ(ToWindowsPath(Machine.Root() / "ddrive" / "Data"), "D:\\Data");
    EXPECT_EQ(ToWindowsPath("/"), "Z:\\");
    EXPECT_EQ(ToWindowsPath(""), "");
    EXPECT_EQ(ToWindowsPath("/usr/lib"), "Z:\\usr\\lib");
    // A drive inside drive_c holds its own folder more closely than C: does.
    fs::remove(Machine.Prefix() / "dosdevices" / "d:");
    fs::create_symlink("../drive_c/Program Files", Machine.Prefix() / "dosdevices" / "d:");
    EXPECT_EQ(ToWindowsPath(Machine.DriveC() / "Program Files" / "AcmeCorp"), "D:\\AcmeCorp");
    EXPECT_EQ(ToWindowsPath(Machine.DriveC() / "windows"), "C:\\windows");
}

TEST_F(WinePathTest, ToWindowsPathSeesThroughLinksToADrive) {
    fs::create_symlink(Machine.DriveC(), Machine.Root() / "alias");
    EXPECT_EQ(ToWindowsPath(Machine.Root() / "alias" / "windows"), "C:\\windows");
}

TEST_F(WinePathTest, ToWindowsPathTakesARelativePathFromTheCurrentFolder) {
    fs::path old = fs::current_path();
    fs::current_path(Machine.DriveC() / "Program Files");
    std::string windows = ToWindowsPath("AcmeCorp/Tool.EXE");
    fs::current_path(old);
    EXPECT_EQ(windows, "C:\\Program Files\\AcmeCorp\\Tool.EXE");
}

TEST_F(WinePathTest, ResolveAndBackAgain) {
    for (const char* path : {"C:\\Program Files\\AcmeCorp\\Tool.EXE", "C:\\LinkDir", "D:\\Data\\File.txt",
                             "C:\\Program Files\\Not There\\x"}) {
        SCOPED_TRACE(path);
        std::optional<fs::path> resolved = ResolvePath(path);
        ASSERT_TRUE(resolved.has_value());
        EXPECT_EQ(ToWindowsPath(*resolved), path);
    }
}

// Folders that have not changed for a while have their listings (and the prefix its drives) remembered; a
// change must still show at once.
TEST_F(WinePathTest, RememberedListingsFollowChangesOfTheFolder) {
    Machine.WriteFile("C:\\Settled\\Alpha.txt", "x");
    Machine.WriteFile("C:\\Settled\\Beta.txt", "x");
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    fs::path folder = Machine.DriveC() / "Settled";
    EXPECT_EQ(ResolvePath("C:\\settled\\ALPHA.TXT"), folder / "Alpha.txt");
    EXPECT_EQ(ResolvePath("C:\\settled\\GAMMA.TXT"), folder / "GAMMA.TXT");

    Machine.WriteHostFile(folder / "Gamma.txt", "x");
    fs::rename(folder / "Alpha.txt", folder / "Renamed.txt");
    EXPECT_EQ(ResolvePath("C:\\settled\\GAMMA.TXT"), folder / "Gamma.txt");
    EXPECT_EQ(ResolvePath("C:\\settled\\ALPHA.TXT"), folder / "ALPHA.TXT");
    EXPECT_EQ(ResolvePath("C:\\settled\\beta.txt"), folder / "Beta.txt");

    fs::path devices = Machine.Prefix() / "dosdevices";
    EXPECT_FALSE(ResolvePath("Q:\\x").has_value());
    fs::create_symlink(folder, devices / "q:");
    EXPECT_EQ(ResolvePath("Q:\\beta.txt"), folder / "Beta.txt");
    fs::remove(devices / "c:");
    EXPECT_FALSE(ResolvePath("C:\\settled").has_value());
}

TEST_F(WinePathTest, RealLocationFollowsEveryLink) {
    EXPECT_EQ(RealLocation("C:\\linkdir\\inner.txt"),
              fs::canonical(Machine.DriveC() / "Outside Target/inner.txt"));
    EXPECT_EQ(RealLocation("C:\\LinkDir"), fs::canonical(Machine.DriveC() / "Outside Target"));
    EXPECT_FALSE(RealLocation("C:\\Missing").has_value());
    EXPECT_FALSE(RealLocation("Q:\\").has_value());
}

TEST_F(WinePathTest, HomeFolderComesFromHomeElseThePasswordEntry) {
    EXPECT_EQ(platform::HomeFolder(), Machine.Home());
    TScopedVariable home("HOME", nullptr);
    EXPECT_FALSE(platform::HomeFolder().empty());
    EXPECT_NE(platform::HomeFolder(), Machine.Home());
}

} // namespace
