#include "common/opUninstallRegistry.h"

#include "platform/lookupScope.h"
#include "platform/systemInfo.h"
#include "support/hiveBuilder.h"
#include "support/peBuilder.h"
#include "support/plainImageList.h"
#include "support/tempMachine.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::HKEY_CURRENT_USER;
using platform::HKEY_LOCAL_MACHINE;
using platform::TStringList;

namespace {

const std::string Uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string LmUninstall =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string CuUninstall =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string RunPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string AppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// ---- Reading the machine back, independently of the object under test ----

bool KeyExists(platform::HKEY root, const std::string& key) {
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    return registry.KeyExists("\\" + key);
}

std::optional<std::string> ValueOf(platform::HKEY root, const std::string& key, const std::string& name) {
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    if (!registry.OpenKeyReadOnly("\\" + key) || !registry.ValueExists(name))
        return std::nullopt;
    return registry.ReadString(name);
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Tests that Before lost exactly the keys in Gone (with everything below them) and the value lines in
// LostLines, and that every other key block is unchanged.
void ExpectOnlyRemoved(const std::string& before, const std::string& after,
                       const std::vector<std::string>& gone, const std::set<std::string>& lostLines) {
    auto oldBlocks = HiveKeyBlocks(before);
    auto newBlocks = HiveKeyBlocks(after);
    ASSERT_FALSE(newBlocks.empty()) << "the file no longer parses into key blocks";
    for (const auto& [key, lines] : oldBlocks) {
        bool removed = false;
        for (const std::string& g : gone)
            removed = removed || key == g || key.rfind(g + "\\\\", 0) == 0;
        auto found = newBlocks.find(key);
        if (removed) {
            EXPECT_EQ(found, newBlocks.end()) << key << " should be gone";
            continue;
        }
        ASSERT_NE(found, newBlocks.end()) << key << " was lost";
        std::vector<std::string> expected;
        for (const std::string& l : lines) {
            if (!lostLines.count(l))
                expected.push_back(l);
        }
        EXPECT_EQ(found->second, expected) << "values of " << key;
    }
    // A key whose last child went stays as an empty key, and a key without values or subkeys has a block.
    for (const auto& [key, lines] : newBlocks) {
        bool emptiedParent = false;
        for (const std::string& g : gone)
            emptiedParent = emptiedParent || (lines.empty() && g.rfind(key + "\\\\", 0) == 0);
        EXPECT_TRUE(oldBlocks.count(key) || emptiedParent) << key << " appeared";
    }
}

// ---- Icons ----

constexpr uint32_t AppColour = 0xFF100000;   // C:\App\app.exe, icon n has AppColour + n
constexpr uint32_t UninsColour = 0xFF200000; // C:\App\unins000.exe
constexpr uint32_t OwnColour = 0xFF900000;   // the program's own file
constexpr uint32_t MsiWindowsColour = 0xFF300000;
constexpr uint32_t MsiUserColour = 0xFF400000;
constexpr uint32_t UnusedColour = 0xFF500000;

void WriteIconProgram(const fs::path& path, uint32_t colour, int icons) {
    TPeBuilder pe;
    for (int i = 0; i < icons; ++i) {
        uint32_t c = colour + static_cast<uint32_t>(i);
        pe.AddIconGroup(static_cast<uint16_t>(i + 1), {TIconSpec{32, c}, TIconSpec{16, c}});
    }
    fs::create_directories(path.parent_path());
    pe.Write(path);
}

void WriteIcon(const fs::path& path, uint32_t colour) {
    fs::create_directories(path.parent_path());
    WriteIcoFile(path, {TIconSpec{32, colour}});
}

uint32_t CentreColour(const platform::TIconImage& image) {
    return image.Pixels.at(static_cast<size_t>(image.Width * (image.Height / 2) + image.Width / 2));
}

class RegistryOpTest : public ::testing::Test {
protected:
    void WriteHives() {
        FMachine.WriteRegistryFile("system.reg", FSystem.Text());
        FMachine.WriteRegistryFile("user.reg", FUser.Text());
    }
    // An entry with a display name and an uninstall command.
    THiveBuilder& Entry(THiveBuilder& hive, const std::string& key, const std::string& displayName) {
        return hive.Key(Uninstall + key)
            .String("DisplayName", displayName)
            .String("UninstallString", "x.exe");
    }
    // The program's own icon goes first, as the scan puts it.
    void AddOwnIcon() {
        WriteIconProgram(FMachine.ProgramFile(), OwnColour, 3);
        ASSERT_EQ(FOp.AddIconToLists(FSmall, FLarge, platform::GetModuleFileName(), 0), 0);
    }

    TTempMachine FMachine;
    THiveBuilder FSystem{THiveBuilder::System};
    THiveBuilder FUser{THiveBuilder::User};
    TPlainImageList FSmall;
    TPlainImageList FLarge;
    TURegistryOp FOp;
};

// ---- Uninstall entries ----

TEST_F(RegistryOpTest, EntryUnderBothRootsUsesTheUserEntryAndRowsBoth) {
    Entry(FSystem, "AcmeMachine", "Acme Tool")
        .String("Publisher", " Machine Corp ")
        .String("InstallDate", "20080115");
    Entry(FUser, "AcmeUser", "Acme Tool").String("Publisher", "User Corp").String("InstallDate", "2009");
    WriteHives();
    AddOwnIcon();

    EXPECT_EQ(FOp.FindUninstallKey("Acme Tool"), CuUninstall + "AcmeUser");
    TUNINSTALL_DES des = FOp.GetUninstallDes("Acme Tool", 0);
    EXPECT_EQ(des.KeyName, "AcmeUser");
    EXPECT_EQ(des.Publisher, "User Corp");

    TStringList row;
    ASSERT_EQ(FOp.GetSoftwareRow("Acme Tool", FSmall, FLarge, row), 8);
    EXPECT_EQ(row, (TStringList{"Acme Tool", "Jan 15,2008", " Machine Corp ", "1", "Acme Tool", "Jan 01,2009",
                                "User Corp", "2"}));
    EXPECT_EQ(FSmall.Count(), 3);
    EXPECT_EQ(FLarge.Count(), 3);

    TStringList names;
    EXPECT_EQ(FOp.ListInstalledNames(names), 2);
    EXPECT_EQ(names, (TStringList{"Acme Tool", "Acme Tool"}));

    EXPECT_TRUE(FOp.DeleteUninstallKey("Acme Tool"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Uninstall + "AcmeUser"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Uninstall + "AcmeMachine"));
    EXPECT_EQ(FOp.FindUninstallKey("Acme Tool"), LmUninstall + "AcmeMachine");
}

TEST_F(RegistryOpTest, DisplayNamesMatchExactlyAfterTrimmingTheRegistryValue) {
    Entry(FSystem, "A", "  Acme Tool\t\r\n");
    Entry(FSystem, "B", "Beta Tool");
    Entry(FSystem, "C", "Gamma  Tool");
    Entry(FSystem, "D", "   ");
    FSystem.Key(Uninstall + "E").String("UninstallString", "x.exe");
    FSystem.Key(Uninstall + "F").String("DisplayName", "No Uninstall");
    WriteHives();

    struct TCase {
        const char* Asked;
        std::string Key;
    } cases[] = {{"Acme Tool", LmUninstall + "A"},   {" Acme Tool", ""}, {"acme tool", ""},
                 {"Beta Tool", LmUninstall + "B"},   {"BETA TOOL", ""},  {"Gamma Tool", ""},
                 {"Gamma  Tool", LmUninstall + "C"}, {"Missing", ""},    {"No Uninstall", LmUninstall + "F"}};
    for (const TCase& c : cases)
        EXPECT_EQ(FOp.FindUninstallKey(c.Asked), c.Key) << "'" << c.Asked << "'";

    TStringList names;
    EXPECT_EQ(FOp.ListInstalledNames(names), 4);
    EXPECT_EQ(names, (TStringList{"Acme Tool", "Beta Tool", "Gamma  Tool", "No Uninstall"}));

    // An entry without an uninstall command is no installed program for the scan.
    TStringList row;
    EXPECT_EQ(FOp.GetSoftwareRow("No Uninstall", FSmall, FLarge, row), 0);
    EXPECT_EQ(FLarge.Count(), 0);
    EXPECT_EQ(FOp.GetSoftwareRow("acme tool", FSmall, FLarge, row), 0);
}

// What the scan learns of each name: the row's lines, each icon index followed by the colour of the large
// picture it points to. Fresh lists starting with the program's own icon, as the scan's, so that two runs
// over the same entries give the same indices.
std::vector<std::string> ScanRows(TURegistryOp& op, const std::vector<std::string>& names) {
    TPlainImageList small;
    TPlainImageList large;
    op.AddIconToLists(small, large, platform::GetModuleFileName(), 0);
    std::vector<std::string> seen;
    TStringList row;
    for (const std::string& name : names) {
        seen.push_back(name + ": " + std::to_string(op.GetSoftwareRow(name, small, large, row)) + " lines");
        for (int line = 0; line < row.Count(); ++line) {
            seen.push_back(row[line]);
            const int index =
                line % SoftwareRow::LinesPerEntry == SoftwareRow::IconIndex ? std::stoi(row[line]) : -1;
            if (index >= 0)
                seen.push_back(std::to_string(CentreColour(large.Image(index))));
        }
    }
    EXPECT_EQ(small.Count(), large.Count());
    return seen;
}

// Inside a lookup scope the rows come from an index of the entries built once; they must be the rows that a
// walk of the entries gives outside any scope, for duplicate names under both roots, and follow another
// program's change from one scope to the next and the object's own deletion within one.
TEST_F(RegistryOpTest, RowsInsideAScopeAreTheRowsOfAWalk) {
    WriteIconProgram(FMachine.HostPath("C:\\App\\app.exe"), AppColour, 6);
    // Changed: another program gave A1 an uninstall command, so that A1 comes first now.
    auto machineEntries = [&](bool changed) {
        THiveBuilder hive(THiveBuilder::System);
        THiveBuilder& first =
            hive.Key(Uninstall + "A1").String("DisplayName", "Dup").String("Publisher", "first");
        if (changed)
            first.String("UninstallString", "x.exe");
        Entry(hive, "A2", " Dup\t").String("Publisher", "second").String("DisplayIcon", "C:\\App\\app.exe,1");
        Entry(hive, "A3", "Dup").String("Publisher", "third").String("DisplayIcon", "C:\\App\\app.exe,2");
        Entry(hive, "A4", "Solo").Dword("InstallDate", 20080115).String("Publisher", " Solo Corp ");
        hive.Key(Uninstall + "A5").Dword("DisplayName", 5).String("UninstallString", "x.exe");
        Entry(hive, "A6", "Dup").String("Publisher", "sixth");
        return hive.Text();
    };
    Entry(FUser, "C1", "Dup").String("Publisher", "user").String("DisplayIcon", "C:\\App\\app.exe,3");
    Entry(FUser, "C2", "User Only").String("InstallDate", "20090230");
    Entry(FUser, "C3", "User Only").String("Publisher", "later");
    FMachine.WriteRegistryFile("system.reg", machineEntries(false));
    FMachine.WriteRegistryFile("user.reg", FUser.Text());
    WriteIconProgram(FMachine.ProgramFile(), OwnColour, 1);
    const std::vector<std::string> names = {"Dup", "Solo", "User Only", "", "Missing", "dup", "Dup"};

    const std::vector<std::string> walked = ScanRows(FOp, names);
    const std::string own = std::to_string(OwnColour);
    EXPECT_EQ(
        std::vector<std::string>(walked.begin(), walked.begin() + 11),
        (std::vector<std::string>{"Dup: 8 lines", "Dup", "", "second", "1", std::to_string(AppColour + 1),
                                  "Dup", "", "user", "2", std::to_string(AppColour + 3)}));
    EXPECT_EQ(std::vector<std::string>(walked.begin() + 11, walked.begin() + 17),
              (std::vector<std::string>{"Solo: 4 lines", "Solo", "", " Solo Corp ", "3", own}));
    {
        platform::TLookupScope scope;
        EXPECT_EQ(ScanRows(FOp, names), walked);
    }

    // Another program changes A1 and deletes the per-user entry: the next call and the next scope see it.
    FUser = THiveBuilder(THiveBuilder::User);
    Entry(FUser, "C2", "User Only");
    FMachine.WriteRegistryFile("system.reg", machineEntries(true));
    FMachine.WriteRegistryFile("user.reg", FUser.Text());
    const std::vector<std::string> changed = ScanRows(FOp, names);
    EXPECT_EQ(std::vector<std::string>(changed.begin(), changed.begin() + 6),
              (std::vector<std::string>{"Dup: 4 lines", "Dup", "", "first", "1", own}));
    {
        platform::TLookupScope scope;
        EXPECT_EQ(ScanRows(FOp, names), changed);
        // Its own deletion inside the scope: the next entry of the name gives the row.
        ASSERT_TRUE(FOp.DeleteRegItem(LmUninstall + "A1", TURegistryOp::KindRegistryKey));
        EXPECT_EQ(ScanRows(FOp, {"Dup"}), (std::vector<std::string>{"Dup: 4 lines", "Dup", "", "second", "1",
                                                                    std::to_string(AppColour + 1)}));
    }
    EXPECT_EQ(ScanRows(FOp, {"Dup"}), (std::vector<std::string>{"Dup: 4 lines", "Dup", "", "second", "1",
                                                                std::to_string(AppColour + 1)}));
}

// Listing and rows open the entries read-only; the search behind describing and deleting opens them for
// writing, so a machine hive that cannot be written hides its entries from it.
TEST_F(RegistryOpTest, ReadOnlyMachineHiveIsListedButNotSearchedForDeletion) {
    Entry(FSystem, "AcmeTool", "Acme Tool");
    WriteHives();
    AddOwnIcon();
    const std::string before = ReadText(FMachine.Prefix() / "system.reg");
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::owner_read);

    TStringList names;
    EXPECT_EQ(FOp.ListInstalledNames(names), 1);
    TStringList row;
    EXPECT_EQ(FOp.GetSoftwareRow("Acme Tool", FSmall, FLarge, row), 4);
    EXPECT_EQ(FOp.FindUninstallKey("Acme Tool"), "");
    EXPECT_EQ(FOp.GetUninstallDes("Acme Tool", 0), TUNINSTALL_DES{});
    EXPECT_FALSE(FOp.DeleteUninstallKey("Acme Tool"));
    EXPECT_FALSE(FOp.DeleteRegItem(LmUninstall + "AcmeTool", TURegistryOp::KindRegistryKey));
    EXPECT_EQ(ReadText(FMachine.Prefix() / "system.reg"), before);
}

TEST_F(RegistryOpTest, DescribesTheEntryWithTrimmedValues) {
    FSystem.Key(Uninstall + "AcmeTool")
        .String("DisplayName", "Acme Tool")
        .String("InstallDate", "20080115")
        .String("DisplayVersion", " 2.1 ")
        .String("InstallLocation", "\tC:\\Acme\t")
        .String("HelpLink", " http://help ")
        .String("Publisher", " Acme ")
        .String("URLInfoAbout", "http://about ")
        .String("URLUpdateInfo", " http://update")
        .String("UninstallString", " \"C:\\Acme\\uninst.exe\" /S ");
    WriteHives();

    TUNINSTALL_DES expected;
    expected.KeyName = "AcmeTool";
    expected.DisplayName = "Acme Tool";
    expected.Tag = 7;
    expected.DisplayVersion = "2.1";
    expected.InstallDate = "Jan 15,2008";
    expected.InstallLocation = "C:\\Acme";
    expected.HelpLink = "http://help";
    expected.Publisher = "Acme";
    expected.URLInfoAbout = "http://about";
    expected.URLUpdateInfo = "http://update";
    expected.UninstallString = "\"C:\\Acme\\uninst.exe\" /S";
    EXPECT_EQ(FOp.GetUninstallDes("Acme Tool", 7), expected);

    EXPECT_EQ(FOp.GetUninstallDes("Missing", 7), TUNINSTALL_DES{});
    EXPECT_FALSE(FOp.DeleteUninstallKey("Missing"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool"));
}

// Installers write numeric entry values (a REG_DWORD InstallDate): the entry's operations read them as empty
// text, so that a scan or a removal goes on, while the accessor itself still refuses them.
TEST_F(RegistryOpTest, NumericEntryValuesReadAsEmptyTextWhileTheAccessorRaises) {
    Entry(FUser, "{3F2504E0}", "Beta").Dword("InstallDate", 20080115).Dword("Publisher", 7);
    Entry(FUser, "Other", "Other").String("InstallDate", "20080115");
    FSystem.Key(Uninstall + "Numeric").Dword("DisplayName", 1).String("UninstallString", "x.exe");
    WriteHives();
    AddOwnIcon();

    TStringList row;
    ASSERT_EQ(FOp.GetSoftwareRow("Beta", FSmall, FLarge, row), 4);
    EXPECT_EQ(row[1], "");
    EXPECT_EQ(row[2], "");
    EXPECT_EQ(FOp.GetUninstallDes("Beta", 0).InstallDate, "");
    EXPECT_EQ(FOp.GetUninstallDes("Beta", 0).KeyName, "{3F2504E0}");
    TStringList items;
    EXPECT_NO_THROW(FOp.GetLeftoverKeys("Beta", items));
    TStringList names;
    EXPECT_EQ(FOp.ListInstalledNames(names), 2);
    EXPECT_EQ(FOp.GetSoftwareRow("Other", FSmall, FLarge, row), 4);
    EXPECT_EQ(FOp.GetUninstallDes("Other", 0).InstallDate, "Jan 15,2008");

    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(platform::HKEY_CURRENT_USER);
    ASSERT_TRUE(
        registry.OpenKeyReadOnly("\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3F2504E0}"));
    try {
        registry.ReadString("InstallDate");
        ADD_FAILURE() << "no error";
    } catch (const platform::ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'InstallDate'");
    }
}

TEST(FormatInstallDate, TurnsDigitsIntoTheShortDateAndPassesOtherForms) {
    TTempMachine machine;
    TURegistryOp op;
    struct TCase {
        const char* Raw;
        const char* Text;
    } cases[] = {{"20080115", "Jan 15,2008"},
                 {"2008", "Jan 01,2008"},
                 {"20081231", "Dec 31,2008"},
                 {"200806", "Jun 01,2008"},
                 {"20082", "Jan 01,2008"},
                 {"2008012", "Jan 01,2008"},
                 {"200", "Jan 01,2008"},
                 {"abcd0715", "Jul 15,2008"},
                 {"20080229", "Feb 29,2008"},
                 {"2008-01-15", "2008-01-15"},
                 {"Jan 15, 2008", "Jan 15, 2008"},
                 {" 2008-1 ", " 2008-1 "},
                 {"200813", ""},
                 {"1/15/2008", ""},
                 {"20070229", ""},
                 {"20080132", ""},
                 {"20080100", ""},
                 {"00000115", ""},
                 {"", ""},
                 {"   ", ""},
                 {"\t\r\n", ""}};
    for (const TCase& c : cases)
        EXPECT_EQ(op.FormatInstallDate(c.Raw), c.Text) << "'" << c.Raw << "'";
}

// ---- The icon of a row ----

struct TIconCase {
    const char* Name;
    const char* DisplayIcon; // nullptr: no value
    const char* UninstallString;
    uint32_t Colour; // of the large picture the row points to
};

void PrintTo(const TIconCase& c, std::ostream* out) {
    *out << c.Name;
}

class RowIcon : public RegistryOpTest, public ::testing::WithParamInterface<TIconCase> {
protected:
    void SetUp() override {
        WriteIconProgram(FMachine.HostPath("C:\\App\\app.exe"), AppColour, 3);
        WriteIconProgram(FMachine.HostPath("C:\\App\\unins000.exe"), UninsColour, 3);
        WriteIconProgram(FMachine.HostPath("C:\\App\\plain.exe"), 0, 0);
        WriteIcon(FMachine.HostPath("C:\\windows\\Installer\\{1234-AB}\\Installer.ico"), MsiWindowsColour);
        const std::string userCache = "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Installer\\";
        WriteIconProgram(FMachine.HostPath(userCache + "{5678-CD}\\ARPPRODUCTICON.exe"), MsiUserColour, 1);
        // The Windows cache folder exists without an icon: the user cache's icon is not taken.
        FMachine.MakeFolder("C:\\windows\\Installer\\{EMPTY-00}");
        WriteIcon(FMachine.HostPath(userCache + "{EMPTY-00}\\Installer.ico"), UnusedColour);
        FUser.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
            .String("AppData", " C:\\users\\tester\\AppData\\Roaming ");
    }
};

TEST_P(RowIcon, ComesFromTheFirstCandidateThatGivesOne) {
    const TIconCase& c = GetParam();
    THiveBuilder& entry = FSystem.Key(Uninstall + "Probe").String("DisplayName", "Probe");
    entry.String("UninstallString", c.UninstallString);
    if (c.DisplayIcon != nullptr)
        entry.String("DisplayIcon", c.DisplayIcon);
    WriteHives();
    AddOwnIcon();

    TStringList row;
    ASSERT_EQ(FOp.GetSoftwareRow("Probe", FSmall, FLarge, row), 4);
    ASSERT_EQ(row[3], "1");
    EXPECT_EQ(FSmall.Count(), 2);
    ASSERT_EQ(FLarge.Count(), 2);
    EXPECT_EQ(CentreColour(FLarge.Image(1)), c.Colour) << std::hex << CentreColour(FLarge.Image(1));
    EXPECT_EQ(FSmall.Image(1).Width, 16);
    EXPECT_EQ(FLarge.Image(1).Width, 32);
}

// clang-format off
const TIconCase IconCases[] = {
    {"DisplayIconWithNumber", "C:\\App\\app.exe,2", "C:\\App\\unins000.exe", AppColour + 2},
    {"DisplayIconTrimmed", "  C:\\App\\app.exe  ", "C:\\App\\unins000.exe", AppColour},
    {"DisplayIconNumberNotANumber", "C:\\App\\app.exe,abc", "C:\\App\\unins000.exe", AppColour},
    {"DisplayIconResourceIdentifier", "C:\\App\\app.exe,-3", "C:\\App\\unins000.exe", AppColour + 2},
    {"QuotedDisplayIconGoesOnWithItsNumber", "\"C:\\App\\app.exe\",1", "C:\\App\\unins000.exe", UninsColour + 1},
    {"DisplayIconWithoutIconGoesOn", "C:\\App\\plain.exe", "C:\\App\\unins000.exe", UninsColour},
    {"MissingFilesGiveTheOwnIconWithTheNumber", "C:\\App\\missing.exe,2", "C:\\App\\missing.exe /S", OwnColour + 2},
    {"QuotedUninstallWithSwitch", nullptr, "\"C:\\App\\unins000.exe\" /SILENT", UninsColour},
    {"UninstallWithoutExe", nullptr, "C:\\App\\uninstall.bat", OwnColour},
    {"MsiWindowsCache", nullptr, "MsiExec.exe /X{1234-AB}", MsiWindowsColour},
    {"MsiUserCache", nullptr, "MsiExec.exe /I{5678-CD}", MsiUserColour},
    {"MsiWindowsFolderWithoutIconEndsTheSearch", nullptr, "MsiExec.exe /X{EMPTY-00}", OwnColour},
    {"MsiWithoutProductCode", nullptr, "msiexec.exe /x", OwnColour},
    {"MsiProductNotCached", nullptr, "MsiExec.exe /X{9999}", OwnColour},
};
// clang-format on

std::string IconCaseName(const ::testing::TestParamInfo<TIconCase>& info) {
    return info.param.Name;
}

INSTANTIATE_TEST_SUITE_P(Cases, RowIcon, ::testing::ValuesIn(IconCases), IconCaseName);

// A numeric uninstall command names no file: the entry still gives its row, with its DisplayIcon's icon or
// the program's own.
TEST_F(RegistryOpTest, NumericUninstallStringNamesNoIconFile) {
    WriteIconProgram(FMachine.HostPath("C:\\App\\app.exe"), AppColour, 2);
    FSystem.Key(Uninstall + "Good")
        .String("DisplayName", "Good")
        .String("DisplayIcon", "C:\\App\\app.exe,1")
        .Dword("UninstallString", 1);
    FSystem.Key(Uninstall + "Bad")
        .String("DisplayName", "Bad")
        .String("DisplayIcon", "C:\\App\\missing.exe")
        .Dword("UninstallString", 1);
    WriteHives();
    AddOwnIcon();

    TStringList row;
    ASSERT_EQ(FOp.GetSoftwareRow("Good", FSmall, FLarge, row), 4);
    EXPECT_EQ(row[3], "1");
    EXPECT_EQ(CentreColour(FLarge.Image(1)), AppColour + 1);
    ASSERT_EQ(FOp.GetSoftwareRow("Bad", FSmall, FLarge, row), 4);
    EXPECT_EQ(row[3], "2");
}

TEST_F(RegistryOpTest, AddIconToListsGivesTheLargeIndexOrMinusOne) {
    WriteIconProgram(FMachine.HostPath("C:\\App\\app.exe"), AppColour, 2);
    WriteIconProgram(FMachine.HostPath("C:\\App\\plain.exe"), 0, 0);
    FMachine.WriteFile("C:\\App\\broken.ico", "not an icon");
    EXPECT_EQ(FOp.AddIconToLists(FSmall, FLarge, "C:\\App\\app.exe", 1), 0);
    EXPECT_EQ(FOp.AddIconToLists(FSmall, FLarge, "C:\\App\\app.exe", 0), 1);
    for (const char* file : {"C:\\App\\missing.exe", "C:\\App\\plain.exe", "C:\\App\\broken.ico", ""})
        EXPECT_EQ(FOp.AddIconToLists(FSmall, FLarge, file, 0), -1) << file;
    EXPECT_EQ(FOp.AddIconToLists(FSmall, FLarge, "C:\\App\\app.exe", 5), -1);
    EXPECT_EQ(FSmall.Count(), 2);
    ASSERT_EQ(FLarge.Count(), 2);
    EXPECT_EQ(CentreColour(FLarge.Image(0)), AppColour + 1);
    EXPECT_EQ(CentreColour(FSmall.Image(1)), AppColour);
}

TEST_F(RegistryOpTest, FindMsiIconPrefersInstallerIconThenProductIconThenAnyProgram) {
    FMachine.WriteFile("C:\\Cache\\A\\Installer.ico", "i");
    FMachine.WriteFile("C:\\Cache\\A\\ARPPRODUCTICON.exe", "p");
    FMachine.WriteFile("C:\\Cache\\A\\a.exe", "a");
    FMachine.WriteFile("C:\\Cache\\B\\ARPPRODUCTICON.exe", "p");
    FMachine.WriteFile("C:\\Cache\\B\\b.exe", "b");
    FMachine.MakeFolder("C:\\Cache\\C\\folder.exe");
    FMachine.WriteFile("C:\\Cache\\C\\c.exe", "c");
    FMachine.WriteFile("C:\\Cache\\C\\c.msi", "m");
    FMachine.MakeFolder("C:\\Cache\\D\\only.exe");
    FMachine.WriteFile("C:\\Cache\\D\\readme.txt", "r");
    EXPECT_EQ(FOp.FindMsiIcon("C:\\Cache\\A"), "C:\\Cache\\A\\Installer.ico");
    EXPECT_EQ(FOp.FindMsiIcon("C:\\Cache\\B"), "C:\\Cache\\B\\ARPPRODUCTICON.exe");
    EXPECT_EQ(FOp.FindMsiIcon("C:\\Cache\\C"), "C:\\Cache\\C\\c.exe");
    EXPECT_EQ(FOp.FindMsiIcon("C:\\Cache\\D"), "");
    EXPECT_EQ(FOp.FindMsiIcon("C:\\Cache\\Missing"), "");
}

// ---- Paths, folders and the start-up value ----

TEST(RegistryPaths, RootAndLastPart) {
    struct TRootCase {
        const char* Path;
        platform::HKEY Root;
    } roots[] = {{"HKEY_LOCAL_MACHINE\\Software", HKEY_LOCAL_MACHINE},
                 {"HKEY_CURRENT_USER\\Software", HKEY_CURRENT_USER},
                 {"HKEY_CLASSES_ROOT\\.acme", platform::HKEY_CLASSES_ROOT},
                 {"HKEY_USERS\\.Default", platform::HKEY_USERS},
                 {"HKEY_LOCAL_MACHINE", platform::HKEY_CURRENT_CONFIG},
                 {"HKLM\\Software", platform::HKEY_CURRENT_CONFIG},
                 {"hkey_local_machine\\Software", platform::HKEY_CURRENT_CONFIG},
                 {"", platform::HKEY_CURRENT_CONFIG}};
    for (const TRootCase& c : roots)
        EXPECT_EQ(TURegistryOp::RootKeyOf(c.Path), c.Root) << c.Path;
    EXPECT_EQ(TURegistryOp::LastPathPart("a\\b\\c"), "c");
    EXPECT_EQ(TURegistryOp::LastPathPart("abc"), "abc");
    EXPECT_EQ(TURegistryOp::LastPathPart("a\\b\\"), "");
}

TEST_F(RegistryOpTest, ShellFolderAndWindowsFolder) {
    FUser.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        .String("AppData", "\tC:\\users\\tester\\AppData\\Roaming ")
        .Dword("Number", 1);
    WriteHives();
    EXPECT_EQ(FOp.GetShellFolder("AppData"), "C:\\users\\tester\\AppData\\Roaming");
    EXPECT_EQ(FOp.GetShellFolder("Missing"), "");
    EXPECT_THROW(FOp.GetShellFolder("Number"), platform::ERegistryException);
    EXPECT_EQ(FOp.GetWindowsDir(), "C:\\windows");
}

TEST_F(RegistryOpTest, StartupValueIsWrittenAndDeleted) {
    FSystem.Key(RunPath).String("Other", "C:\\other.exe");
    WriteHives();
    FOp.SetRunValue("Rudarorovod", "Z:\\opt\\korvane\\KV.exe");
    EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, RunPath, "Rudarorovod"), "Z:\\opt\\korvane\\KV.exe");
    FOp.DeleteRunValue("Rudarorovod");
    EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, RunPath, "Rudarorovod"), std::nullopt);
    FOp.DeleteRunValue("Rudarorovod");
    EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, RunPath, "Other"), "C:\\other.exe");
}

