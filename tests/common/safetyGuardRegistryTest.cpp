#include "common/opUninstallRegistry.h"
#include "common/safetyGuard.h"
#include "platform/registry.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct TKeyCase {
    const char* Path;
    bool Allowed;
};

void PrintTo(const TKeyCase& c, std::ostream* out) {
    *out << c.Path;
}

// The guard also looks at what a path resolves to: an empty prefix of the test's own resolves nothing.
class RegistryKeyGuard : public ::testing::TestWithParam<TKeyCase> {
protected:
    TTempMachine FMachine;
};

TEST_P(RegistryKeyGuard, RefusesSharedKeysButNotWhatLiesBelowThem) {
    EXPECT_EQ(safetyGuard::MayDeleteRegistryKey(GetParam().Path), GetParam().Allowed);
}

// clang-format off
const TKeyCase KeyCases[] = {
    // Malformed paths and roots.
    {"", false}, {"\\", false}, {"Software\\Acme\\Tool", false}, {"\\Software\\Acme", false},
    {"HKEY_LOCAL_MACHINE", false}, {"HKEY_LOCAL_MACHINE\\", false}, {"HKEY_CURRENT_USER\\\\", false},
    {"HKEY_USERS", false}, {"HKEY_CLASSES_ROOT", false}, {"HKEY_CURRENT_CONFIG", false}, {"HKLM", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Acme\\..", false}, {"HKEY_LOCAL_MACHINE\\Software\\.\\Acme", false},
    // One level below a root.
    {"HKEY_LOCAL_MACHINE\\SOFTWARE", false}, {"HKEY_LOCAL_MACHINE\\System", false},
    {"HKEY_CURRENT_USER\\Software", false}, {"HKEY_CURRENT_USER\\Environment", false},
    {"HKEY_CURRENT_USER\\Control Panel\\", false}, {"HKEY_CLASSES_ROOT\\CLSID", false},
    {"HKEY_CLASSES_ROOT\\.txt", false}, {"HKEY_USERS\\S-1-5-21-0-0-0-1000", false},
    {"HKEY_USERS\\.Default", false}, {"HKEY_CURRENT_CONFIG\\Software", false},
    // Shared keys, with separators and case of every kind.
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes", false}, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft", false},
    {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\", false}, {"hkey_local_machine\\software\\MICROSOFT", false},
    {"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\Windows", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Management", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache", false},
    {"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer", false},
    {"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false},
    {"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wine", false}, {"HKEY_CURRENT_USER\\Software\\Wine", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Policies", false}, {"HKEY_LOCAL_MACHINE\\Software\\Clients", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths", false},
    {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet", false}, {"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001", false},
    {"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services", false},
    {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\", false},
    {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control", false},
    // The same keys through the other roots and aliases.
    {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software", false},
    {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", false},
    {"HKEY_USERS\\.Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false},
    {"HKEY_CLASSES_ROOT\\Software\\Microsoft", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\CLSID", false},
    {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current", false},
    {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software", false},
    {"HKEY_CURRENT_CONFIG\\Software\\Microsoft", false},
    // A program's own keys, also below the shared ones.
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp", true}, {"HKEY_CURRENT_USER\\Software\\AcmeCorp\\AcmeTool", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AcmeTool", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\acme.exe", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\AcmeTool",
     true},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Microsoft", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Acme", true}, {"HKEY_LOCAL_MACHINE\\Software\\Wine\\Acme", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\AcmeCorp", true},
    {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\AcmeSvc", true},
    {"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\AcmeSvc", true},
    {"HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSetX\\Services", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{3F2504E0-4F89-11D3-9A0C-0305E82C3301}", true},
    {"HKEY_CLASSES_ROOT\\AcmeTool.Document\\shell", true},
    {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\AcmeCorp", true},
    {"HKEY_CURRENT_CONFIG\\Software\\AcmeCorp", true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Keys, RegistryKeyGuard, ::testing::ValuesIn(KeyCases));

// A 64-bit registry with the 32-bit classes, Wine's link of the 32-bit view to them, and links that a
// hostile program made to shared keys.
class ResolvedKeyGuard : public ::testing::TestWithParam<TKeyCase> {
protected:
    void SetUp() override {
        THiveBuilder system(THiveBuilder::System);
        system.Key("Software\\Classes\\Wow6432Node\\CLSID\\{0000031A-0000-0000-C000-000000000046}")
            .String("", "ClassMoniker");
        system.Key("Software\\Classes\\Wow6432Node\\Interface\\{00000000}").String("", "IUnknown");
        system.Key("Software\\Classes\\CLSID\\{AC0E}").String("", "Acme");
        system.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Run").String("Acme", "acme.exe");
        system.Key("Software\\Wow6432Node\\Classes")
            .Link("\\Registry\\Machine\\Software\\Classes\\Wow6432Node");
        system.Key("Software\\AcmeCorp\\Tool").String("x", "y");
        system.Key("Software\\AcmeCorp\\ToVersion")
            .Link("\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion");
        system.Key("Software\\AcmeCorp\\ToClasses").Link("\\Registry\\Machine\\Software\\Classes");
        system.Key("Software\\AcmeCorp\\ToUsers").Link("\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software");
        FMachine.WriteRegistryFile("system.reg", system.Text());
        THiveBuilder user(THiveBuilder::User);
        user.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Run").String("Acme", "acme.exe");
        user.Key("Software\\AcmeCorp").String("x", "y");
        FMachine.WriteRegistryFile("user.reg", user.Text());
    }
    TTempMachine FMachine;
};

TEST_P(ResolvedKeyGuard, JudgesTheKeyThatAPathNames) {
    EXPECT_EQ(safetyGuard::MayDeleteRegistryKey(GetParam().Path), GetParam().Allowed);
}

// clang-format off
const TKeyCase ResolvedCases[] = {
    // Every 32-bit class registration, in each spelling.
    {"HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID", false}, {"hkcr\\WOW6432NODE\\clsid\\", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\CLSID", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\CLSID", false},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\Interface", false},
    {"HKEY_CLASSES_ROOT\\Wow6432Node", false},
    {"HKEY_CLASSES_ROOT\\Wow6432Node\\Wow6432Node\\CLSID", false},
    // Shared keys behind a program's link keys.
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToVersion", false},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToVersion\\Run", false},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToVersion\\Uninstall", false},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToClasses\\CLSID", false},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToUsers\\Microsoft", false},
    {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", false},
    // The programs' own keys stay deletable however they are spelled.
    {"HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{0000031A-0000-0000-C000-000000000046}", true},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Classes\\CLSID\\{0000031A-0000-0000-C000-000000000046}", true},
    {"HKEY_CLASSES_ROOT\\CLSID\\{AC0E}", true},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\Tool", true},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToVersion\\AcmeTool", true},
    {"HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToUsers\\AcmeCorp", true},
    {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\AcmeCorp", true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Keys, ResolvedKeyGuard, ::testing::ValuesIn(ResolvedCases));

TEST_F(ResolvedKeyGuard, ARemovalLeavesThe32BitClassesAndTheSharedKeysBehindLinks) {
    TURegistryOp registry;
    EXPECT_FALSE(registry.DeleteRegItem("HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID", 2));
    EXPECT_FALSE(registry.DeleteRegItem("HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\ToVersion\\Run", 2));
    platform::TRegistry check(platform::KEY_READ);
    check.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(
        check.KeyExists("\\Software\\Classes\\Wow6432Node\\CLSID\\{0000031A-0000-0000-C000-000000000046}"));
    EXPECT_TRUE(check.KeyExists("\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    EXPECT_TRUE(registry.DeleteRegItem("HKEY_LOCAL_MACHINE\\Software\\AcmeCorp\\Tool", 2));
    EXPECT_FALSE(check.KeyExists("\\Software\\AcmeCorp\\Tool"));
}

TEST(ServiceGuard, RefusesNamesThatAreNoServiceKeyOfTheirOwn) {
    for (const char* name : {"", " ", "\t", "\\", "Acme\\Svc", "..\\Services", "Acme/Svc", ".", ".."})
        EXPECT_FALSE(safetyGuard::MayRemoveService(name)) << "'" << name << "'";
    for (const char* name : {"AcmeSvc", "Acme Service", "acme.svc", "{3F2504E0}"})
        EXPECT_TRUE(safetyGuard::MayRemoveService(name)) << name;
}

} // namespace
