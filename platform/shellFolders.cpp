#include "platform/shellFolders.h"

#include "platform/fileSystem.h"
#include "platform/registry.h"
#include "platform/stringList.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"

#include <exception>
#include <utility>

namespace platform {

namespace {

constexpr const char* UserShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr const char* ShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* CurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

enum class TFolderOwner { User, Common, Fixed };

// Where a special folder is recorded, and where Wine puts it when nothing records it.
struct TFolderDefinition {
    int Csidl;
    TFolderOwner Owner;
    const char* ValueName;
    const char* DefaultPath;
};

// CSIDL -1 marks a known folder that has no CSIDL number but is just as special.
constexpr TFolderDefinition FolderDefinitions[] = {
    {CSIDL_DESKTOP, TFolderOwner::User, "Desktop", "%USERPROFILE%\\Desktop"},
    {CSIDL_DESKTOPDIRECTORY, TFolderOwner::User, "Desktop", "%USERPROFILE%\\Desktop"},
    {CSIDL_PROGRAMS, TFolderOwner::User, "Programs",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_PERSONAL, TFolderOwner::User, "Personal", "%USERPROFILE%\\Documents"},
    {CSIDL_FAVORITES, TFolderOwner::User, "Favorites", "%USERPROFILE%\\Favorites"},
    {CSIDL_STARTUP, TFolderOwner::User, "StartUp",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {CSIDL_RECENT, TFolderOwner::User, "Recent",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {CSIDL_SENDTO, TFolderOwner::User, "SendTo",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {CSIDL_STARTMENU, TFolderOwner::User, "Start Menu",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_MYMUSIC, TFolderOwner::User, "My Music", "%USERPROFILE%\\Music"},
    {CSIDL_MYVIDEO, TFolderOwner::User, "My Videos", "%USERPROFILE%\\Videos"},
    {CSIDL_MYPICTURES, TFolderOwner::User, "My Pictures", "%USERPROFILE%\\Pictures"},
    {CSIDL_NETHOOD, TFolderOwner::User, "NetHood",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {CSIDL_PRINTHOOD, TFolderOwner::User, "PrintHood",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {CSIDL_FONTS, TFolderOwner::User, "Fonts", "%SystemRoot%\\Fonts"},
    {CSIDL_TEMPLATES, TFolderOwner::User, "Templates",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {CSIDL_APPDATA, TFolderOwner::User, "AppData", "%USERPROFILE%\\AppData\\Roaming"},
    {CSIDL_LOCAL_APPDATA, TFolderOwner::User, "Local AppData", "%USERPROFILE%\\AppData\\Local"},
    {CSIDL_INTERNET_CACHE, TFolderOwner::User, "Cache",
     "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
    {CSIDL_COOKIES, TFolderOwner::User, "Cookies",
     "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
    {CSIDL_HISTORY, TFolderOwner::User, "History",
     "%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\History"},
    {CSIDL_ADMINTOOLS, TFolderOwner::User, "Administrative Tools",
     "%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {-1, TFolderOwner::User, "{374DE290-123F-4565-9164-39C4925E467B}", "%USERPROFILE%\\Downloads"},
    {-1, TFolderOwner::User, "{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}", "%USERPROFILE%\\Saved Games"},
    {-1, TFolderOwner::User, "{56784854-C6CB-462B-8169-88E350ACB882}", "%USERPROFILE%\\Contacts"},
    {-1, TFolderOwner::User, "{7D1D3A04-DEBB-4115-95CF-2F29DA2920DA}", "%USERPROFILE%\\Searches"},
    {-1, TFolderOwner::User, "{A520A1A4-1780-4FF6-BD18-167343C5AF16}", "%USERPROFILE%\\AppData\\LocalLow"},
    {-1, TFolderOwner::User, "{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}", "%USERPROFILE%\\Links"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, TFolderOwner::Common, "Common Desktop", "%PUBLIC%\\Desktop"},
    {CSIDL_COMMON_PROGRAMS, TFolderOwner::Common, "Common Programs",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {CSIDL_COMMON_STARTMENU, TFolderOwner::Common, "Common Start Menu",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu"},
    {CSIDL_COMMON_STARTUP, TFolderOwner::Common, "Common StartUp",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {CSIDL_COMMON_APPDATA, TFolderOwner::Common, "Common AppData", "%ProgramData%"},
    {CSIDL_COMMON_DOCUMENTS, TFolderOwner::Common, "Common Documents", "%PUBLIC%\\Documents"},
    {CSIDL_COMMON_TEMPLATES, TFolderOwner::Common, "Common Templates",
     "%ProgramData%\\Microsoft\\Windows\\Templates"},
    {CSIDL_COMMON_ADMINTOOLS, TFolderOwner::Common, "Common Administrative Tools",
     "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    // Wine keeps the common favorites in the user's profile.
    {CSIDL_COMMON_FAVORITES, TFolderOwner::Common, "Common Favorites", "%USERPROFILE%\\Favorites"},
    {CSIDL_COMMON_MUSIC, TFolderOwner::Common, "CommonMusic", "%PUBLIC%\\Music"},
    {CSIDL_COMMON_PICTURES, TFolderOwner::Common, "CommonPictures", "%PUBLIC%\\Pictures"},
    {CSIDL_COMMON_VIDEO, TFolderOwner::Common, "CommonVideo", "%PUBLIC%\\Videos"},
    {CSIDL_WINDOWS, TFolderOwner::Fixed, nullptr, "%SystemRoot%"},
    {CSIDL_SYSTEM, TFolderOwner::Fixed, nullptr, "%SystemRoot%\\system32"},
    {CSIDL_SYSTEMX86, TFolderOwner::Fixed, nullptr, nullptr},
    {CSIDL_PROFILE, TFolderOwner::Fixed, nullptr, "%USERPROFILE%"},
    {CSIDL_PROGRAM_FILES, TFolderOwner::Fixed, nullptr, "%ProgramFiles%"},
    {CSIDL_PROGRAM_FILESX86, TFolderOwner::Fixed, nullptr, "%ProgramFiles(x86)%"},
    {CSIDL_PROGRAM_FILES_COMMON, TFolderOwner::Fixed, nullptr, "%CommonProgramFiles%"},
    {CSIDL_PROGRAM_FILES_COMMONX86, TFolderOwner::Fixed, nullptr, "%CommonProgramFiles(x86)%"},
};

// The string values of one registry key, read once when first asked (a missing key gives none).
class TValueTable {
public:
    TValueTable(HKEY root, const char* key) : FRoot(root), FKey(key) {}

    // The trimmed text of the first value of that name (case ignored); empty when there is none.
    std::string Find(const std::string& name) const {
        if (!FLoaded)
            Load();
        for (const auto& [valueName, value] : FValues)
            if (SameText(valueName, name))
                return Trim(value);
        return {};
    }

private:
    void Load() const {
        FLoaded = true;
        try {
            TRegistry registry(KEY_READ);
            registry.SetRootKey(FRoot);
            if (!registry.OpenKeyReadOnly(FKey))
                return;
            TStringList names;
            registry.GetValueNames(names);
            for (const auto& name : names) {
                try {
                    FValues.emplace_back(name, registry.ReadString(name));
                } catch (const ERegistryException&) {
                    // A value that is not text records no folder.
                }
            }
        } catch (const std::exception&) {
            FValues.clear();
        }
    }

    HKEY FRoot;
    const char* FKey;
    mutable bool FLoaded = false;
    mutable std::vector<std::pair<std::string, std::string>> FValues;
};

// Everything the folder paths depend on, read from the registry once per request.
class TShellContext {
public:
    TShellContext()
        : FUserShell(HKEY_CURRENT_USER, UserShellFoldersKey), FUserCache(HKEY_CURRENT_USER, ShellFoldersKey),
          FCommonShell(HKEY_LOCAL_MACHINE, UserShellFoldersKey),
          FCommonCache(HKEY_LOCAL_MACHINE, ShellFoldersKey),
          FCurrentVersion(HKEY_LOCAL_MACHINE, CurrentVersionKey) {}

    std::string Expand(const std::string& text) const {
        std::string result;
        size_t position = 0;
        while (position < text.size()) {
            size_t open = text.find('%', position);
            size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
            if (close == std::string::npos) {
                result += text.substr(position);
                break;
            }
            result += text.substr(position, open - position);
            std::string value;
            if (Variable(text.substr(open + 1, close - open - 1), value)) {
                result += value;
                position = close + 1;
            } else {
                // Unknown: kept as written; the closing mark may open the next reference.
                result += text.substr(open, close - open);
                position = close;
            }
        }
        return result;
    }

    std::string FolderPath(const TFolderDefinition& definition) const {
        if (definition.Owner != TFolderOwner::Fixed) {
            bool common = definition.Owner == TFolderOwner::Common;
            for (const TValueTable* table :
                 {common ? &FCommonShell : &FUserShell, common ? &FCommonCache : &FUserCache}) {
                std::string path = Usable(Expand(table->Find(definition.ValueName)));
                if (!path.empty())
                    return path;
            }
        }
        if (definition.Csidl == CSIDL_SYSTEMX86)
            return Is64Bit() ? GetWindowsDirectory() + "\\syswow64" : GetSystemDirectory();
        return Usable(Expand(definition.DefaultPath));
    }

private:
    // A folder path as the shell gives it: full, without a trailing backslash, nothing left unexpanded.
    static std::string Usable(const std::string& path) {
        if (path.size() < 3 || path[1] != ':' || path.find('%') != std::string::npos)
            return {};
        return path.size() > 3 ? ExcludeTrailingBackslash(path) : path;
    }

    std::string Profile() const { return "C:\\users\\" + GetUserName(); }

    bool Is64Bit() const {
        return !FCurrentVersion.Find("ProgramFilesDir (x86)").empty() ||
               DirectoryExists(GetWindowsDirectory() + "\\syswow64");
    }

    std::string Recorded(const char* name, const std::string& fallback) const {
        std::string path = Usable(Expand(FCurrentVersion.Find(name)));
        return path.empty() ? fallback : path;
    }

    bool Variable(const std::string& name, std::string& value) const {
        const std::string windows = GetWindowsDirectory();
        if (SameText(name, "USERPROFILE"))
            value = Profile();
        else if (SameText(name, "PUBLIC"))
            value = "C:\\users\\Public";
        else if (SameText(name, "ProgramData") || SameText(name, "ALLUSERSPROFILE"))
            value = "C:\\ProgramData";
        else if (SameText(name, "SystemRoot") || SameText(name, "windir"))
            value = windows;
        else if (SameText(name, "SystemDrive") || SameText(name, "HOMEDRIVE"))
            value = windows.substr(0, 2);
        else if (SameText(name, "HOMEPATH"))
            value = Profile().substr(2);
        else if (SameText(name, "USERNAME"))
            value = GetUserName();
        else if (SameText(name, "APPDATA"))
            value = Profile() + "\\AppData\\Roaming";
        else if (SameText(name, "LOCALAPPDATA"))
            value = Profile() + "\\AppData\\Local";
        else if (SameText(name, "TEMP") || SameText(name, "TMP"))
            value = Profile() + "\\Temp";
        else if (SameText(name, "ProgramFiles"))
            value = Recorded("ProgramFilesDir", "C:\\Program Files");
        else if (SameText(name, "ProgramFiles(x86)"))
            value = Is64Bit() ? Recorded("ProgramFilesDir (x86)", "C:\\Program Files (x86)")
                              : Recorded("ProgramFilesDir", "C:\\Program Files");
        else if (SameText(name, "CommonProgramFiles"))
            value = Recorded("CommonFilesDir", "C:\\Program Files\\Common Files");
        else if (SameText(name, "CommonProgramFiles(x86)"))
            value = Is64Bit() ? Recorded("CommonFilesDir (x86)", "C:\\Program Files (x86)\\Common Files")
                              : Recorded("CommonFilesDir", "C:\\Program Files\\Common Files");
        else
            return false;
        return true;
    }

    TValueTable FUserShell;
    TValueTable FUserCache;
    TValueTable FCommonShell;
    TValueTable FCommonCache;
    TValueTable FCurrentVersion;
};

} // namespace

std::string GetSpecialFolderPath(int csidl) {
    if (csidl < 0)
        return {};
    for (const auto& definition : FolderDefinitions)
        if (definition.Csidl == csidl)
            return TShellContext().FolderPath(definition);
    return {};
}

std::vector<std::string> AllSpecialFolderPaths() {
    TShellContext context;
    std::vector<std::string> paths;
    for (const auto& definition : FolderDefinitions) {
        std::string path = context.FolderPath(definition);
        if (!path.empty())
            paths.push_back(path);
    }
    // Folders that hold special folders without being one, and Wine's layout whatever the registry says.
    for (const char* fixed :
         {"C:\\users", "C:\\users\\Public", "C:\\ProgramData", "%SystemRoot%\\temp", "%SystemRoot%\\syswow64",
          "C:\\Program Files", "C:\\Program Files (x86)", "C:\\Program Files\\Common Files",
          "C:\\Program Files (x86)\\Common Files", "%USERPROFILE%\\Temp"})
        paths.push_back(context.Expand(fixed));
    return paths;
}

std::string ExpandEnvironmentStrings(const std::string& text) {
    return TShellContext().Expand(text);
}

} // namespace platform
