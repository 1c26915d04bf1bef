#include "platform/registry.h"

#include "platform/wineHive.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"
#include "testData.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace platform;

namespace {

const std::string Uninstall = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ReadHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const TStringList& list) {
    return list.Lines();
}

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { FMachine.UseFixtureRegistry("win64"); }

    // The hive as a fresh reader sees it on disk.
    std::unique_ptr<THive> OnDisk(const char* name) {
        return THive::Parse(ReadHostFile(FMachine.Prefix() / name));
    }

    TTempMachine FMachine;
};

TEST_F(RegistryTest, ReadsTheFixturesKeysUnderEveryRoot) {
    struct TCase {
        HKEY Root;
        std::string Key, Name, Expected;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "DisplayName", "Acme Tool 2.1"},
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "Publisher", "M\u00fcller Caf\u00e9 GmbH"},
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "NonBmp", "emoji[\U0001F600] euro[\u20ac] cjk[\u4e2d]"},
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "", "default value of AcmeTool key"},
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "InstallDate", "20080115"},
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "UninstallString",
         "\"C:\\Program Files\\AcmeCorp\\AcmeTool\\uninst.exe\" /S"},
        {HKEY_LOCAL_MACHINE, Uninstall + "AcmeTool", "ModifyPath",
         "%ProgramFiles%\\AcmeCorp\\AcmeTool\\setup.exe /modify"},
        {HKEY_LOCAL_MACHINE, Uninstall + "Acme Tool [x86] /slash/ \"quoted\" M\u00fcller=\u00df",
         "DisplayName", "Odd key name"},
        {HKEY_LOCAL_MACHINE, Uninstall + "mixedcasekey", "mixedcasevalue",
         "case test 2 (same key, same value?)"},
        {HKEY_LOCAL_MACHINE,
         "\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme32Helper",
         "DisplayName", "Acme 32-bit Helper"},
        {HKEY_LOCAL_MACHINE, "\\System\\CurrentControlSet\\Services\\AcmeSvc", "ImagePath",
         "\"%ProgramFiles%\\AcmeCorp\\AcmeTool\\acmesvc.exe\" -service"},
        // Through link keys: as the last component and on the way.
        {HKEY_LOCAL_MACHINE,
         "\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acme.exe", "Path",
         "C:\\Program Files\\AcmeCorp\\AcmeTool"},
        {HKEY_LOCAL_MACHINE,
         "\\Software\\Wow6432Node\\Classes\\CLSID\\{0000002F-0000-0000-C000-000000000046}", "",
         "CLSID_RecordInfo"},
        {HKEY_CURRENT_USER, Uninstall + "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", "UninstallString",
         "MsiExec.exe /X{3F2504E0-4F89-11D3-9A0C-0305E82C3301}"},
        {HKEY_CLASSES_ROOT, "\\.acme", "", "AcmeTool.Document"},
        {HKEY_CURRENT_CONFIG, "\\Software\\AcmeCorp", "CurrentConfigValue", "hkcc"},
        {HKEY_USERS,
         "\\S-1-5-21-0-0-0-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
         "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}",
         "DisplayName", "Beta Widget (per-user)"},
        {HKEY_USERS, "\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
         "Desktop", "C:\\users\\root\\Desktop"},
    };
    for (const TCase& c : cases) {
        TRegistry registry(KEY_READ);
        registry.SetRootKey(c.Root);
        ASSERT_TRUE(registry.OpenKey(c.Key, false)) << c.Key;
        EXPECT_TRUE(registry.ValueExists(c.Name)) << c.Key << " " << c.Name;
        EXPECT_EQ(registry.ReadString(c.Name), c.Expected) << c.Key << " " << c.Name;
    }
    // HKCU's classes are not merged into HKCR (as in Wine).
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_CLASSES_ROOT);
    EXPECT_FALSE(registry.KeyExists("\\.acmeuser"));
    registry.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_TRUE(registry.KeyExists("\\Software\\Classes\\.acmeuser"));
}