TEST_F(RegistryOpTest, StartupValueWriteFailsWithTheAccessorsErrorWhenTheKeyCannotBeWritten) {
    FSystem.Key(RunPath).String("Other", "C:\\other.exe");
    WriteHives();
    const std::string before = ReadText(FMachine.Prefix() / "system.reg");
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::all, fs::perm_options::remove);
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::owner_read, fs::perm_options::add);
    try {
        FOp.SetRunValue("Rudarorovod", "Z:\\KV.exe");
        ADD_FAILURE() << "no error";
    } catch (const platform::ERegistryException& error) {
        EXPECT_STREQ(error.what(), "Failed to set data for 'Rudarorovod'");
    }
    FOp.DeleteRunValue("Other");
    EXPECT_EQ(ReadText(FMachine.Prefix() / "system.reg"), before);
    EXPECT_EQ(ValueOf(HKEY_LOCAL_MACHINE, RunPath, "Other"), "C:\\other.exe");
}

TEST_F(RegistryOpTest, StartupValueWriteFailsWhenThereIsNoRunKey) {
    FSystem.Key("Software\\Acme").String("A", "a");
    WriteHives();
    EXPECT_THROW(FOp.SetRunValue("Rudarorovod", "Z:\\KV.exe"), platform::ERegistryException);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, RunPath));
}

