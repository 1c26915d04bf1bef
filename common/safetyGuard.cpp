#include "common/safetyGuard.h"

#include <vector>

namespace safetyGuard {

bool MayDeleteFolder(const std::string& folder) {
    // Filled in with the folder rules.
    return !folder.empty();
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
        return IsSharedInAnyView(below(2));
    if (StartsWith(parts, {"software", "wow6432node", "classes"}))
        return IsSharedInAnyView(below(3));
    if (parts.size() >= 4 && parts[0] == "system" && IsControlSet(parts[1]) &&
        parts[2] == "hardware profiles" && parts[3] == "current")
        return IsSharedInAnyView(below(4));
    return false;
}

} // namespace

bool MayDeleteRegistryKey(const std::string& fullKeyPath) {
    // Empty components (doubled, leading or trailing backslashes) name nothing; "." and ".." are refused
    // outright, so that no layer below can read them as a step up.
    TKeyParts parts;
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
    if (parts.empty())
        return false;
    TRegistryRoot root = RegistryRootNamed(parts[0]);
    if (root == TRegistryRoot::Unknown)
        return false;
    TKeyParts key(parts.begin() + 1, parts.end());
    if (IsSharedInAnyView(key))
        return false;
    // Below HKEY_USERS each user's key is a root of its own.
    if (root == TRegistryRoot::Users && IsSharedInAnyView(TKeyParts(key.begin() + 1, key.end())))
        return false;
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
    // Filled in with the shell entry rules.
    return !entryName.empty();
}

bool MayEndProcess(uint32_t processId, const std::string& exeFile) {
    // Filled in with the process rules.
    return processId != 0 && !exeFile.empty();
}

} // namespace safetyGuard
