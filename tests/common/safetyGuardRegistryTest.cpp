#include "common/safetyGuard.h"

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

class RegistryKeyGuard : public ::testing::TestWithParam<TKeyCase> {};

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

TEST(ServiceGuard, RefusesNamesThatAreNoServiceKeyOfTheirOwn) {
    for (const char* name : {"", " ", "\t", "\\", "Acme\\Svc", "..\\Services", "Acme/Svc", ".", ".."})
        EXPECT_FALSE(safetyGuard::MayRemoveService(name)) << "'" << name << "'";
    for (const char* name : {"AcmeSvc", "Acme Service", "acme.svc", "{3F2504E0}"})
        EXPECT_TRUE(safetyGuard::MayRemoveService(name)) << name;
}

} // namespace