TEST_F(RegistryOpTest, FoldersFromProbeValues) {
    for (const char* folder : {"C:\\Program Files\\Acme", "C:\\Acme", "C:\\Beta",
                               "C:\\Program Files\\Acme 1.5", "C:\\Program Files\\Gamma"})
        FMachine.MakeFolder(folder);
    FSystem.Key("Software\\Probe")
        .String("", "C:\\Beta")
        .String("Quoted", "\"C:\\Program Files\\Acme\\acme.exe\" -start")
        .String("Comma", " C:\\Acme\\acme.exe,0 ")
        .String("Folder", "C:\\Program Files\\Acme")
        .String("Dotted", "C:\\Program Files\\Acme 1.5")
        .String("Missing", "C:\\Nowhere")
        .String("Empty", "  ")
        .String("NoRoot", "acme.exe")
        .String("Unquoted", "C:\\Program Files\\Gamma\\gamma.exe /s")
        .Dword("Number", 1);
    FUser.Key("Software\\Probe").String("Root", "C:\\boot.ini");
    WriteHives();

    const std::string probe = "HKEY_LOCAL_MACHINE\\Software\\Probe";
    TStringList keys{probe,
                     " " + probe + " ",
                     probe,
                     probe,
                     probe,
                     probe,
                     probe,
                     probe,
                     probe,
                     probe + "\\Missing",
                     "HKLM\\Software\\Probe",
                     probe,
                     "HKEY_CURRENT_USER\\Software\\Probe"};
    TStringList names{"Quoted", " Comma ", "Folder", "(Default)", "Dotted",   "Missing", "Empty",
                      "NoRoot", "Absent",  "Quoted", "Quoted",    "Unquoted", "Root"};
    TStringList folders;
    EXPECT_EQ(FOp.GetFoldersFromValues(keys, names, folders), 6);
    EXPECT_EQ(folders, (TStringList{"c:\\program files\\acme", "c:\\acme", "c:\\beta", "c:\\program files",
                                    "c:\\program files\\gamma", "c:\\"}));

    // The (default) name in any case reads the default value.
    EXPECT_EQ(FOp.GetFoldersFromValues({probe}, {"(DEFAULT)"}, folders), 1);
    EXPECT_EQ(folders, (TStringList{"c:\\beta"}));
    EXPECT_EQ(FOp.GetFoldersFromValues({}, {}, folders), 0);
    EXPECT_TRUE(folders.Empty());
    EXPECT_THROW(FOp.GetFoldersFromValues({probe}, {"Number"}, folders), platform::ERegistryException);
}

