#include "common/safetyGuard.h"
#include "platform/processes.h"
#include "platform/winePath.h"
#include "support/tempMachine.h"

#include <gtest/gtest.h>
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
             "C:\\users\\tester\\Desktop\\Acme Folder",
             "C:\\windows\\Acme",
             "C:\\Program Files\\Never There",
             "C:\\Program Files\\ToAcme",
         })
        EXPECT_TRUE(safetyGuard::MayDeleteFolder(folder)) << folder;
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
