#include "platform/registry.h"

#include "platform/wineHive.h"
#include "platform/wineRegistry.h"

#include <utility>
#include <vector>

namespace platform {

// The open key: where it lies and whether it was opened for writing.
class TRegistrySession {
public:
    TKeyLocation Location;
    bool Writable = false;
};

namespace {

constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;

std::string JoinKey(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        if (!path.empty())
            path += '\\';
        path += part;
    }
    return path;
}

} // namespace

std::optional<HKEY> RootKeyOfName(const std::string& name) {
    static const std::pair<const char*, HKEY> Roots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKEY_USERS", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    for (const auto& [rootName, root] : Roots)
        if (name == rootName)
            return root;
    return std::nullopt;
}

TRegistry::TRegistry(uint32_t access) : FAccess(access) {}

TRegistry::~TRegistry() = default;

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    FRootKey = root;
}

void TRegistry::CloseKey() {
    FSession.reset();
    FCurrentPath.clear();
}

bool TRegistry::HasCurrentKey() const {
    return FSession != nullptr;
}

// A path with a leading backslash starts at the root, any other at the open key (the root without one).
static std::vector<std::string> FullPath(const std::string& key, bool hasCurrentKey,
                                         const std::string& current) {
    std::vector<std::string> parts;
    if (hasCurrentKey && (key.empty() || key[0] != '\\'))
        parts = SplitKeyPath(current);
    for (std::string& part : SplitKeyPath(key))
        parts.push_back(std::move(part));
    return parts;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    std::vector<std::string> path = FullPath(key, HasCurrentKey(), FCurrentPath);
    TWineRegistry& store = TWineRegistry::Instance();
    std::optional<TKeyLocation> location = store.Find(FRootKey, path);
    if (!location && canCreate) {
        TKeyLocation created;
        if (store.Create(FRootKey, path, created) != TRegistryStatus::Ok)
            return false;
        location = created;
    }
    if (!location)
        return false;
    bool writable = (FAccess & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
    if (writable && !store.CanWrite(*location))
        return false;
    CloseKey();
    FSession = std::make_unique<TRegistrySession>();
    FSession->Location = std::move(*location);
    FSession->Writable = writable;
    FCurrentPath = JoinKey(path);
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    FAccess = KEY_READ;
    return OpenKey(key, false);
}

bool TRegistry::KeyExists(const std::string& key) {
    return TWineRegistry::Instance().Find(FRootKey, FullPath(key, HasCurrentKey(), FCurrentPath)).has_value();
}

bool TRegistry::ValueExists(const std::string& name) {
    return GetDataType(name) >= 0;
}

int TRegistry::GetDataType(const std::string& name) {
    if (!FSession)
        return -1;
    std::optional<uint32_t> type = TWineRegistry::Instance().ValueType(FSession->Location, name);
    return type ? static_cast<int>(*type) : -1;
}

void TRegistry::GetKeyNames(TStringList& names) {
    names.Clear();
    if (FSession)
        for (const std::string& name : TWineRegistry::Instance().KeyNames(FSession->Location))
            names.Add(name);
}

void TRegistry::GetValueNames(TStringList& names) {
    names.Clear();
    if (FSession)
        for (const std::string& name : TWineRegistry::Instance().ValueNames(FSession->Location))
            names.Add(name);
}

std::string TRegistry::ReadString(const std::string& name) {
    if (!FSession)
        return {};
    std::optional<THiveValueData> value = TWineRegistry::Instance().Value(FSession->Location, name);
    if (!value || value->Data.empty())
        return {};
    if (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ)
        throw ERegistryException("Invalid data type for '" + name + "'");
    // The text ends at its first NUL, as the class library cuts it.
    const std::string& data = value->Data;
    size_t length = 0;
    while (length + 1 < data.size() && (data[length] != '\0' || data[length + 1] != '\0'))
        length += 2;
    return Utf16LeToUtf8(std::string_view(data).substr(0, length));
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    if (!FSession || !FSession->Writable)
        throw ERegistryException("Failed to set data for '" + name + "'");
    std::string data = Utf8ToUtf16Le(value);
    data.append(2, '\0');
    if (TWineRegistry::Instance().SetValue(FSession->Location, name, REG_SZ, data) != TRegistryStatus::Ok)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

bool TRegistry::DeleteKey(const std::string& key) {
    std::vector<std::string> path = FullPath(key, HasCurrentKey(), FCurrentPath);
    if (path.empty())
        return false;
    return TWineRegistry::Instance().DeleteKey(FRootKey, path) == TRegistryStatus::Ok;
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!FSession || !FSession->Writable)
        return false;
    return TWineRegistry::Instance().DeleteValue(FSession->Location, name) == TRegistryStatus::Ok;
}

std::string ResolveKeyPath(const std::string& fullKeyPath, bool followLast) {
    std::vector<std::string> parts = SplitKeyPath(fullKeyPath);
    if (parts.empty())
        return {};
    std::optional<HKEY> root = RootKeyOfName(parts.front());
    if (!root)
        return {};
    parts.erase(parts.begin());
    std::vector<std::string> missing;
    std::optional<TKeyLocation> location =
        TWineRegistry::Instance().Locate(*root, parts, followLast, missing);
    if (!location)
        return {};
    std::string result = location->UsersRoot                   ? "HKEY_USERS"
                         : location->Hive == THiveFile::System ? "HKEY_LOCAL_MACHINE"
                         : location->Hive == THiveFile::User   ? "HKEY_CURRENT_USER"
                                                               : "HKEY_USERS\\.Default";
    for (const std::string& name : location->Path)
        result += "\\" + name;
    for (const std::string& name : missing)
        result += "\\" + name;
    return result;
}

TRegistryBatch::TRegistryBatch() : FOpen(TWineRegistry::Instance().BeginBatch() == TRegistryStatus::Ok) {}

TRegistryBatch::~TRegistryBatch() {
    Abandon();
}

bool TRegistryBatch::Commit() {
    if (!FOpen)
        return false;
    FOpen = false;
    return TWineRegistry::Instance().CommitBatch() == TRegistryStatus::Ok;
}

void TRegistryBatch::Abandon() {
    if (FOpen)
        TWineRegistry::Instance().AbandonBatch();
    FOpen = false;
}

} // namespace platform
