#pragma once

#include <string>
#include <vector>

namespace platform {

// The shell's special folders by their CSIDL numbers.
inline constexpr int CSIDL_DESKTOP = 0x00;
inline constexpr int CSIDL_PROGRAMS = 0x02;
inline constexpr int CSIDL_PERSONAL = 0x05;
inline constexpr int CSIDL_FAVORITES = 0x06;
inline constexpr int CSIDL_STARTUP = 0x07;
inline constexpr int CSIDL_RECENT = 0x08;
inline constexpr int CSIDL_SENDTO = 0x09;
inline constexpr int CSIDL_STARTMENU = 0x0B;
inline constexpr int CSIDL_MYMUSIC = 0x0D;
inline constexpr int CSIDL_MYVIDEO = 0x0E;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 0x10;
inline constexpr int CSIDL_NETHOOD = 0x13;
inline constexpr int CSIDL_FONTS = 0x14;
inline constexpr int CSIDL_TEMPLATES = 0x15;
inline constexpr int CSIDL_COMMON_STARTMENU = 0x16;
inline constexpr int CSIDL_COMMON_PROGRAMS = 0x17;
inline constexpr int CSIDL_COMMON_STARTUP = 0x18;
inline constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 0x19;
inline constexpr int CSIDL_APPDATA = 0x1A;
inline constexpr int CSIDL_PRINTHOOD = 0x1B;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x1C;
inline constexpr int CSIDL_COMMON_FAVORITES = 0x1F;
inline constexpr int CSIDL_INTERNET_CACHE = 0x20;
inline constexpr int CSIDL_COOKIES = 0x21;
inline constexpr int CSIDL_HISTORY = 0x22;
inline constexpr int CSIDL_COMMON_APPDATA = 0x23;
inline constexpr int CSIDL_WINDOWS = 0x24;
inline constexpr int CSIDL_SYSTEM = 0x25;
inline constexpr int CSIDL_PROGRAM_FILES = 0x26;
inline constexpr int CSIDL_MYPICTURES = 0x27;
inline constexpr int CSIDL_PROFILE = 0x28;
inline constexpr int CSIDL_SYSTEMX86 = 0x29;
inline constexpr int CSIDL_PROGRAM_FILESX86 = 0x2A;
inline constexpr int CSIDL_PROGRAM_FILES_COMMON = 0x2B;
inline constexpr int CSIDL_PROGRAM_FILES_COMMONX86 = 0x2C;
inline constexpr int CSIDL_COMMON_TEMPLATES = 0x2D;
inline constexpr int CSIDL_COMMON_DOCUMENTS = 0x2E;
inline constexpr int CSIDL_COMMON_ADMINTOOLS = 0x2F;
inline constexpr int CSIDL_ADMINTOOLS = 0x30;
inline constexpr int CSIDL_COMMON_MUSIC = 0x35;
inline constexpr int CSIDL_COMMON_PICTURES = 0x36;
inline constexpr int CSIDL_COMMON_VIDEO = 0x37;

// SHGetSpecialFolderLocation with SHGetPathFromIDList in one: the file-system path of a special folder,
// without a trailing backslash, or empty for a CSIDL that names no folder. The user's folders come from the
// prefix's HKCU "User Shell Folders", the common ones from HKLM's, expanded with the current user's profile;
// else from "Shell Folders"; else Wine's default layout. The folder need not exist.
std::string GetSpecialFolderPath(int csidl);

// Every folder the shell treats as special, for the safety checks: all the CSIDL folders above, the user's
// known folders without a CSIDL (Downloads, Saved Games, Contacts, Searches, LocalLow, Links), the users
// folder, the user's profile, Public, ProgramData and the temporary folders.
std::vector<std::string> AllSpecialFolderPaths();

// ExpandEnvironmentStrings over the prefix's profile of the current user: %USERPROFILE% (C:\users\<user>),
// %PUBLIC%, %ProgramData% / %ALLUSERSPROFILE%, %SystemRoot% / %windir%, %SystemDrive%, %APPDATA%,
// %LOCALAPPDATA%, %TEMP% / %TMP%, %USERNAME%, %HOMEDRIVE%, %HOMEPATH%, %ProgramFiles%,
// %ProgramFiles(x86)%, %CommonProgramFiles%, %CommonProgramFiles(x86)%; names without regard to case. An
// unknown reference is kept as it stands, as the platform does.
std::string ExpandEnvironmentStrings(const std::string& text);

} // namespace platform