TEST_F(RegistryTest, ReadStringReadsTextTypesAndRefusesTheOthers) {
    struct TCase {
        std::string Key, Name;
        bool Throws;
        std::string Expected;
    } cases[] = {
        {"EdgeCases", "SzEmbeddedNul", false, "A"},
        {"EdgeCases", "SzOddLength", false, "A"},
        {"EdgeCases", "SzNoTerminator", false, "AB"},
        {"EdgeCases", "SzZeroBytes", false, ""},
        {"EdgeCases", "SzOnlyNul", false, ""},
        {"EdgeCases", "SzControlChars", false, "l\n\r\x01\x1f\x7f\a\b\f\v"},
        {"EdgeCases", "SzHexDigitAfterEscape", false, "\u00e9a1"},
        {"EdgeCases", "ExpandNoTerminator", false, "%A%"},
        {"EdgeCases", "Missing", false, ""},
        {"TypeTest", "BinaryEmpty", false, ""}, // no data: empty without a type check
        {"TypeTest", "ExpandSz", false, "%SystemRoot%\\system32\\acme.dll"},
        {"TypeTest", "value \"WITH\" quotes\\and\\backslashes=eq", false, "odd value name"},
        {"TypeTest", "Binary", true, ""},
        {"TypeTest", "Dword", true, ""},
        {"TypeTest", "Qword", true, ""},
        {"TypeTest", "MultiSz", true, ""},
        {"TypeTest", "None", true, ""},
        {"EdgeCases", "", true, ""},
        {"EdgeCases", "Link", true, ""},
        {"EdgeCases", "UnknownType", true, ""},
    };
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    for (const TCase& c : cases) {
        ASSERT_TRUE(registry.OpenKeyReadOnly("\\Software\\AcmeCorp\\" + c.Key));
        if (c.Throws) {
            try {
                registry.ReadString(c.Name);
                ADD_FAILURE() << c.Name << " did not throw";
            } catch (const ERegistryException& error) {
                EXPECT_EQ(std::string(error.what()), "Invalid data type for '" + c.Name + "'");
            }
        } else {
            EXPECT_EQ(registry.ReadString(c.Name), c.Expected) << c.Name;
        }
    }
    ASSERT_TRUE(registry.OpenKeyReadOnly("\\Software\\AcmeCorp\\TypeTest"));
    EXPECT_EQ(registry.GetDataType("dword"), static_cast<int>(REG_DWORD));
    EXPECT_EQ(registry.GetDataType("ExpandSz"), static_cast<int>(REG_EXPAND_SZ));
    EXPECT_EQ(registry.GetDataType("Missing"), -1);
    registry.CloseKey();
    EXPECT_EQ(registry.ReadString("ExpandSz"), "");
    EXPECT_FALSE(registry.ValueExists("ExpandSz"));
}

TEST_F(RegistryTest, TheReadsOfAnOpenKeyFollowItsPathAfterTheKeyWasReplaced) {
    const std::string fresh = "\\Software\\AcmeCorp\\Fresh";
    TRegistry other;
    other.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(other.OpenKey(fresh, true));
    other.WriteString("V", "first");
    TRegistry open(KEY_READ);
    open.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(open.OpenKey(fresh, false));
    ASSERT_EQ(open.ReadString("V"), "first");

    // Deleted and made anew by another accessor: the open key reads the new one, as its path names it.
    ASSERT_TRUE(other.DeleteKey(fresh));
    EXPECT_EQ(open.ReadString("V"), "");
    ASSERT_TRUE(other.OpenKey(fresh, true));
    other.WriteString("V", "second");
    EXPECT_EQ(open.ReadString("V"), "second");
    TStringList names;
    open.GetValueNames(names);
    EXPECT_EQ(Lines(names), std::vector<std::string>{"V"});
}

TEST_F(RegistryTest, EnumeratesInFileOrder) {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("Software\\AcmeCorp\\EdgeCases", false));
    TStringList names;
    registry.GetKeyNames(names);
    EXPECT_EQ(Lines(names), (std::vector<std::string>{"_underscore", "alpha", "Child", "Child10",
                                                      "child2Lower", "Child9", "Zeta", "\u00c9mile"}));
    registry.GetValueNames(names);
    ASSERT_EQ(names.Count(), 20);
    EXPECT_EQ(names[0], "");
    EXPECT_EQ(names[1], "DwordBigEndian");
    EXPECT_EQ(names[19], "UnknownType");

    registry.SetRootKey(HKEY_USERS);
    ASSERT_TRUE(registry.OpenKey("", false));
    registry.GetKeyNames(names);
    EXPECT_EQ(Lines(names), (std::vector<std::string>{".Default", "S-1-5-21-0-0-0-1000"}));
    registry.CloseKey();
    registry.GetKeyNames(names);
    EXPECT_TRUE(names.Empty());
}

