#pragma once

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
// Each character XOR-ed with the Install Day key byte of its position; applying it twice gives S back.
std::string XorScramble(const std::string& s);
// Two upper-case hexadecimal digits per character.
std::string StrToHex(const std::string& s);
// The characters whose codes the hexadecimal digits give, in pairs; other characters are passed over and a
// lone digit forms a character alone.
std::string HexToStr(const std::string& hex);
std::string EncodeSettingText(const std::string& s);
std::string DecodeSettingText(const std::string& s);
