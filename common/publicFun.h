#pragma once

#include "platform/dateTime.h"
#include "platform/iniFile.h"
#include "platform/stringList.h"

#include <cstdint>
#include <string>

// The system's common functions: the settings file and the machine's services that both programs use.

// ---- Settings file ----

// Section and key names of "Settings.ini", with the defaults a reader uses.
inline constexpr const char* SettingsFileName = "Settings.ini";
inline constexpr const char* SectionSettings = "Settings";
inline constexpr const char* SectionUpdateInformation = "Update Information";
inline constexpr const char* KeyViewStyle = "View Style";
inline constexpr const char* KeyHiddenRightTips = "Hidden RightTips";
inline constexpr const char* KeyHiddenProcess = "Hidden Process";
inline constexpr const char* KeyAutoUpdate = "Auto Update";
inline constexpr const char* KeyDeleteUpdate = "Delete Update";
inline constexpr const char* KeyWindowsStartup = "Windows Startup";
inline constexpr const char* KeyStartupMinimize = "Startup Minimize";
inline constexpr const char* KeyLastTime = "Last Time";
inline constexpr const char* KeyInstallDay = "Install Day";
inline constexpr int DefaultViewStyle = 2;
inline constexpr int DefaultDeleteUpdate = 1;
// The form of "Last Time" and of the date that "Install Day" scrambles.
inline constexpr const char* LastTimeFormat = "yyyy-mm-dd hh:nn:ss";
inline constexpr const char* InstallDayFormat = "yyyy-mm-dd";

// Creates FileName, or empties it, and writes the eleven lines of the default settings, CR LF after each.
// Throws platform::EInOutError when the file cannot be created or written.
void WriteDefaultSettings(const std::string& fileName);
// The settings file FileName, opened; when no file exists there, the default settings are written first
// (an existing file is left as it is). Throws as WriteDefaultSettings does.
platform::TIniFile OpenSettingsFile(const std::string& fileName);
// Each character XOR-ed with the Install Day key byte of its position; applying it twice gives S back.
std::string XorScramble(const std::string& s);
// Two upper-case hexadecimal digits per character.
std::string StrToHex(const std::string& s);
// The characters whose codes the hexadecimal digits give, in pairs; other characters are passed over and a
// lone digit forms a character alone.
std::string HexToStr(const std::string& hex);
std::string EncodeSettingText(const std::string& s);
std::string DecodeSettingText(const std::string& s);

// ---- System services ----

// GetSpecialFolder's index: 1 to 21 select these folders, every other value selects the History folder.
enum SpecialFolderIndex {
    sfiCommonPrograms = 1,
    sfiStartMenu = 2,
    sfiCommonStartMenu = 3,
    sfiCommonStartup = 4,
    sfiDesktop = 5,
    sfiPrograms = 6,
    sfiPersonal = 7,
    sfiFavorites = 8,
    sfiStartup = 9,
    sfiRecent = 10,
    sfiSendTo = 11,
    sfiDesktopDirectory = 12,
    sfiNetHood = 13,
    sfiFonts = 14,
    sfiTemplates = 15,
    sfiCommonDesktopDirectory = 16,
    sfiAppData = 17,
    sfiPrintHood = 18,
    sfiCommonFavorites = 19,
    sfiInternetCache = 20,
    sfiCookies = 21,
};
// The CSIDL number that an index selects.
int SpecialFolderCsidl(int index);
// The file-system path of the selected special folder, without a trailing backslash, or empty.
void GetSpecialFolder(int index, std::string& path);

// True when Folder holds no entry (hidden and system ones count), also when it does not exist.
bool IsFolderEmpty(const std::string& folder);
// Deletes Folder with everything in it, depth first, read-only, hidden and system files too; links inside
// are removed as links and never entered (platform::DeleteTree). A folder that the safety guard refuses is
// left as it is. True when Folder no longer exists afterwards.
bool DeleteFolderTree(const std::string& folder);

// The removal's file deletions, each behind its guard: a database item of kind 1 (its attributes set to
// normal first), a shell entry found by name in a special folder, and a menu-folder entry as a tree. False
// when the guard refuses or the deletion fails.
bool DeleteItemFile(const std::string& file);
bool DeleteShellEntryFile(const std::string& entry);
bool DeleteShellEntryTree(const std::string& entry);

// The process match rule: the file-name part of ExeFile (after the last "\" or ":"), or all of it, equals
// ExeName with ASCII letters compared in capitals.
bool ProcessMatches(const std::string& exeFile, const std::string& exeName);
bool IsProcessRunning(const std::string& exeName);
// Ends every matching process that the safety guard lets go, pausing one second after each match.
void KillProcessByName(const std::string& exeName);

// Stops and deletes a service: 1 when it was opened (the stop and the deletion were asked for), -1 when the
// service manager cannot be opened with full access, -2 when the service cannot be opened.
int RemoveService(const std::string& serviceName);

// A file time as a date-time value, moved to local time first when ToLocal is 1; 0 for a file time beyond
// the calendar.
platform::TDateTime FileTimeToDateTime(platform::TFileTime fileTime, uint16_t toLocal);
// Which 1: creation, 2: last write, 3: last access time, as stored (UTC); today's date at 00:00 for any
// other Which or when the times cannot be read. A file that cannot be opened shows "Can not open file!".
platform::TDateTime GetFileDate(const std::string& fileName, int which);
// The "FileVersion" text of the file's version resource in its first translation, or empty.
void GetFileVersion(const std::string& fileName, std::string& version);

std::string GetWindowsDir();
std::string GetSystemDir();

// List holds the pieces of S between the delimiters: empty ones too, except after a last delimiter.
void SplitString(const std::string& s, char delimiter, platform::TStringList& list);