TEST_F(RegistryTest, PathsAreRelativeToTheOpenKeyUnlessTheyStartWithABackslash) {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("\\SOFTWARE\\acmecorp", false));
    EXPECT_EQ(registry.CurrentPath(), "SOFTWARE\\acmecorp");
    EXPECT_TRUE(registry.KeyExists("AcmeTool\\Settings"));
    EXPECT_FALSE(registry.KeyExists("Software\\AcmeCorp"));
    EXPECT_TRUE(registry.KeyExists("\\Software\\AcmeCorp"));
    ASSERT_TRUE(registry.OpenKey("AcmeTool", false));
    EXPECT_EQ(registry.CurrentPath(), "SOFTWARE\\acmecorp\\AcmeTool");
    EXPECT_EQ(registry.ReadString("version"), "2.1.0");
    // A failed open leaves the open key as it was.
    EXPECT_FALSE(registry.OpenKey("NoSuchKey", false));
    EXPECT_TRUE(registry.HasCurrentKey());
    EXPECT_EQ(registry.ReadString("Version"), "2.1.0");
    ASSERT_TRUE(registry.OpenKey("\\Software\\AcmeCorp\\EdgeCases\\\u00e9MILE", false));
    registry.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_FALSE(registry.HasCurrentKey());
    EXPECT_TRUE(registry.OpenKeyReadOnly("Software\\AcmeCorp\\AcmeTool"));
    EXPECT_EQ(registry.Access(), KEY_READ);
    EXPECT_EQ(registry.GetDataType("LastRun"), static_cast<int>(REG_QWORD));
}

TEST_F(RegistryTest, WritesStringsAndCreatesKeys) {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("\\Software\\AcmeCorp\\AcmeTool", false));
    registry.WriteString("Version", "3.0 \u4e2d");
    registry.WriteString("Added", "M\u00fcller");
    EXPECT_EQ(registry.ReadString("version"), "3.0 \u4e2d");

    ASSERT_TRUE(registry.OpenKey("\\Software\\Korvane\\Fresh\\Leaf", true));
    registry.WriteString("", "default");
    ASSERT_TRUE(registry.OpenKey("\\Software\\Korvane\\Empty", true));

    auto disk = OnDisk("system.reg");
    EXPECT_TRUE(disk->Complete()) << disk->Problem();
    THiveKey* tool = disk->Root().FindChild("Software")->FindChild("AcmeCorp")->FindChild("AcmeTool");
    EXPECT_EQ(Utf16LeToUtf8(tool->FindValue("Version")->Data()), std::string("3.0 \u4e2d") + '\0');
    EXPECT_EQ(tool->FindValue("Added")->Type(), REG_SZ);
    THiveKey* korvane = disk->Root().FindChild("Software")->FindChild("Korvane");
    ASSERT_NE(korvane, nullptr);
    EXPECT_NE(korvane->FindChild("Fresh")->FindChild("Leaf")->FindValue(""), nullptr);
    EXPECT_NE(korvane->FindChild("Empty"), nullptr);
    std::string text = ReadHostFile(FMachine.Prefix() / "system.reg");
    EXPECT_NE(text.find("\n[Software\\\\Korvane\\\\Empty] "), std::string::npos);
    EXPECT_EQ(text.find("[Software\\\\Korvane]"), std::string::npos);
    EXPECT_NE(text.find("\"Added\"=\"M\\xfcller\"\n\"Path\""), std::string::npos)
        << "sorted among the values";
}

TEST_F(RegistryTest, WriteStringFailsWithoutAKeyOpenForWriting) {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    auto expectFailure = [&](const char* what) {
        try {
            registry.WriteString("Name", "x");
            ADD_FAILURE() << what;
        } catch (const ERegistryException& error) {
            EXPECT_EQ(std::string(error.what()), "Failed to set data for 'Name'") << what;
        }
    };
    expectFailure("no key open");
    ASSERT_TRUE(registry.OpenKeyReadOnly("\\Software\\AcmeCorp\\AcmeTool"));
    expectFailure("opened read-only");
    EXPECT_FALSE(registry.DeleteValue("Version"));
    EXPECT_EQ(ReadHostFile(FMachine.Prefix() / "system.reg"),
              ReadHostFile(std::filesystem::path(KORVANE_TEST_DATA_DIR) / "wine-prefix/win64/system.reg"));
}