// ---- Item deletion and service keys ----

TEST_F(RegistryOpTest, DeleteRegItemDeletesKeysAndValues) {
    FUser.Key("Software\\Acme\\Tool").String("", "default").String("Path", "C:\\Acme").String("Keep", "k");
    FUser.Key("Software\\Acme\\Tool\\Deep\\Deeper").String("X", "x");
    FUser.Key("Software\\Beta").String("", "beta default").String("Keep", "k");
    FUser.Key("Software\\Gamma\\Sub").String("A", "a");
    WriteHives();

    EXPECT_FALSE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Acme", TURegistryOp::KindFile));
    EXPECT_FALSE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Acme", 4));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Acme"));

    EXPECT_TRUE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Acme\\Tool\\Path", 3));
    EXPECT_EQ(ValueOf(HKEY_CURRENT_USER, "Software\\Acme\\Tool", "Path"), std::nullopt);
    EXPECT_EQ(ValueOf(HKEY_CURRENT_USER, "Software\\Acme\\Tool", "Keep"), "k");
    EXPECT_FALSE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Acme\\Tool\\Path", 3));
    EXPECT_FALSE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Missing\\Path", 3));

    // A trailing backslash names the key's default value.
    EXPECT_TRUE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Beta\\", 3));
    EXPECT_EQ(ValueOf(HKEY_CURRENT_USER, "Software\\Beta", ""), std::nullopt);
    EXPECT_EQ(ValueOf(HKEY_CURRENT_USER, "Software\\Beta", "Keep"), "k");

    EXPECT_TRUE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Acme", 2));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Acme"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Acme\\Tool\\Deep\\Deeper"));
    EXPECT_FALSE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Acme", 2));
    EXPECT_TRUE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\Gamma\\", 2));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Gamma"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Beta"));
}

