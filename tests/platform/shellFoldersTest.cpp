#include "platform/shellFolders.h"

#include "support/hiveBuilder.h"
#include "support/tempMachine.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct TFolderCase {
    int Csidl;
    const char* Path;
};

void ExpectFolders(std::initializer_list<TFolderCase> cases) {
    for (const auto& item : cases)
        EXPECT_EQ(platform::GetSpecialFolderPath(item.Csidl), item.Path) << "CSIDL " << item.Csidl;
}

TEST(ShellFolders, RealWin64HivesExpandedForTheCurrentUser) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    // The fixture's cached "Shell Folders" name the user root; the current user is tester.
    ExpectFolders({
        {platform::CSIDL_DESKTOP, "C:\\users\\tester\\Desktop"},
        {platform::CSIDL_DESKTOPDIRECTORY, "C:\\users\\tester\\Desktop"},
        {platform::CSIDL_PROGRAMS,
         "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {platform::CSIDL_STARTUP,
         "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {platform::CSIDL_STARTMENU, "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {platform::CSIDL_PERSONAL, "C:\\users\\tester\\Documents"},
        {platform::CSIDL_LOCAL_APPDATA, "C:\\users\\tester\\AppData\\Local"},
        {platform::CSIDL_INTERNET_CACHE, "C:\\users\\tester\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
        {platform::CSIDL_HISTORY, "C:\\users\\tester\\AppData\\Local\\Microsoft\\Windows\\History"},
        {platform::CSIDL_FONTS, "C:\\windows\\Fonts"},
        {platform::CSIDL_COMMON_DESKTOPDIRECTORY, "C:\\users\\Public\\Desktop"},
        {platform::CSIDL_COMMON_PROGRAMS, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
        {platform::CSIDL_COMMON_STARTUP,
         "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {platform::CSIDL_COMMON_FAVORITES, "C:\\users\\tester\\Favorites"},
        {platform::CSIDL_COMMON_APPDATA, "C:\\ProgramData"},
        {platform::CSIDL_WINDOWS, "C:\\windows"},
        {platform::CSIDL_SYSTEM, "C:\\windows\\system32"},
        {platform::CSIDL_SYSTEMX86, "C:\\windows\\syswow64"},
        {platform::CSIDL_PROFILE, "C:\\users\\tester"},
        {platform::CSIDL_PROGRAM_FILES, "C:\\Program Files"},
        {platform::CSIDL_PROGRAM_FILESX86, "C:\\Program Files (x86)"},
        {platform::CSIDL_PROGRAM_FILES_COMMONX86, "C:\\Program Files (x86)\\Common Files"},
        // No folder: a virtual one and numbers that name nothing.
        {0x03, ""},
        {0x99, ""},
        {-1, ""},
    });

    setenv("USER", "bob", 1);
    ExpectFolders(
        {{platform::CSIDL_DESKTOP, "C:\\users\\bob\\Desktop"}, {platform::CSIDL_PROFILE, "C:\\users\\bob"}});
}

TEST(ShellFolders, Win32HivesHaveNo32BitFolders) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win32");
    ExpectFolders({
        {platform::CSIDL_PROGRAM_FILESX86, "C:\\Program Files"},
        {platform::CSIDL_PROGRAM_FILES_COMMONX86, "C:\\Program Files\\Common Files"},
        {platform::CSIDL_SYSTEMX86, "C:\\windows\\system32"},
        {platform::CSIDL_COMMON_STARTMENU, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
    });
}

TEST(ShellFolders, CachedShellFoldersThenWinesLayout) {
    TTempMachine machine;
    // Without any registry: Wine's default layout.
    ExpectFolders({
        {platform::CSIDL_DESKTOP, "C:\\users\\tester\\Desktop"},
        {platform::CSIDL_COOKIES, "C:\\users\\tester\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
        {platform::CSIDL_COMMON_STARTMENU, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
        {platform::CSIDL_COMMON_FAVORITES, "C:\\users\\tester\\Favorites"},
        {platform::CSIDL_PROGRAM_FILES_COMMON, "C:\\Program Files\\Common Files"},
    });

    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    THiveBuilder user(THiveBuilder::User);
    user.Key(explorer + "User Shell Folders")
        .ExpandString("Desktop", "%USERPROFILE%\\My Desk\\")
        .ExpandString("Personal", "%NOSUCHVARIABLE%\\Documents")
        .Dword("Favorites", 7)
        .ExpandString("Recent", "  ");
    user.Key(explorer + "Shell Folders")
        .String("Desktop", "D:\\ignored")
        .String("Personal", "D:\\Cached Documents")
        .String("Favorites", "D:\\Cached Favorites")
        .String("Recent", "relative\\recent");
    machine.WriteRegistryFile("user.reg", user.Text());
    THiveBuilder system(THiveBuilder::System);
    system.Key(explorer + "Shell Folders").String("Common Desktop", "E:\\All Desk");
    system.Key("Software\\Microsoft\\Windows\\CurrentVersion").String("ProgramFilesDir", "D:\\Apps");
    machine.WriteRegistryFile("system.reg", system.Text());
    ExpectFolders({
        {platform::CSIDL_DESKTOP, "C:\\users\\tester\\My Desk"},
        // An unexpandable or non-text value falls back to the cached path.
        {platform::CSIDL_PERSONAL, "D:\\Cached Documents"},
        {platform::CSIDL_FAVORITES, "D:\\Cached Favorites"},
        // A path that is no full path is no folder: the default layout.
        {platform::CSIDL_RECENT, "C:\\users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
        {platform::CSIDL_COMMON_DESKTOPDIRECTORY, "E:\\All Desk"},
        {platform::CSIDL_COMMON_DOCUMENTS, "C:\\users\\Public\\Documents"},
        {platform::CSIDL_PROGRAM_FILES, "D:\\Apps"},
    });
}

TEST(ShellFolders, ExpandEnvironmentStrings) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    struct {
        const char* Text;
        const char* Expanded;
    } cases[] = {
        {"%USERPROFILE%\\Desktop", "C:\\users\\tester\\Desktop"},
        {"%userprofile%", "C:\\users\\tester"},
        {"%SystemRoot%\\system32\\svchost.exe -k netsvcs", "C:\\windows\\system32\\svchost.exe -k netsvcs"},
        {"%windir%|%SystemDrive%|%HOMEPATH%|%USERNAME%", "C:\\windows|C:|\\users\\tester|tester"},
        {"%APPDATA%;%LOCALAPPDATA%;%TEMP%",
         "C:\\users\\tester\\AppData\\Roaming;C:\\users\\tester\\AppData\\Local;C:\\users\\tester\\Temp"},
        {"%ProgramData%|%ALLUSERSPROFILE%|%PUBLIC%", "C:\\ProgramData|C:\\ProgramData|C:\\users\\Public"},
        {"%ProgramFiles%|%ProgramFiles(x86)%|%CommonProgramFiles%",
         "C:\\Program Files|C:\\Program Files (x86)|C:\\Program Files\\Common Files"},
        {"%NOPE%\\%USERPROFILE%", "%NOPE%\\C:\\users\\tester"},
        {"100% sure", "100% sure"},
        {"%%", "%%"},
        {"", ""},
    };
    for (const auto& item : cases)
        EXPECT_EQ(platform::ExpandEnvironmentStrings(item.Text), item.Expanded) << item.Text;
}

TEST(ShellFolders, AllSpecialFoldersHoldTheKnownFoldersAndTheProfile) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    auto all = platform::AllSpecialFolderPaths();
    for (const char* expected :
         {"C:\\users", "C:\\users\\tester", "C:\\users\\Public", "C:\\ProgramData",
          "C:\\users\\tester\\Downloads", "C:\\users\\tester\\AppData\\LocalLow", "C:\\users\\tester\\Links",
          "C:\\users\\tester\\Music", "C:\\windows\\syswow64", "C:\\Program Files\\Common Files",
          "C:\\users\\Public\\Videos"})
        EXPECT_NE(std::find(all.begin(), all.end(), expected), all.end()) << expected;
}

} // namespace
