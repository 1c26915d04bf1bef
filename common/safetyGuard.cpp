#include "common/safetyGuard.h"

#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/shellFolders.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

namespace safetyGuard {

namespace {

// ---- Folders, shell entries and processes ----

// A full Windows path in the form in which two spellings of one folder compare equal: "X:" and the
// components in capitals, '\' between them, "." and ".." resolved without climbing above the drive, no
// trailing backslash. Empty for anything that is not a full path on a drive.
std::string ComparableFolder(const std::string& path) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return {};
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(platform::UpperCase(part));
        }
        part.clear();
    };
    for (size_t i = 2; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == '/')
            flush();
        else
            part += path[i];
    }
    flush();
    std::string result = platform::UpperCase(path.substr(0, 2));
    for (const auto& name : parts)
        result += "\\" + name;
    return result;
}

bool IsSameOrHolds(const std::string& folder, const std::string& other) {
    return other == folder || (other.size() > folder.size() && other.compare(0, folder.size(), folder) == 0 &&
                               other[folder.size()] == '\\');
}

bool IsSameOrHolds(const std::filesystem::path& folder, const std::filesystem::path& other) {
    auto f = folder.lexically_normal();
    auto o = other.lexically_normal();
    if (!f.empty() && f.filename().empty())
        f = f.parent_path();
    auto [folderEnd, otherEnd] = std::mismatch(f.begin(), f.end(), o.begin(), o.end());
    return folderEnd == f.end();
}

std::filesystem::path RealFolder(const std::filesystem::path& path) {
    std::error_code error;
    auto real = std::filesystem::weakly_canonical(path, error);
    return error ? path : real;
}

// The Windows folders that nothing may delete, nor any folder that holds them.
std::vector<std::string> ProtectedFolders() {
    std::vector<std::string> folders = platform::AllSpecialFolderPaths();
    folders.push_back(platform::GetWindowsDirectory());
    folders.push_back(platform::GetSystemDirectory());
    // The running program's own folder: removing it would take the program and its databases along.
    folders.push_back(platform::ExtractFilePath(platform::GetModuleFileName()));
    return folders;
}

// Whether a real location on Linux must stay: "/" and the folders right below it (/usr, /etc, /home...),
// the home folder, the prefix, or a folder that holds one of them.
bool IsProtectedLocation(const std::filesystem::path& real) {
    auto normal = real.lexically_normal();
    if (normal.filename().empty())
        normal = normal.parent_path();
    if (normal == normal.root_path() || normal.parent_path() == normal.root_path())
        return true;
    for (const auto& kept : {platform::HomeFolder(), platform::PrefixFolder()}) {
        if (kept.empty())
            continue;
        if (IsSameOrHolds(normal, kept) || IsSameOrHolds(normal, RealFolder(kept)))
            return true;
    }
    return false;
}

// The file-name part of a process's program-file text, and the folder before it.
void SplitProgramText(const std::string& exeFile, std::string& folder, std::string& name) {
    size_t separator = exeFile.find_last_of("\\/:");
    name = separator == std::string::npos ? exeFile : exeFile.substr(separator + 1);
    folder = separator == std::string::npos ? std::string() : exeFile.substr(0, separator + 1);
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* candidate : names)
        if (platform::SameText(name, candidate))
            return true;
    return false;
}

// Wine's own programs: ending one takes the prefix's services, devices or desktop down.
bool IsWineSystemProcess(const std::string& exeFile) {
    std::string folder;
    std::string name;
    SplitProgramText(exeFile, folder, name);
    if (platform::FindText(name, "wineserver") == 0 ||
        IsOneOf(name, {"wine", "wine64", "wine-preloader", "wine64-preloader"}))
        return true;
    if (!IsOneOf(name, {"services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe",
                        "explorer.exe", "wineboot.exe", "start.exe", "conhost.exe", "winedbg.exe",
                        "winemenubuilder.exe", "wineconsole.exe", "csrss.exe", "winlogon.exe", "lsass.exe",
                        "smss.exe"}))
        return false;
    if (folder.empty())
        return true;
    const std::string windows = ComparableFolder(platform::GetWindowsDirectory());
    const std::string place = ComparableFolder(folder);
    return place == windows || place == ComparableFolder(platform::GetSystemDirectory()) ||
           place == windows + "\\SYSWOW64";
}