TEST_F(RegistryTest, DeletesKeysRecursivelyAndValues) {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(registry.DeleteKey("\\Software\\AcmeCorp\\EdgeCases"));
    EXPECT_FALSE(registry.KeyExists("\\Software\\AcmeCorp\\EdgeCases\\Child"));
    EXPECT_FALSE(registry.DeleteKey("\\Software\\AcmeCorp\\EdgeCases"));
    EXPECT_FALSE(registry.DeleteKey(""));
    EXPECT_FALSE(registry.DeleteKey("\\"));

    ASSERT_TRUE(registry.OpenKey(Uninstall + "AcmeTool", false));
    EXPECT_TRUE(registry.DeleteValue(""));
    EXPECT_TRUE(registry.DeleteValue("publisher"));
    EXPECT_FALSE(registry.DeleteValue("publisher"));
    EXPECT_FALSE(registry.ValueExists(""));
    EXPECT_TRUE(registry.ValueExists("DisplayName"));

    registry.SetRootKey(HKEY_USERS);
    EXPECT_FALSE(registry.DeleteKey("\\S-1-5-21-0-0-0-1000"));
    EXPECT_TRUE(registry.DeleteKey("\\S-1-5-21-0-0-0-1000\\Software\\AcmeCorp"));
    registry.SetRootKey(HKEY_CURRENT_USER);
    EXPECT_FALSE(registry.KeyExists("\\Software\\AcmeCorp"));

    auto disk = OnDisk("system.reg");
    EXPECT_TRUE(disk->Complete());
    EXPECT_EQ(disk->Root().FindChild("Software")->FindChild("AcmeCorp")->FindChild("EdgeCases"), nullptr);
    EXPECT_NE(disk->Root().FindChild("Software")->FindChild("AcmeCorp")->FindChild("TypeTest"), nullptr);
}

TEST_F(RegistryTest, DeletingALinkKeyDeletesTheLinkNotItsTarget) {
    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    const std::string link = "\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    ASSERT_TRUE(registry.KeyExists(link + "\\acme.exe"));
    EXPECT_TRUE(registry.DeleteKey(link));
    EXPECT_FALSE(registry.KeyExists(link));
    EXPECT_TRUE(registry.KeyExists("\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acme.exe"));
    // Deleting a key below a link deletes it in the target.
    EXPECT_TRUE(registry.DeleteKey(
        "\\Software\\Wow6432Node\\Classes\\CLSID\\{0000002F-0000-0000-C000-000000000046}"));
    EXPECT_FALSE(registry.KeyExists(
        "\\Software\\Classes\\Wow6432Node\\CLSID\\{0000002F-0000-0000-C000-000000000046}"));
    EXPECT_TRUE(registry.KeyExists("\\Software\\Wow6432Node\\Classes"));
}

TEST(RegistryWin32, FollowsTheTimeZonesLink) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win32");
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\Time Zones\\UTC", false));
    EXPECT_EQ(registry.ReadString("Display"), "(UTC) Coordinated Universal Time");
    EXPECT_FALSE(registry.KeyExists("\\Software\\Wow6432Node\\Classes"));
}

TEST(RegistryLinks, FollowsLinksBetweenHivesAndStopsAtLoops) {
    TTempMachine machine;
    THiveBuilder system(THiveBuilder::System);
    system.Key("Software\\ToUser").Link("\\REGISTRY\\USER\\S-1-5-21-0-0-0-1000\\Software\\Target");
    system.Key("Software\\Loop").Link("\\Registry\\Machine\\Software\\Loop");
    system.Key("Software\\Nowhere").Link("\\Registry\\Elsewhere\\X");
    machine.WriteRegistryFile("system.reg", system.Text());
    THiveBuilder user(THiveBuilder::User);
    user.Key("Software\\Target\\Sub").String("V", "from user.reg");
    machine.WriteRegistryFile("user.reg", user.Text());

    TRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey("\\Software\\ToUser\\Sub", false));
    EXPECT_EQ(registry.ReadString("V"), "from user.reg");
    registry.WriteString("W", "written through the link");
    EXPECT_NE(ReadHostFile(machine.Prefix() / "user.reg").find("\"W\"=\"written through the link\""),
              std::string::npos);
    EXPECT_FALSE(registry.KeyExists("\\Software\\Loop\\X"));
    EXPECT_FALSE(registry.OpenKey("\\Software\\Loop\\X", true));
    EXPECT_FALSE(registry.KeyExists("\\Software\\Nowhere"));
    EXPECT_TRUE(registry.DeleteKey("\\Software\\Loop"));
}

} // namespace