TEST_F(RegistryOpTest, ServiceKeysGoInEveryControlSet) {
    for (const char* set : {"ControlSet001", "ControlSet002", "CurrentControlSet"}) {
        FSystem.Key(std::string("System\\") + set + "\\Services\\AcmeSvc")
            .String("ImagePath", "C:\\acmesvc.exe");
        FSystem.Key(std::string("System\\") + set + "\\Services\\AcmeSvc\\Parameters").String("P", "p");
        FSystem.Key(std::string("System\\") + set + "\\Services\\Keep").String("ImagePath", "C:\\keep.exe");
    }
    WriteHives();
    EXPECT_FALSE(FOp.DeleteServiceKeys("Missing"));
    EXPECT_TRUE(FOp.DeleteServiceKeys("AcmeSvc"));
    for (const char* set : {"ControlSet001", "ControlSet002", "CurrentControlSet"}) {
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string("System\\") + set + "\\Services\\AcmeSvc"))
            << set;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string("System\\") + set + "\\Services\\Keep")) << set;
    }
    EXPECT_FALSE(FOp.DeleteServiceKeys("AcmeSvc"));
}

TEST_F(RegistryOpTest, ServiceKeysThroughALinkedCurrentControlSet) {
    FSystem.Key("System\\ControlSet001\\Services\\AcmeSvc").String("ImagePath", "C:\\acmesvc.exe");
    FSystem.Key("System\\ControlSet001\\Services\\Keep").String("ImagePath", "C:\\keep.exe");
    FSystem.Key("System\\CurrentControlSet").Link("\\Registry\\Machine\\System\\ControlSet001");
    WriteHives();
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\AcmeSvc"));
    EXPECT_TRUE(FOp.DeleteServiceKeys("AcmeSvc"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "System\\ControlSet001\\Services\\AcmeSvc"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\AcmeSvc"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Keep"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\ControlSet001\\Services\\Keep"));
    EXPECT_FALSE(FOp.DeleteServiceKeys("AcmeSvc"));
}

// ---- Program traces ----

class LeftoverKeys : public RegistryOpTest {
protected:
    void SetUp() override {
        FSystem.Key(Uninstall + "AcmeTool")
            .String("DisplayName", "Acme Tool")
            .String("UninstallString", "x.exe")
            .String("InstallLocation", " C:\\Program Files\\Acme ");
        const std::string arpCache =
            "Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\";
        FSystem.Key(arpCache + "Acme").String("SlowInfoCache", "x");
        FSystem.Key(arpCache + "AcmeTool").String("SlowInfoCache", "y");
        FSystem.Key(arpCache + "AcmeToolX").String("SlowInfoCache", "z");
    }
    void AddAppPathsAndRun() {
        FSystem.Key(AppPaths + "a.exe").String("Path", "C:\\Other");
        FSystem.Key(AppPaths + "b.exe").String("Path", "c:\\program files\\acme");
        FSystem.Key(AppPaths + "c.exe").String("", "C:\\Program Files\\Acme\\c.exe");
        FSystem.Key(AppPaths + "d.exe").String("Path", "C:\\Program Files\\Acme\\bin");
        FSystem.Key(AppPaths + "e.exe").String("Path", "C:\\Program Files\\Acme");
        FSystem.Key(RunPath)
            .String("AcmeTray", "\"C:\\Program Files\\Acme\\tray.exe\" /background")
            .String("Lower", "c:\\program files\\acme\\run.exe")
            .String("Other", "C:\\Other\\x.exe")
            .String("Tools", "C:\\Program Files\\Acme Tools\\run.exe");
    }
    void AddSoftwareKeys() {
        FSystem.Key("Software\\AcmeTool\\Settings").String("A", "a");
        FSystem.Key("Software\\Acme Tool").String("A", "a");
        FSystem.Key("Software\\Vendor\\Acme Tool").String("A", "a");
        FSystem.Key("Software\\Vendor\\Acme Tool 2").String("A", "a");
        FSystem.Key("Software\\Vendor2\\acme tool").String("A", "a");
        FSystem.Key("Software\\Vendor2\\Deeper\\Acme Tool").String("A", "a");
        FUser.Key("Software\\AcmeCorp\\Acme Tool").String("A", "a");
        FUser.Key("Software\\acmetool").String("A", "a");
        FUser.Key(RunPath)
            .String("AcmeUser", "C:\\Program Files\\Acme\\u.exe")
            .String("Beta", "C:\\Beta\\b.exe");
    }
};

TEST_F(LeftoverKeys, FindsEveryKindOfTraceInOrder) {
    AddAppPathsAndRun();
    AddSoftwareKeys();
    WriteHives();
    TStringList items;
    EXPECT_EQ(FOp.GetLeftoverKeys("Acme Tool", items), 9);
    EXPECT_EQ(items,
              (TStringList{
                  "2HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
                  "Management\\ARPCache\\AcmeTool",
                  "2HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\d.exe",
                  "3HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\AcmeTray",
                  "3HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Tools",
                  "2HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme Tool",
                  "2HKEY_LOCAL_MACHINE\\SOFTWARE\\AcmeTool",
                  "2HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Acme Tool",
                  "2HKEY_CURRENT_USER\\SOFTWARE\\AcmeCorp\\Acme Tool",
                  "3HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\AcmeUser",
              }))
        << items.Text();
}

TEST_F(LeftoverKeys, WithoutAppPathsTheMachineRunValuesAreNotSearched) {
    FSystem.Key(RunPath).String("AcmeTray", "C:\\Program Files\\Acme\\tray.exe");
    AddSoftwareKeys();
    WriteHives();
    TStringList items;
    FOp.GetLeftoverKeys("Acme Tool", items);
    for (const std::string& item : items)
        EXPECT_EQ(item.find("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  std::string::npos);
    EXPECT_EQ(
        items.IndexOf("3HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\AcmeUser"),
        items.Count() - 1);
}

TEST_F(LeftoverKeys, EntryWithoutLocationOrWithoutEntry) {
    FSystem.Key(Uninstall + "Bare").String("DisplayName", "Bare Tool").String("UninstallString", "x.exe");
    FSystem.Key("Software\\Bare").String("A", "a");
    AddAppPathsAndRun();
    AddSoftwareKeys();
    WriteHives();
    TStringList items{"stale"};
    EXPECT_EQ(FOp.GetLeftoverKeys("Bare Tool", items), 1);
    EXPECT_EQ(items, (TStringList{"2HKEY_LOCAL_MACHINE\\SOFTWARE\\Bare"}));
    EXPECT_EQ(FOp.GetLeftoverKeys("No Such Tool", items), 0);
    EXPECT_EQ(FOp.GetLeftoverKeys("acme tool", items), 0);
}

// Every program's start-up and App Paths values contain a drive root or Program Files: an entry that names
// one as its install location must not take them.
TEST_F(LeftoverKeys, SharedInstallLocationTakesNoOtherProgramsValues) {
    AddAppPathsAndRun();
    AddSoftwareKeys();
    // Other programs' start-up values that hold a shared folder in quotes.
    FSystem.Key(RunPath)
        .String("Quoted", "\"C:\\Program Files\" /start")
        .String("QuotedWindows", "\"C:\\windows\\\" /q");
    // Quotes and trailing backslashes do not make a shared folder another one.
    for (const char* location : {"C:\\", "C:\\Program Files", "c:\\program files\\", "C:\\windows",
                                 "C:\\Program Files\"", "\"C:\\Program Files\"", "C:\\windows\\\"",
                                 "\"C:\\windows\\\"", "\"C:\\\"", "C:\\Program Files\\\\"}) {
        FSystem.Key(Uninstall + "AcmeTool").String("InstallLocation", location);
        WriteHives();
        TStringList items;
        FOp.GetLeftoverKeys("Acme Tool", items);
        for (const std::string& item : items) {
            EXPECT_EQ(item.find("\\Run\\"), std::string::npos) << location << ": " << item;
            EXPECT_EQ(item.find("\\App Paths\\"), std::string::npos) << location << ": " << item;
        }
        EXPECT_EQ(items.Count(), 5) << location;
    }
}

TEST_F(LeftoverKeys, NonStringRunValueRaises) {
    AddAppPathsAndRun();
    FSystem.Key(RunPath).Dword("Number", 1);
    WriteHives();
    TStringList items;
    EXPECT_THROW(FOp.GetLeftoverKeys("Acme Tool", items), platform::ERegistryException);
}

// ---- A hostile registry ----

TEST_F(RegistryOpTest, HostileEntryNamesNoSharedKeyThatIsThenDeleted) {
    FSystem.Key(Uninstall + "Microsoft")
        .String("DisplayName", "Classes")
        .String("UninstallString", "x.exe")
        .String("InstallLocation", "C:\\Hostile");
    Entry(FSystem, "Other", "Other Tool");
    FSystem.Key("Software\\Classes\\.acme").String("", "AcmeFile");
    FSystem.Key("Software\\Wow6432Node\\Classes").Link("\\Registry\\Machine\\Software\\Classes\\Wow6432Node");
    FSystem.Key("Software\\Classes\\Wow6432Node\\CLSID").String("A", "a");
    FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\h.exe")
        .String("Path", "C:\\Hostile");
    FSystem.Key(RunPath).String("Hostile", "C:\\Hostile\\h.exe");
    FSystem.Key("System\\CurrentControlSet\\Services\\AcmeSvc").String("ImagePath", "C:\\acmesvc.exe");
    FUser.Key("Software\\Classes\\.acme").String("", "AcmeFile");
    WriteHives();

    TStringList items;
    FOp.GetLeftoverKeys("Classes", items);
    EXPECT_NE(items.IndexOf("2HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft"), -1) << items.Text();
    EXPECT_NE(items.IndexOf("2HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"), -1) << items.Text();
    EXPECT_NE(items.IndexOf("2HKEY_CURRENT_USER\\SOFTWARE\\Classes"), -1) << items.Text();

    const std::string system = ReadText(FMachine.Prefix() / "system.reg");
    const std::string user = ReadText(FMachine.Prefix() / "user.reg");
    std::set<std::string> allowed = {
        "2HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\h.exe",
        "3HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Hostile"};
    for (const std::string& item : items) {
        bool deleted = FOp.DeleteRegItem(item.substr(1), static_cast<uint16_t>(item[0] - '0'));
        EXPECT_EQ(deleted, allowed.count(item) == 1) << item;
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\.acme"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\Wow6432Node\\CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\.acme"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Uninstall + "Other"));
    EXPECT_EQ(ReadText(FMachine.Prefix() / "user.reg"), user);
    ExpectOnlyRemoved(system, ReadText(FMachine.Prefix() / "system.reg"),
                      {"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\h.exe"},
                      {"\"Hostile\"=\"C:\\\\Hostile\\\\h.exe\""});

    // The entry itself is the program's own and goes.
    EXPECT_TRUE(FOp.DeleteUninstallKey("Classes"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Uninstall + "Other"));
}

TEST_F(RegistryOpTest, HostileDeletionsOfRootsSharedKeysAndServicesAreRefused) {
    Entry(FSystem, "AcmeTool", "Acme Tool");
    FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acme.exe")
        .String("Path", "C:\\Acme");
    FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\Acme")
        .String("A", "a");
    FSystem.Key(RunPath).String("", "default").String("A", "a");
    FSystem.Key("Software\\Wine\\Drives").String("c:", "hd");
    FSystem.Key("Software\\Classes\\.acme").String("", "AcmeFile");
    FSystem.Key("System\\CurrentControlSet\\Services\\AcmeSvc").String("ImagePath", "C:\\acmesvc.exe");
    FSystem.Key("System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Acme").String("A", "a");
    FSystem.Key("System\\ControlSet001\\Services\\AcmeSvc").String("ImagePath", "C:\\acmesvc.exe");
    FUser.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        .String("AppData", "C:\\x");
    FUser.Key("Environment").String("TEMP", "C:\\temp");
    WriteHives();
    const std::string system = ReadText(FMachine.Prefix() / "system.reg");
    const std::string user = ReadText(FMachine.Prefix() / "user.reg");

    for (const char* key : {
             "HKEY_LOCAL_MACHINE\\",
             "HKEY_LOCAL_MACHINE\\Software",
             "HKEY_LOCAL_MACHINE\\SOFTWARE\\",
             "HKEY_LOCAL_MACHINE\\Software\\Microsoft",
             "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
             "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
             "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache",
             "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
             "HKEY_LOCAL_MACHINE\\Software\\\\Wine",
             "HKEY_LOCAL_MACHINE\\Software\\Classes",
             "HKEY_CLASSES_ROOT\\.acme",
             "HKEY_CLASSES_ROOT\\",
             "HKEY_LOCAL_MACHINE\\System",
             "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet",
             "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services",
             "HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Services",
             "HKEY_CURRENT_CONFIG\\Software",
             "HKLM\\Software",
             "HKEY_CURRENT_USER\\Environment",
             "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
             "HKEY_USERS\\S-1-5-21-0-0-0-1000",
             "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Microsoft",
             "HKEY_LOCAL_MACHINE",
             "",
         })
        EXPECT_FALSE(FOp.DeleteRegItem(key, TURegistryOp::KindRegistryKey)) << key;
    // A value straight on a root, or a path without a root, is no program's item either.
    for (const char* value : {"HKEY_LOCAL_MACHINE\\Software", "HKEY_CURRENT_USER\\", "Environment"})
        EXPECT_FALSE(FOp.DeleteRegItem(value, TURegistryOp::KindRegistryValue)) << value;
    for (const char* service : {"", " ", "..", "AcmeSvc\\..", "..\\Services", "AcmeSvc/"})
        EXPECT_FALSE(FOp.DeleteServiceKeys(service)) << "'" << service << "'";

    EXPECT_EQ(ReadText(FMachine.Prefix() / "system.reg"), system);
    EXPECT_EQ(ReadText(FMachine.Prefix() / "user.reg"), user);
}

// ---- The registry of a real Wine prefix ----

class RealPrefix : public RegistryOpTest {
protected:
    void SetUp() override { FMachine.UseFixtureRegistry("win64"); }
};

TEST_F(RealPrefix, ReadsTheFabricatedPrograms) {
    TStringList names;
    FOp.ListInstalledNames(names);
    for (const char* name : {"Acme Tool 2.1", "Odd key name", "Beta Widget (per-user)"})
        EXPECT_NE(names.IndexOf(name), -1) << name;

    EXPECT_EQ(FOp.FindUninstallKey("Odd key name"),
              LmUninstall + "Acme Tool [x86] /slash/ \"quoted\" M\xc3\xbcller=\xc3\x9f");
    EXPECT_EQ(FOp.FindUninstallKey("Beta Widget (per-user)"),
              CuUninstall + "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}");

    TUNINSTALL_DES des = FOp.GetUninstallDes("Acme Tool 2.1", 0);
    EXPECT_EQ(des.KeyName, "AcmeTool");
    EXPECT_EQ(des.InstallDate, "Jan 15,2008");
    EXPECT_EQ(des.DisplayVersion, "2.1.0");
    EXPECT_EQ(des.Publisher, "M\xc3\xbcller Caf\xc3\xa9 GmbH");
    EXPECT_EQ(des.InstallLocation, "C:\\Program Files\\AcmeCorp\\AcmeTool");
    EXPECT_EQ(des.UninstallString, "\"C:\\Program Files\\AcmeCorp\\AcmeTool\\uninst.exe\" /S");

    AddOwnIcon();
    TStringList row;
    EXPECT_EQ(FOp.GetSoftwareRow("Acme Tool 2.1", FSmall, FLarge, row), 4);
    EXPECT_EQ(row[1], "Jan 15,2008");
    EXPECT_EQ(row[3], "1");
    // The per-user entry's date is a number: it reads as no date.
    ASSERT_EQ(FOp.GetSoftwareRow("Beta Widget (per-user)", FSmall, FLarge, row), 4);
    EXPECT_EQ(row[1], "");
    EXPECT_EQ(FOp.GetShellFolder("AppData"), "C:\\users\\root\\AppData\\Roaming");

    TStringList items;
    EXPECT_EQ(FOp.GetLeftoverKeys("Acme Tool 2.1", items), 2);
    EXPECT_EQ(
        items,
        (TStringList{"2HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acme.exe",
                     "3HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\AcmeTray"}));
}

TEST_F(RealPrefix, RemovalDeletesOnlyTheProgramsKeysAndValues) {
    const std::string system = ReadText(FMachine.Prefix() / "system.reg");
    const std::string user = ReadText(FMachine.Prefix() / "user.reg");

    TStringList items;
    FOp.GetLeftoverKeys("Acme Tool 2.1", items);
    for (const std::string& item : items)
        EXPECT_TRUE(FOp.DeleteRegItem(item.substr(1), static_cast<uint16_t>(item[0] - '0'))) << item;
    EXPECT_TRUE(FOp.DeleteUninstallKey("Acme Tool 2.1"));
    EXPECT_TRUE(FOp.DeleteUninstallKey("Odd key name"));
    EXPECT_TRUE(FOp.DeleteServiceKeys("AcmeSvc"));
    EXPECT_TRUE(FOp.DeleteRegItem("HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\AcmeTool", 2));
    EXPECT_TRUE(FOp.DeleteRegItem("HKEY_CURRENT_USER\\Software\\AcmeCorp\\AcmeTool\\LastRun", 3));
    EXPECT_TRUE(FOp.DeleteRegItem(
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\BetaWidgetUpdater", 3));
    // The per-user entry with a numeric date still gives its traces.
    EXPECT_NO_THROW(FOp.GetLeftoverKeys("Beta Widget (per-user)", items));
    EXPECT_TRUE(FOp.DeleteUninstallKey("Beta Widget (per-user)"));

    // A fresh reader parses both files again and sees what is left.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\AcmeCorp\\EdgeCases"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\AcmeSvc"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\BITS"));
    TStringList names;
    FOp.ListInstalledNames(names);
    EXPECT_EQ(names.IndexOf("Acme Tool 2.1"), -1);
    EXPECT_EQ(names.IndexOf("Beta Widget (per-user)"), -1);

    const std::string uninstall = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\";
    ExpectOnlyRemoved(
        system, ReadText(FMachine.Prefix() / "system.reg"),
        {uninstall + "AcmeTool", uninstall + "Acme Tool \\[x86\\] /slash/ \"quoted\" M\\xfcller=\\xdf",
         "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\acme.exe",
         "System\\\\CurrentControlSet\\\\Services\\\\AcmeSvc", "Software\\\\AcmeCorp\\\\AcmeTool"},
        {"\"AcmeTray\"=\"\\\"C:\\\\Program Files\\\\AcmeCorp\\\\AcmeTool\\\\acmetray.exe\\\" /background\""});
    ExpectOnlyRemoved(user, ReadText(FMachine.Prefix() / "user.reg"),
                      {uninstall + "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"},
                      {"\"LastRun\"=hex(b):88,77,66,55,44,33,22,11",
                       "\"BetaWidgetUpdater\"=\"\\\"C:"
                       "\\\\users\\\\root\\\\AppData\\\\Local\\\\BetaWidget\\\\update.exe\\\" "
                       "-silent\""});
}

} // namespace
