#include "platform/registry.h"

#include "platform/wineHive.h"
#include "platform/wineRegistry.h"

#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The open key (where it lies, whether it was opened for writing) and what an open works with, kept from
// one open to the next so that a warm open allocates nothing.
class TRegistrySession {
public:
    bool Open = false;
    TKeyLocation Location;
    bool Writable = false;
    // The path an open tries, its names (views of it) and the location it finds.
    std::string NextPath;
    std::vector<std::string_view> Names;
    TKeyLocation Found;
};

namespace {

constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;

// Appends the names of a key path to Path, a backslash between two.
void AppendKeyPath(std::string& path, std::string_view key) {
    size_t start = 0;
    while (start <= key.size()) {
        size_t end = key.find('\\', start);
        if (end == std::string_view::npos)
            end = key.size();
        if (end > start) {
            if (!path.empty())
                path += '\\';
            path.append(key.substr(start, end - start));
        }
        start = end + 1;
    }
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
    if (FSession)
        FSession->Open = false;
    FCurrentPath.clear();
}

bool TRegistry::HasCurrentKey() const {
    return FSession != nullptr && FSession->Open;
}

// Puts the full path of Key in the session's NextPath and its names in Names: a path with a leading
// backslash starts at the root, any other at the open key (the root without one).
static void FullPath(TRegistrySession& session, const std::string& key, const std::string& current) {
    session.NextPath.clear();
    if (session.Open && (key.empty() || key[0] != '\\'))
        session.NextPath = current;
    AppendKeyPath(session.NextPath, key);
    session.Names.clear();
    SplitKeyPath(session.NextPath, session.Names);
}

TRegistrySession& TRegistry::Session() {
    if (!FSession)
        FSession = std::make_unique<TRegistrySession>();
    return *FSession;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    TRegistrySession& session = Session();
    FullPath(session, key, FCurrentPath);
    TWineRegistry& store = TWineRegistry::Instance();
    if (!store.Find(FRootKey, session.Names, session.Found) &&
        (!canCreate || store.Create(FRootKey, session.Names, session.Found) != TRegistryStatus::Ok))
        return false;
    bool writable = (FAccess & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
    if (writable && !store.CanWrite(session.Found))
        return false;
    std::swap(session.Location, session.Found);
    session.Writable = writable;
    session.Open = true;
    FCurrentPath.swap(session.NextPath);
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    FAccess = KEY_READ;
    return OpenKey(key, false);
}

bool TRegistry::KeyExists(const std::string& key) {
    TRegistrySession& session = Session();
    FullPath(session, key, FCurrentPath);
    return TWineRegistry::Instance().Find(FRootKey, session.Names, session.Found);
}

bool TRegistry::ValueExists(const std::string& name) {
    return GetDataType(name) >= 0;
}

int TRegistry::GetDataType(const std::string& name) {
    if (!HasCurrentKey())
        return -1;
    std::optional<uint32_t> type = TWineRegistry::Instance().ValueType(FSession->Location, name);
    return type ? static_cast<int>(*type) : -1;
}

void TRegistry::GetKeyNames(TStringList& names) {
    names.Clear();
    if (HasCurrentKey())
        for (const std::string& name : TWineRegistry::Instance().KeyNames(FSession->Location))
            names.Add(name);
}

void TRegistry::GetValueNames(TStringList& names) {
    names.Clear();
    if (HasCurrentKey())
        for (const std::string& name : TWineRegistry::Instance().ValueNames(FSession->Location))
            names.Add(name);
}

std::string TRegistry::ReadString(const std::string& name) {
    if (!HasCurrentKey())
        return {};
    std::optional<TWineRegistry::TValueText> value =
        TWineRegistry::Instance().ValueText(FSession->Location, name);
    if (!value || value->Empty)
        return {};
    if (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return std::move(value->Text);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    if (!HasCurrentKey() || !FSession->Writable)
        throw ERegistryException("Failed to set data for '" + name + "'");
    std::string data = Utf8ToUtf16Le(value);
    data.append(2, '\0');
    if (TWineRegistry::Instance().SetValue(FSession->Location, name, REG_SZ, data) != TRegistryStatus::Ok)
        throw ERegistryException("Failed to set data for '" + name + "'");
}

bool TRegistry::DeleteKey(const std::string& key) {
    TRegistrySession& session = Session();
    FullPath(session, key, FCurrentPath);
    if (session.Names.empty())
        return false;
    return TWineRegistry::Instance().DeleteKey(FRootKey, session.Names) == TRegistryStatus::Ok;
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!HasCurrentKey() || !FSession->Writable)
        return false;
    return TWineRegistry::Instance().DeleteValue(FSession->Location, name) == TRegistryStatus::Ok;
}

std::string ResolveKeyPath(const std::string& fullKeyPath, bool followLast) {
    std::vector<std::string_view> parts;
    SplitKeyPath(fullKeyPath, parts);
    if (parts.empty())
        return {};
    std::optional<HKEY> root = RootKeyOfName(std::string(parts.front()));
    if (!root)
        return {};
    std::vector<std::string> missing;
    std::optional<TKeyLocation> location =
        TWineRegistry::Instance().Locate(*root, TKeyNames(parts).subspan(1), followLast, missing);
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