// Native programs of the machine itself (a shell, the init system, a desktop) are nobody's leftovers.
bool IsMachineProgram(const std::string& exeFile) {
    auto real = platform::RealLocation(exeFile);
    if (!real)
        return false;
    for (const char* system :
         {"/usr", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/etc", "/boot"})
        if (IsSameOrHolds(std::filesystem::path(system), *real))
            return true;
    return false;
}

bool IsAncestorOfThisProcess(uint32_t processId) {
    uint32_t current = platform::GetCurrentProcessId();
    // The chain is short; the bound only guards against a cycle seen while processes come and go.
    for (int depth = 0; depth < 256 && current > 1; ++depth) {
        current = platform::GetParentProcessId(current);
        if (current == processId)
            return true;
    }
    return false;
}

} // namespace

namespace {

// Where the directory entry that a deletion removes lies: the real place of its folder (every link
// followed) and its name. A last component that is a link is the link itself, as a deletion removes only
// the link. Nullopt when not even its folder exists (nothing there can be deleted).
std::optional<std::filesystem::path> RealEntry(const std::string& path) {
    auto resolved = platform::ResolvePath(path);
    if (!resolved)
        return std::nullopt;
    auto normal = resolved->lexically_normal();
    if (normal.filename().empty())
        normal = normal.parent_path();
    if (normal == normal.root_path())
        return normal;
    std::error_code error;
    auto folder = std::filesystem::canonical(normal.parent_path(), error);
    if (error)
        return std::nullopt;
    return folder / normal.filename();
}

// Whether a real location lies inside the real C: drive (below its root, never the root itself).
bool IsInsideDriveC(const std::filesystem::path& real) {
    const std::filesystem::path driveC = platform::DriveFolder('C');
    if (driveC.empty())
        return false;
    std::error_code error;
    const auto realDrive = std::filesystem::canonical(driveC, error);
    return !error && real.lexically_normal() != realDrive && IsSameOrHolds(realDrive, real);
}

bool IsStrictlyInside(const std::filesystem::path& folder, const std::filesystem::path& other) {
    return IsSameOrHolds(folder, other) && other.lexically_normal() != folder.lexically_normal();
}

// The special folder that directly holds Path (its Windows spelling), or empty.
std::string SpecialFolderHolding(const std::string& path) {
    const std::string comparable = ComparableFolder(path);
    const size_t separator = comparable.rfind('\\');
    if (comparable.size() <= 2 || separator == std::string::npos)
        return {};
    const std::string parent = comparable.substr(0, separator);
    for (const auto& special : platform::AllSpecialFolderPaths())
        if (!special.empty() && ComparableFolder(special) == parent)
            return special;
    return {};
}

// Shortcuts are the only files that a program leaves in a special folder outside the prefix.
bool IsShortcutName(const std::string& name) {
    for (const char* extension : {".lnk", ".url", ".pif", ".desktop"}) {
        const size_t length = std::strlen(extension);
        if (name.size() > length && platform::SameText(name.substr(name.size() - length), extension))
            return true;
    }
    return false;
}

bool IsProtectedFolderOrHolder(const std::string& target, const std::optional<std::filesystem::path>& real,
                               const std::vector<std::string>& kept) {
    for (const auto& protectedFolder : kept) {
        std::string comparable = ComparableFolder(protectedFolder);
        if (!comparable.empty() && IsSameOrHolds(target, comparable))
            return true;
    }
    if (!real)
        return false;
    if (IsProtectedLocation(*real))
        return true;
    for (const auto& protectedFolder : kept) {
        auto protectedReal = platform::RealLocation(protectedFolder);
        if (protectedReal && IsSameOrHolds(*real, *protectedReal))
            return true;
    }
    return false;
}

} // namespace

bool MayDeleteFolder(const std::string& folder) {
    const std::string target = ComparableFolder(folder);
    // A drive root, or anything that is not a full path (it would be taken from some current folder).
    if (target.size() <= 2)
        return false;
    // The checks on the real place too, so that no link or other spelling leads around them.
    const auto real = platform::RealLocation(folder);
    if (IsProtectedFolderOrHolder(target, real, ProtectedFolders()))
        return false;
    // Outside drive_c lie the person's own files (Z: is "/", the profile's folders are links into the
    // home folder): no folder tree there is any program's.
    const auto entry = RealEntry(folder);
    return !entry || IsInsideDriveC(*entry);
}

bool MayDeleteFile(const std::string& file) {
    const std::string target = ComparableFolder(file);
    if (target.size() <= 2)
        return false;
    const auto entry = RealEntry(file);
    if (!entry)
        return true;
    if (!IsInsideDriveC(*entry))
        return false;
    // The running program's own files (itself, its databases, its settings) are nobody's leftovers.
    const auto ownFolder = platform::RealLocation(platform::ExtractFilePath(platform::GetModuleFileName()));
    return !(ownFolder && IsSameOrHolds(*ownFolder, *entry));
}

bool MayDeleteShellEntryFile(const std::string& entry) {
    const std::string folder = SpecialFolderHolding(entry);
    const std::string name = platform::ExtractFileName(entry);
    if (folder.empty() || !MayDeleteShellEntry(name))
        return false;
    const auto real = RealEntry(entry);
    if (!real)
        return true;
    if (IsInsideDriveC(*real))
        return true;
    // A special folder that Wine links into the home folder: only the entry itself, in that very folder,
    // and only a shortcut (a hostile name such as ".bashrc" on a Desktop that is the home folder stays).
    const auto realFolder = platform::RealLocation(folder);
    return realFolder && real->parent_path() == realFolder->lexically_normal() && IsShortcutName(name);
}

bool MayDeleteShellEntryTree(const std::string& entry) {
    const std::string folder = SpecialFolderHolding(entry);
    if (folder.empty() || !MayDeleteShellEntry(platform::ExtractFileName(entry)))
        return false;
    // Only the menus hold a program's folders of entries (a folder on a Desktop that is the home folder is
    // the person's).
    bool menu = false;
    for (int csidl : {platform::CSIDL_PROGRAMS, platform::CSIDL_COMMON_PROGRAMS, platform::CSIDL_STARTMENU,
                      platform::CSIDL_COMMON_STARTMENU})
        menu = menu || ComparableFolder(platform::GetSpecialFolderPath(csidl)) == ComparableFolder(folder);
    if (!menu)
        return false;
    const auto real = platform::RealLocation(entry);
    if (!real)
        return true;
    const auto realFolder = platform::RealLocation(folder);
    if (!realFolder || !IsStrictlyInside(*realFolder, *real))
        return false;
    // Not a special folder itself (a menu group may not be the Programs folder), nor what holds one.
    if (IsProtectedFolderOrHolder(ComparableFolder(entry), real, ProtectedFolders()))
        return false;
    return true;
}

namespace {

// ---- Registry keys ----

enum class TRegistryRoot { Unknown, Machine, User, Users, Classes, Config };

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

TRegistryRoot RegistryRootNamed(const std::string& lowerName) {
    if (lowerName == "hkey_local_machine" || lowerName == "hklm")
        return TRegistryRoot::Machine;
    if (lowerName == "hkey_current_user" || lowerName == "hkcu")
        return TRegistryRoot::User;
    if (lowerName == "hkey_users" || lowerName == "hku")
        return TRegistryRoot::Users;
    if (lowerName == "hkey_classes_root" || lowerName == "hkcr")
        return TRegistryRoot::Classes;
    if (lowerName == "hkey_current_config" || lowerName == "hkcc")
        return TRegistryRoot::Config;
    return TRegistryRoot::Unknown;
}

using TKeyParts = std::vector<std::string>;

bool StartsWith(const TKeyParts& parts, std::initializer_list<const char*> head) {
    if (parts.size() < head.size())
        return false;
    size_t i = 0;
    for (const char* part : head) {
        if (parts[i++] != part)
            return false;
    }
    return true;
}

bool IsControlSet(const std::string& part) {
    if (part == "currentcontrolset")
        return true;
    const std::string prefix = "controlset";
    return part.size() > prefix.size() && part.compare(0, prefix.size(), prefix) == 0 &&
           part.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

// Whether the key of Parts (lower-case, below a root or a key that acts as one) is one that programs share.
bool IsSharedKey(const TKeyParts& parts) {
    if (parts.size() <= 1)
        return true;
    if (parts[0] == "software") {
        size_t view = 1;
        if (parts[1] == "wow6432node") {
            if (parts.size() == 2)
                return true;
            view = 2;
        }
        const TKeyParts rest(parts.begin() + static_cast<std::ptrdiff_t>(view), parts.end());
        if (rest.size() == 1)
            return rest[0] == "classes" || rest[0] == "microsoft" || rest[0] == "wine" ||
                   rest[0] == "policies" || rest[0] == "clients";
        if (rest[0] != "microsoft")
            return false;
        if (rest.size() == 2)
            return rest[1] == "windows" || rest[1] == "windows nt";
        if (rest.size() == 3)
            return (rest[1] == "windows" || rest[1] == "windows nt") && rest[2] == "currentversion";
        if (rest[1] != "windows" || rest[2] != "currentversion")
            return false;
        if (rest.size() == 4) {
            for (const char* shared : {"uninstall", "run", "runonce", "runonceex", "runservices",
                                       "runservicesonce", "app paths", "app management", "explorer"}) {
                if (rest[3] == shared)
                    return true;
            }
            return false;
        }
        if (rest.size() == 5)
            return (rest[3] == "app management" && rest[4] == "arpcache") ||
                   (rest[3] == "explorer" && (rest[4] == "shell folders" || rest[4] == "user shell folders"));
        return false;
    }
    if (parts[0] == "system" && IsControlSet(parts[1])) {
        if (parts.size() == 2)
            return true;
        if (parts.size() == 3)
            return parts[2] == "services" || parts[2] == "control" || parts[2] == "enum" ||
                   parts[2] == "hardware profiles";
        return parts.size() == 4 && parts[2] == "hardware profiles" && parts[3] == "current";
    }
    return false;
}

bool IsSharedInAnyView(const TKeyParts& parts);

// Whether the key of Parts below a classes key (HKEY_CLASSES_ROOT, Software\Classes, or its 32-bit view
// Software\Classes\Wow6432Node) is shared: the classes' first level (CLSID, file types, the 32-bit view
// itself) is, as is every key shared in a view.
bool IsSharedClassesKey(const TKeyParts& parts) {
    if (parts.size() <= 1)
        return true;
    if (parts[0] == "wow6432node")
        return IsSharedClassesKey(TKeyParts(parts.begin() + 1, parts.end()));
    return IsSharedInAnyView(parts);
}

// Whether Parts, or the same key seen below one of the keys that another root shows (HKEY_CLASSES_ROOT is
// Software\Classes, HKEY_CURRENT_CONFIG a control set's current hardware profile, HKEY_USERS\<sid> a user's
// HKEY_CURRENT_USER), is shared: a key must not escape by being spelled through an alias.
bool IsSharedInAnyView(const TKeyParts& parts) {
    if (IsSharedKey(parts))
        return true;
    auto below = [&parts](size_t count) {
        return TKeyParts(parts.begin() + static_cast<std::ptrdiff_t>(count), parts.end());
    };
    if (StartsWith(parts, {"software", "classes"}))
        return IsSharedClassesKey(below(2));
    if (StartsWith(parts, {"software", "wow6432node", "classes"}))
        return IsSharedClassesKey(below(3));
    if (parts.size() >= 4 && parts[0] == "system" && IsControlSet(parts[1]) &&
        parts[2] == "hardware profiles" && parts[3] == "current")
        return IsSharedInAnyView(below(4));
    return false;
}

// The parts of a key path, lower-case, without empty components; false for "." or "..", which no layer
// below may read as a step up.
bool SplitKey(const std::string& fullKeyPath, TKeyParts& parts) {
    size_t start = 0;
    while (start <= fullKeyPath.size()) {
        size_t end = fullKeyPath.find('\\', start);
        if (end == std::string::npos)
            end = fullKeyPath.size();
        std::string part = AsciiLower(fullKeyPath.substr(start, end - start));
        if (part == "." || part == "..")
            return false;
        if (!part.empty())
            parts.push_back(std::move(part));
        start = end + 1;
    }
    return true;
}

// Whether a key as spelled (root first, lower-case parts) is shared, judged below the root it names.
bool IsSharedSpelling(const TKeyParts& parts) {
    const TRegistryRoot root = RegistryRootNamed(parts[0]);
    TKeyParts key(parts.begin() + 1, parts.end());
    switch (root) {
    case TRegistryRoot::Unknown:
        return true;
    case TRegistryRoot::Classes:
        return IsSharedClassesKey(key);
    case TRegistryRoot::Config:
        return key.empty() || IsSharedInAnyView(key);
    case TRegistryRoot::Users:
        // Below HKEY_USERS each user's key is a root of its own.
        return key.size() <= 1 || IsSharedInAnyView(TKeyParts(key.begin() + 1, key.end()));
    default:
        return IsSharedInAnyView(key);
    }
}

const char* FullRootName(TRegistryRoot root) {
    switch (root) {
    case TRegistryRoot::Machine:
        return "HKEY_LOCAL_MACHINE";
    case TRegistryRoot::User:
        return "HKEY_CURRENT_USER";
    case TRegistryRoot::Users:
        return "HKEY_USERS";
    case TRegistryRoot::Classes:
        return "HKEY_CLASSES_ROOT";
    case TRegistryRoot::Config:
        return "HKEY_CURRENT_CONFIG";
    default:
        return "";
    }
}

} // namespace

bool MayDeleteRegistryKey(const std::string& fullKeyPath) {
    TKeyParts parts;
    if (!SplitKey(fullKeyPath, parts) || parts.empty())
        return false;
    const TRegistryRoot root = RegistryRootNamed(parts[0]);
    if (root == TRegistryRoot::Unknown || IsSharedSpelling(parts))
        return false;
    // The key that the path really is, once the root's alias and the link keys on the way are resolved,
    // both as the deletion would take it (a last link as itself) and as what a last link names.
    const size_t firstSeparator = fullKeyPath.find('\\');
    const std::string spelled =
        std::string(FullRootName(root)) +
        (firstSeparator == std::string::npos ? "" : fullKeyPath.substr(firstSeparator));
    for (bool followLast : {false, true}) {
        const std::string resolved = platform::ResolveKeyPath(spelled, followLast);
        if (resolved.empty())
            continue;
        TKeyParts real;
        if (!SplitKey(resolved, real) || real.empty() || IsSharedSpelling(real))
            return false;
    }
    return true;
}

bool MayRemoveService(const std::string& serviceName) {
    // Windows allows neither kind of slash in a service name; a blank or dotted name would make the key path
    // of the Services key itself or of its parent.
    bool blank = true;
    for (char c : serviceName)
        blank = blank && static_cast<unsigned char>(c) <= ' ';
    return !serviceName.empty() && !blank && serviceName.find_first_of("\\/") == std::string::npos &&
           serviceName != "." && serviceName != "..";
}

bool MayDeleteShellEntry(const std::string& entryName) {
    const std::string name = platform::Trim(entryName);
    if (name.empty() || name.find_first_not_of('.') == std::string::npos)
        return false;
    // Separators and drive marks lead out of the folder; wildcards would match other entries; control
    // characters (a zero above all) would cut the name short.
    for (char c : entryName)
        if (static_cast<unsigned char>(c) < 32 || std::strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    return true;
}

bool MayEndProcess(uint32_t processId, const std::string& exeFile) {
    if (processId <= 1 || platform::Trim(exeFile).empty())
        return false;
    if (processId == platform::GetCurrentProcessId() || IsAncestorOfThisProcess(processId))
        return false;
    std::string folder;
    std::string name;
    SplitProgramText(exeFile, folder, name);
    // Update, beside the program or elsewhere: it may be the one installing the new program right now.
    if (platform::SameText(name, "Update.exe"))
        return false;
    return !IsWineSystemProcess(exeFile) && !IsMachineProgram(exeFile);
}

} // namespace safetyGuard
