#include "platform/wineRegistry.h"

#include "platform/fileDescriptor.h"
#include "platform/lookupScope.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr const char* UserSid = "S-1-5-21-0-0-0-1000";
constexpr const char* DefaultUser = ".Default";
constexpr const char* WritersLockName = ".korvane-registry.lock";
constexpr const char* TempInfix = ".korvane-";
constexpr int MaximumLinkHops = 16;

std::mutex SeamMutex;
fs::path RuntimeFolderOverride;
std::function<bool(int)> SaveHook;
std::chrono::milliseconds WriterWaitOverride{0};
constexpr std::chrono::milliseconds DefaultWriterWait{5000};

fs::path RuntimeFolder() {
    std::lock_guard<std::mutex> guard(SeamMutex);
    if (!RuntimeFolderOverride.empty())
        return RuntimeFolderOverride;
    return fs::path("/run/user") / std::to_string(getuid());
}

bool CallSaveHook(int stage) {
    std::function<bool(int)> hook;
    {
        std::lock_guard<std::mutex> guard(SeamMutex);
        hook = SaveHook;
    }
    return !hook || hook(stage);
}

bool IsFolder(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool SameName(std::string_view a, const char* b) {
    return FoldName(a) == FoldName(b);
}

// Writers count their saves of each hive in the lock file. A writer that finds another count than the one of
// its own copy reloads the hive even when the file's identity, size and time look unchanged (a renamed file
// may get the inode number of the one it replaced, within the same tick of the clock).
std::array<uint64_t, 3> ReadGenerations(const fs::path& prefix) {
    std::array<uint64_t, 3> generations{};
    int fd = open((prefix / WritersLockName).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        unsigned char bytes[24] = {};
        if (pread(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes))
            for (size_t i = 0; i < 3; ++i)
                for (size_t b = 0; b < 8; ++b)
                    generations[i] |= static_cast<uint64_t>(bytes[8 * i + b]) << (8 * b);
        close(fd);
    }
    return generations;
}

uint64_t BumpGeneration(const fs::path& prefix, size_t hive) {
    std::array<uint64_t, 3> generations = ReadGenerations(prefix);
    ++generations[hive];
    unsigned char bytes[24] = {};
    for (size_t i = 0; i < 3; ++i)
        for (size_t b = 0; b < 8; ++b)
            bytes[8 * i + b] = static_cast<unsigned char>(generations[i] >> (8 * b));
    int fd = open((prefix / WritersLockName).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        if (pwrite(fd, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
            generations[hive] = 0;
        close(fd);
    }
    return generations[hive];
}

} // namespace

// The exclusive lock that writers of one prefix take while they reload, change and save a hive; waited for
// up to a bound, so that a writer that never lets go makes the others fail rather than hang.
class TWritersLock {
public:
    TWritersLock(const fs::path& prefix, std::chrono::milliseconds wait) {
        FDescriptor = open((prefix / WritersLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (FDescriptor < 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        auto pause = std::chrono::milliseconds(1);
        bool told = false;
        while (flock(FDescriptor, LOCK_EX | LOCK_NB) != 0) {
            if (!told) {
                told = true;
                CallSaveHook(0);
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
                FTimedOut = errno == EWOULDBLOCK;
                close(FDescriptor);
                FDescriptor = -1;
                return;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }
    ~TWritersLock() {
        if (FDescriptor >= 0)
            close(FDescriptor); // releases the lock
    }
    TWritersLock(const TWritersLock&) = delete;
    TWritersLock& operator=(const TWritersLock&) = delete;
    bool Held() const { return FDescriptor >= 0; }
    // Another writer held the lock for the whole wait.
    bool TimedOut() const { return FTimedOut; }

private:
    int FDescriptor = -1;
    bool FTimedOut = false;
};

void SplitKeyPath(std::string_view path, std::vector<std::string_view>& names) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > start)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
}

TWineRegistry& TWineRegistry::Instance() {
    static TWineRegistry registry;
    return registry;
}

void TWineRegistry::SetRuntimeFolderForTesting(fs::path folder) {
    std::lock_guard<std::mutex> guard(SeamMutex);
    RuntimeFolderOverride = std::move(folder);
}

void TWineRegistry::SetSaveHookForTesting(std::function<bool(int stage)> hook) {
    std::lock_guard<std::mutex> guard(SeamMutex);
    SaveHook = std::move(hook);
}

void TWineRegistry::SetWriterWaitForTesting(std::chrono::milliseconds wait) {
    std::lock_guard<std::mutex> guard(SeamMutex);
    WriterWaitOverride = wait;
}

std::chrono::milliseconds TWineRegistry::WriterWait() const {
    std::lock_guard<std::mutex> guard(SeamMutex);
    return WriterWaitOverride.count() > 0 ? WriterWaitOverride : DefaultWriterWait;
}

void TWineRegistry::BeginCall(bool checkAgain) {
    static const char* const Names[] = {"system.reg", "user.reg", "userdef.reg"};
    // The prefix and its file names are worked out once for each prefix the environment names.
    const uint64_t prefix = CurrentPrefixNumber();
    if (prefix != FPrefixNumber || FEntries[0] == nullptr) {
        FPrefixNumber = prefix;
        FPrefix = PrefixFolder();
        // A watch sees the prefix folder, not the path that leads to it: through a link that may be pointed
        // at another prefix, every open checks the files themselves.
        std::error_code error;
        const bool direct = fs::canonical(FPrefix, error) == FPrefix && !error;
        for (size_t i = 0; i < 3; ++i) {
            FFiles[i] = FPrefix / Names[i];
            FEntries[i] = &FHives[FFiles[i].string()]; // elements of an unordered map keep their place
            FWatches[i] = direct ? WatchForChanges(FFiles[i]) : 0;
        }
        checkAgain = true;
    }
    if (checkAgain)
        RefreshAll();
}

const fs::path& TWineRegistry::FileOf(THiveFile hive) const {
    return FFiles[static_cast<size_t>(hive)];
}

// Each hive is checked at its first use in a call (and again after the writers' lock was taken), so that a
// call that needs one file checks only that one.
TWineRegistry::TCachedHive& TWineRegistry::Entry(THiveFile hive) {
    size_t index = static_cast<size_t>(hive);
    if (!FChecked[index]) {
        FChecked[index] = true;
        // Inside a lookup scope a hive is checked once (the scope's own saves keep it current); a writer
        // under the lock always checks, since another program's save must not be lost.
        const uint64_t scope = CurrentLookupScope();
        TCachedHive& entry = *FEntries[index];
        if (FUnderWritersLock || scope == 0 || entry.CheckedInScope != scope || !entry.Hive) {
            Refresh(hive);
            FEntries[index]->CheckedInScope = scope;
        }
    }
    return *FEntries[index];
}

uint64_t TWineRegistry::Generation(THiveFile hive) {
    if (!FGenerationsRead) {
        FGenerations = ReadGenerations(FPrefix);
        FGenerationsRead = true;
    }
    return FGenerations[static_cast<size_t>(hive)];
}

void TWineRegistry::TCachedHive::TakeIdentity(const struct stat& info) {
    Device = info.st_dev;
    Inode = info.st_ino;
    Size = info.st_size;
    ModificationTime = info.st_mtim;
    Mode = info.st_mode;
}

void TWineRegistry::Renew(TCachedHive& entry) {
    entry.Version = ++FVersions;
}

TWineRegistry::TCachedHive& TWineRegistry::Refresh(THiveFile hive) {
    const fs::path& file = FileOf(hive);
    TCachedHive& entry = *FEntries[static_cast<size_t>(hive)];
    // A change of this process that is not saved yet is the newest state there is.
    if (entry.Dirty && entry.Hive)
        return entry;
    // The stamp is taken before the check, so that a change made during the check gives another one. A
    // writer under the lock checks fully, since the stamp knows nothing of the save counts.
    const TChangeStamp stamp = ChangeStamp(FWatches[static_cast<size_t>(hive)]);
    if (!FUnderWritersLock && stamp != 0 && entry.Hive && entry.Stamp == stamp)
        return entry;
    struct stat info {};
    if (stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        // A file that vanished is an empty hive.
        if (entry.Exists || !entry.Hive) {
            entry = TCachedHive();
            entry.Hive = std::make_unique<THive>();
            Renew(entry);
        }
        entry.Stamp = stamp;
        return entry;
    }
    if (entry.Hive && entry.Exists && entry.Device == info.st_dev && entry.Inode == info.st_ino &&
        entry.Size == info.st_size && entry.ModificationTime.tv_sec == info.st_mtim.tv_sec &&
        entry.ModificationTime.tv_nsec == info.st_mtim.tv_nsec &&
        (!FUnderWritersLock || entry.Generation == Generation(hive))) {
        entry.Mode = info.st_mode;
        entry.Stamp = stamp;
        return entry;
    }
    TFileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    struct stat opened {};
    if (!fd.Valid() || fstat(fd.Get(), &opened) != 0 ||
        !ReadAll(fd.Get(), text, static_cast<uint64_t>(opened.st_size))) {
        // Unreadable: nothing to read, and nothing that may be written; checked again at every use, since
        // the reason may pass without a change of the file.
        entry = TCachedHive();
        entry.Hive = THive::Parse("");
        Renew(entry);
        return entry;
    }
    fd.Close();
    entry.Exists = true;
    entry.TakeIdentity(opened);
    entry.Generation = Generation(hive);
    entry.Hive = THive::Parse(std::move(text));
    entry.Stamp = stamp;
    Renew(entry);
    return entry;
}

void TWineRegistry::RefreshAll() {
    FGenerationsRead = false;
    FUnderWritersLock = false;
    for (bool& checked : FChecked)
        checked = false;
}

void TWineRegistry::Invalidate(THiveFile hive) {
    *FEntries[static_cast<size_t>(hive)] = TCachedHive();
    FChecked[static_cast<size_t>(hive)] = false;
}

bool TWineRegistry::Writable(const TCachedHive& entry) const {
    // Root ignores permission bits, so a file without any write bit counts as read-only by itself.
    return entry.Exists && entry.Hive && entry.Hive->Complete() &&
           (entry.Mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

TWineRegistry::TStart TWineRegistry::StartOf(HKEY root, TKeyNames path) {
    static constexpr std::string_view ClassesPath[] = {"Software", "Classes"};
    static constexpr std::string_view ConfigPath[] = {"System", "CurrentControlSet", "Hardware Profiles",
                                                      "Current"};
    TStart start;
    start.Valid = true;
    FRemaining.clear();
    switch (root) {
    case HKEY_LOCAL_MACHINE:
        start.Hive = THiveFile::System;
        break;
    case HKEY_CURRENT_USER:
        start.Hive = THiveFile::User;
        break;
    case HKEY_CLASSES_ROOT:
        start.Hive = THiveFile::System;
        FRemaining.assign(std::begin(ClassesPath), std::end(ClassesPath));
        break;
    case HKEY_CURRENT_CONFIG:
        start.Hive = THiveFile::System;
        FRemaining.assign(std::begin(ConfigPath), std::end(ConfigPath));
        break;
    case HKEY_USERS:
        if (path.empty()) {
            start.UsersRoot = true;
            return start;
        }
        if (SameName(path[0], DefaultUser))
            start.Hive = THiveFile::UserDefault;
        else if (SameName(path[0], UserSid))
            start.Hive = THiveFile::User;
        else
            start.Valid = false;
        FRemaining.assign(path.begin() + 1, path.end());
        return start;
    default:
        start.Valid = false;
        return start;
    }
    FRemaining.insert(FRemaining.end(), path.begin(), path.end());
    return start;
}

TRegistryStatus TWineRegistry::Resolve(TStart start, bool followLast, bool create, TKeyLocation& location,
                                       THiveKey*& key, std::optional<THiveFile>& created) {
    if (!start.Valid)
        return TRegistryStatus::NotFound;
    location.UsersRoot = false;
    location.Key = nullptr;
    location.Version = 0;
    if (start.UsersRoot) {
        location.UsersRoot = true;
        location.Hive = THiveFile::System;
        location.Path.clear();
        key = nullptr;
        return TRegistryStatus::Ok;
    }
    THiveFile hive = start.Hive;
    size_t next = 0;
    key = &Entry(hive).Hive->Root();
    // The names found so far, in Location's path (its strings are reused).
    size_t depth = 0;
    auto found = [&](std::string_view name) {
        if (depth < location.Path.size())
            location.Path[depth].assign(name);
        else
            location.Path.emplace_back(name);
        ++depth;
    };
    FTargets.clear();
    int hops = 0;
    while (next < FRemaining.size()) {
        const std::string_view name = FRemaining[next++];
        THiveKey* child = key->FindChild(name);
        if (child == nullptr) {
            if (!create)
                return TRegistryStatus::NotFound;
            TCachedHive& entry = Entry(hive);
            if (!Writable(entry) || (created && *created != hive))
                return TRegistryStatus::Failed;
            child = &entry.Hive->CreateKey(*key, std::string(name));
            created = hive;
        }
        bool last = next == FRemaining.size();
        if (child->IsLink() && (followLast || !last)) {
            std::optional<std::string> target = child->LinkTarget();
            if (++hops > MaximumLinkHops || !target)
                return TRegistryStatus::NotFound;
            // The target's names are views of its text, kept until the walk ends.
            FTargets.push_back(std::make_unique<std::string>(std::move(*target)));
            std::vector<std::string_view>& parts = FFollowing;
            parts.clear();
            SplitKeyPath(*FTargets.back(), parts);
            if (parts.size() < 2 || !SameName(parts[0], "Registry"))
                return TRegistryStatus::NotFound;
            size_t skip = 0;
            if (SameName(parts[1], "Machine")) {
                hive = THiveFile::System;
                skip = 2;
            } else if (SameName(parts[1], "User") && parts.size() >= 3 && SameName(parts[2], UserSid)) {
                hive = THiveFile::User;
                skip = 3;
            } else if (SameName(parts[1], "User") && parts.size() >= 3 && SameName(parts[2], DefaultUser)) {
                hive = THiveFile::UserDefault;
                skip = 3;
            } else {
                return TRegistryStatus::NotFound;
            }
            parts.erase(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(skip));
            parts.insert(parts.end(), FRemaining.begin() + static_cast<std::ptrdiff_t>(next),
                         FRemaining.end());
            FRemaining.swap(parts);
            next = 0;
            key = &Entry(hive).Hive->Root();
            depth = 0;
            continue;
        }
        key = child;
        found(child->Name());
    }
    location.Hive = hive;
    location.Path.resize(depth);
    return TRegistryStatus::Ok;
}

THiveKey* TWineRegistry::Walk(const TKeyLocation& location) {
    if (location.UsersRoot)
        return nullptr;
    THiveKey* key = &Entry(location.Hive).Hive->Root();
    for (const std::string& name : location.Path) {
        key = key->FindChild(name);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

THiveKey* TWineRegistry::KeyOf(const TKeyLocation& location) {
    if (location.UsersRoot)
        return nullptr;
    if (location.Key != nullptr && Entry(location.Hive).Version == location.Version)
        return location.Key;
    return Walk(location);
}

bool TWineRegistry::Find(HKEY root, TKeyNames path, TKeyLocation& location) {
    std::lock_guard<std::mutex> guard(FMutex);
    BeginCall();
    RefreshAll();
    THiveKey* key = nullptr;
    std::optional<THiveFile> created;
    if (Resolve(StartOf(root, path), true, false, location, key, created) != TRegistryStatus::Ok)
        return false;
    if (location.UsersRoot)
        return IsFolder(FPrefix);
    location.Key = key;
    location.Version = Entry(location.Hive).Version;
    return true;
}

std::optional<TKeyLocation> TWineRegistry::Locate(HKEY root, TKeyNames path, bool followLast,
                                                  std::vector<std::string>& missing) {
    std::lock_guard<std::mutex> guard(FMutex);
    BeginCall();
    for (size_t length = path.size() + 1; length-- > 0;) {
        TKeyLocation location;
        THiveKey* key = nullptr;
        std::optional<THiveFile> created;
        if (Resolve(StartOf(root, path.first(length)), followLast || length < path.size(), false, location,
                    key, created) == TRegistryStatus::Ok) {
            missing.assign(path.begin() + static_cast<std::ptrdiff_t>(length), path.end());
            return location;
        }
    }
    return std::nullopt;
}

TRegistryStatus TWineRegistry::Create(HKEY root, TKeyNames path, TKeyLocation& location) {
    if (Find(root, path, location))
        return TRegistryStatus::Ok;
    return WriteUnderLock([&] {
        THiveKey* key = nullptr;
        std::optional<THiveFile> created;
        TRegistryStatus status = Resolve(StartOf(root, path), true, true, location, key, created);
        if (created)
            MarkChanged(*created);
        return status;
    });
}

bool TWineRegistry::CanWrite(const TKeyLocation& location) {
    std::lock_guard<std::mutex> guard(FMutex);
    BeginCall(false);
    if (location.UsersRoot)
        return IsFolder(FPrefix);
    return Writable(Entry(location.Hive));
}

std::vector<std::string> TWineRegistry::KeyNames(const TKeyLocation& location) {
    std::lock_guard<std::mutex> guard(FMutex);
    BeginCall(false);
    std::vector<std::string> names;
    if (location.UsersRoot) {
        if (Entry(THiveFile::UserDefault).Exists)
            names.push_back(DefaultUser);
        if (Entry(THiveFile::User).Exists)
            names.push_back(UserSid);
        return names;
    }
    if (THiveKey* key = KeyOf(location))
        for (const THiveKey* child : key->Children())
            names.emplace_back(child->Name());
    return names;
}

std::vector<std::string> TWineRegistry::ValueNames(const TKeyLocation& location) {
    std::lock_guard<std::mutex> guard(FMutex);
    BeginCall(false);
    std::vector<std::string> names;
    if (THiveKey* key = KeyOf(location))
        for (const THiveValue& value : key->Values())
            names.emplace_back(value.Name());
    return names;
}

const THiveValue* TWineRegistry::FindValue(const TKeyLocation& location, const std::string& name) {
    BeginCall(false);
    THiveKey* key = KeyOf(location);
    return key != nullptr ? key->FindValue(name) : nullptr;
}

std::optional<THiveValueData> TWineRegistry::Value(const TKeyLocation& location, const std::string& name) {
    std::lock_guard<std::mutex> guard(FMutex);
    const THiveValue* value = FindValue(location, name);
    if (value == nullptr)
        return std::nullopt;
    return THiveValueData{value->Type(), value->Data()};
}

std::optional<TWineRegistry::TValueText> TWineRegistry::ValueText(const TKeyLocation& location,
                                                                  const std::string& name) {
    std::lock_guard<std::mutex> guard(FMutex);
    const THiveValue* value = FindValue(location, name);
    if (value == nullptr)
        return std::nullopt;
    TValueText text;
    text.Type = value->Type();
    if (text.Type == REG_SZ || text.Type == REG_EXPAND_SZ) {
        if (value->PlainText(text.Text))
            return text;
    }
    const std::string data = value->Data();
    text.Empty = data.empty();
    if (text.Type == REG_SZ || text.Type == REG_EXPAND_SZ) {
        // The text ends at its first NUL, as the class library cuts it.
        size_t length = 0;
        while (length + 1 < data.size() && (data[length] != '\0' || data[length + 1] != '\0'))
            length += 2;
        text.Text = Utf16LeToUtf8(std::string_view(data).substr(0, length));
    }
    return text;
}

std::optional<uint32_t> TWineRegistry::ValueType(const TKeyLocation& location, const std::string& name) {
    std::lock_guard<std::mutex> guard(FMutex);
    const THiveValue* value = FindValue(location, name);
    if (value == nullptr)
        return std::nullopt;
    return value->Type();
}

TRegistryStatus TWineRegistry::SetValue(const TKeyLocation& location, const std::string& name, uint32_t type,
                                        const std::string& data) {
    if (location.UsersRoot)
        return TRegistryStatus::Failed;
    return WriteUnderLock([&] {
        TCachedHive& entry = Entry(location.Hive);
        if (!Writable(entry))
            return TRegistryStatus::Failed;
        THiveKey* key = Walk(location);
        if (key == nullptr)
            return TRegistryStatus::NotFound;
        entry.Hive->SetValue(*key, name, type, data);
        MarkChanged(location.Hive);
        return TRegistryStatus::Ok;
    });
}

TRegistryStatus TWineRegistry::DeleteValue(const TKeyLocation& location, const std::string& name) {
    if (location.UsersRoot)
        return TRegistryStatus::Failed;
    return WriteUnderLock([&] {
        TCachedHive& entry = Entry(location.Hive);
        THiveKey* key = Walk(location);
        if (key == nullptr || key->FindValue(name) == nullptr)
            return TRegistryStatus::NotFound;
        if (!Writable(entry))
            return TRegistryStatus::Failed;
        entry.Hive->DeleteValue(*key, name);
        MarkChanged(location.Hive);
        return TRegistryStatus::Ok;
    });
}

TRegistryStatus TWineRegistry::DeleteKey(HKEY root, TKeyNames path) {
    return WriteUnderLock([&] {
        TKeyLocation location;
        THiveKey* key = nullptr;
        std::optional<THiveFile> created;
        TRegistryStatus status = Resolve(StartOf(root, path), false, false, location, key, created);
        if (status != TRegistryStatus::Ok)
            return status;
        // The root of a hive (and HKEY_USERS itself) is no key that can be deleted.
        if (location.UsersRoot || location.Path.empty() || key == nullptr)
            return TRegistryStatus::Failed;
        TCachedHive& entry = Entry(location.Hive);
        if (!Writable(entry))
            return TRegistryStatus::Failed;
        entry.Hive->DeleteKey(*key);
        MarkChanged(location.Hive);
        return TRegistryStatus::Ok;
    });
}

TRegistryStatus TWineRegistry::WriteUnderLock(const std::function<TRegistryStatus()>& change) {
    // The order of the waits keeps readers free: this process's writers first, then the prefix's writers'
    // lock, and only then, briefly, the trees that readers use.
    std::unique_lock<std::recursive_timed_mutex> writer(FWriteMutex, std::defer_lock);
    if (!writer.try_lock_for(WriterWait()))
        return TRegistryStatus::AccessDenied;
    const fs::path prefix = PrefixFolder();
    const bool inBatch = FBatchDepth > 0;
    if (inBatch && prefix != FBatchPrefix)
        return TRegistryStatus::Failed;
    if (!IsFolder(prefix))
        return TRegistryStatus::Failed;
    std::unique_ptr<TWritersLock> lock;
    if (!inBatch) {
        // A running wineserver holds the hives in memory and would write its own copy over any change of
        // ours.
        if (WineServerRunning())
            return TRegistryStatus::AccessDenied;
        // Every writer of the prefix reloads, changes and saves under this lock, so none saves over another's
        // change; what was read before the lock was ours is checked again.
        lock = std::make_unique<TWritersLock>(prefix, WriterWait());
        if (!lock->Held())
            return lock->TimedOut() ? TRegistryStatus::AccessDenied : TRegistryStatus::Failed;
    }
    TRegistryStatus status = TRegistryStatus::Failed;
    std::vector<TPendingSave> saves;
    {
        std::lock_guard<std::mutex> guard(FMutex);
        BeginCall();
        FUnderWritersLock = true;
        status = change();
        if (!inBatch)
            saves = TakeChanged();
    }
    if (!SaveTaken(saves))
        return TRegistryStatus::Failed;
    return status;
}

void TWineRegistry::MarkChanged(THiveFile hive) {
    TCachedHive& entry = Entry(hive);
    entry.Dirty = true;
    Renew(entry);
    entry.LastChange = entry.Version;
}

std::vector<TWineRegistry::TPendingSave> TWineRegistry::TakeChanged() {
    std::array<THiveFile, 3> hives = {THiveFile::System, THiveFile::User, THiveFile::UserDefault};
    std::sort(hives.begin(), hives.end(), [this](THiveFile a, THiveFile b) {
        return FEntries[static_cast<size_t>(a)]->LastChange < FEntries[static_cast<size_t>(b)]->LastChange;
    });
    std::vector<TPendingSave> saves;
    for (THiveFile hive : hives) {
        TCachedHive& entry = *FEntries[static_cast<size_t>(hive)];
        if (entry.Dirty && entry.Hive)
            saves.push_back({hive, entry.Hive->Text(), entry.Mode, entry.Hive.get()});
    }
    return saves;
}

bool TWineRegistry::SaveTaken(std::vector<TPendingSave>& saves) {
    bool all = true;
    for (TPendingSave& save : saves) {
        // Once a save failed, the later hives keep their files: the one saved last holds what tells that the
        // job is not done (a removal's Uninstall entry).
        const bool written = all && WriteHiveFile(save);
        std::lock_guard<std::mutex> guard(FMutex);
        BeginCall();
        TCachedHive& entry = *FEntries[static_cast<size_t>(save.Hive)];
        struct stat info {};
        // The tree in memory is the text written only while no other call replaced it meanwhile.
        if (written && entry.Hive.get() == save.Tree && stat(FileOf(save.Hive).c_str(), &info) == 0) {
            entry.Dirty = false;
            entry.TakeIdentity(info);
            entry.Generation = BumpGeneration(FPrefix, static_cast<size_t>(save.Hive));
        } else {
            // The tree holds a change that is not on disk: take the file as it is at the next call.
            Invalidate(save.Hive);
        }
        all = all && written;
    }
    return all;
}

bool TWineRegistry::WriteHiveFile(const TPendingSave& save) {
    fs::path file;
    {
        std::lock_guard<std::mutex> guard(FMutex);
        BeginCall();
        file = FileOf(save.Hive);
    }
    const fs::path folder = file.parent_path();
    const std::string name = file.filename().string();

    // Temporary files left by a writer that died: no writer is at work while the lock is ours.
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder, error)) {
        std::string itemName = item.path().filename().string();
        if (itemName.rfind(name + TempInfix, 0) == 0)
            fs::remove(item.path(), error);
    }

    TFileDescriptor folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    TReplacement how;
    // A hive may hold secrets: the new file is the writer's alone until it has the old one's permissions.
    how.CreationMode = 0600;
    how.SyncFolder = true;
    how.Fill = [&](int fd) {
        size_t half = save.Text.size() / 2;
        std::string_view whole = save.Text;
        return fchmod(fd, save.Mode & 07777) == 0 && WriteAll(fd, whole.substr(0, half)) && CallSaveHook(1) &&
               WriteAll(fd, whole.substr(half));
    };
    how.BeforeRename = [] { return CallSaveHook(2); };
    return folderFd.Valid() && ReplaceFileAtomically(folderFd.Get(), name, name + TempInfix, how);
}

void TWineRegistry::DropChanged() {
    std::lock_guard<std::mutex> guard(FMutex);
    BeginCall();
    for (THiveFile hive : {THiveFile::System, THiveFile::User, THiveFile::UserDefault})
        if (FEntries[static_cast<size_t>(hive)]->Dirty)
            Invalidate(hive);
}

TRegistryStatus TWineRegistry::BeginBatch() {
    std::unique_lock<std::recursive_timed_mutex> writer(FWriteMutex, std::defer_lock);
    if (!writer.try_lock_for(WriterWait()))
        return TRegistryStatus::AccessDenied;
    if (FBatchDepth > 0) {
        ++FBatchDepth;
        writer.release(); // held until the batch ends
        return TRegistryStatus::Ok;
    }
    const fs::path prefix = PrefixFolder();
    if (!IsFolder(prefix))
        return TRegistryStatus::Failed;
    if (WineServerRunning())
        return TRegistryStatus::AccessDenied;
    auto lock = std::make_unique<TWritersLock>(prefix, WriterWait());
    if (!lock->Held())
        return lock->TimedOut() ? TRegistryStatus::AccessDenied : TRegistryStatus::Failed;
    FBatchLock = std::move(lock);
    FBatchPrefix = prefix;
    FBatchThread = std::this_thread::get_id();
    FBatchDepth = 1;
    writer.release();
    return TRegistryStatus::Ok;
}

bool TWineRegistry::InBatch() {
    std::unique_lock<std::recursive_timed_mutex> writer(FWriteMutex, std::try_to_lock);
    return writer.owns_lock() && FBatchDepth > 0 && FBatchThread == std::this_thread::get_id();
}

TRegistryStatus TWineRegistry::CommitBatch() {
    if (!InBatch())
        return TRegistryStatus::Failed;
    if (FBatchDepth > 1) {
        --FBatchDepth;
        FWriteMutex.unlock();
        return TRegistryStatus::Ok;
    }
    TRegistryStatus status = TRegistryStatus::Ok;
    if (WineServerRunning()) {
        DropChanged();
        status = TRegistryStatus::AccessDenied;
    } else {
        std::vector<TPendingSave> saves;
        {
            std::lock_guard<std::mutex> guard(FMutex);
            BeginCall();
            saves = TakeChanged();
        }
        if (!SaveTaken(saves))
            status = TRegistryStatus::Failed;
    }
    FBatchDepth = 0;
    FBatchLock.reset();
    FBatchThread.reset();
    FWriteMutex.unlock();
    return status;
}

void TWineRegistry::AbandonBatch() {
    if (!InBatch())
        return;
    if (--FBatchDepth == 0) {
        DropChanged();
        FBatchLock.reset();
        FBatchThread.reset();
    }
    FWriteMutex.unlock();
}

namespace {

// The last component of a link's target as /proc shows it, without the mark of a removed target (a server
// whose folder or program file was deleted still runs).
std::string_view LinkTargetName(const char* target) {
    std::string_view text(target);
    constexpr std::string_view Deleted = " (deleted)";
    if (text.size() > Deleted.size() && text.substr(text.size() - Deleted.size()) == Deleted)
        text.remove_suffix(Deleted.size());
    const size_t slash = text.rfind('/');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

bool ReadLinkName(int folder, const std::string& path, char (&buffer)[PATH_MAX], std::string_view& name) {
    const ssize_t length = readlinkat(folder, path.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0)
        return false;
    buffer[length] = '\0';
    name = LinkTargetName(buffer);
    return true;
}

// Whether a lock is held on the file "lock" of a server folder.
bool ServerLockHeld(const fs::path& serverFolder) {
    TFileDescriptor fd(open((serverFolder / "lock").c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
        return false;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    return fcntl(fd.Get(), F_GETLK, &query) == 0 && query.l_type != F_UNLCK;
}

// Where the server of a prefix puts its server folder, given this process's environment.
fs::path ServerFolderHere(const fs::path& prefix, const std::string& serverName) {
    const fs::path runtime = RuntimeFolder();
    if (IsFolder(runtime))
        return runtime / "wine" / serverName;
    std::string tag;
    TFileDescriptor fd(open((prefix / "wineserver").c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Valid())
        ReadAll(fd.Get(), tag);
    tag = Trim(tag);
    if (!tag.empty() && tag.find('/') == std::string::npos && tag != "." && tag != "..") {
        const char* tmp = std::getenv("TMPDIR");
        return fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / tag / serverName;
    }
    return fs::path("/tmp") / (".wine-" + std::to_string(getuid())) / serverName;
}

// Whether a wineserver process of this user works in a folder named ServerName, whatever the folder above
// it: a server started with another TMPDIR or runtime folder than ours. A server makes its server folder its
// working folder for its whole life. Processes whose entries cannot be read (other users', ended ones) are
// passed over; only the user's own processes get a second look.
bool ServerProcessRunning(std::string_view serverName) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir("/proc"), closedir);
    if (!listing)
        return false;
    const int proc = dirfd(listing.get());
    const uid_t ownUser = getuid();
    char target[PATH_MAX];
    std::string path;
    while (const dirent* item = readdir(listing.get())) {
        if (item->d_name[0] < '1' || item->d_name[0] > '9')
            continue;
        struct stat info {};
        if (fstatat(proc, item->d_name, &info, 0) != 0 || info.st_uid != ownUser)
            continue;
        std::string_view name;
        path.assign(item->d_name).append("/exe");
        if (!ReadLinkName(proc, path, target, name) || name.substr(0, 10) != "wineserver")
            continue;
        path.assign(item->d_name).append("/cwd");
        if (ReadLinkName(proc, path, target, name) && name == serverName)
            return true;
    }
    return false;
}

} // namespace

bool TWineRegistry::WineServerRunning() {
    const fs::path prefix = PrefixFolder();
    struct stat info {};
    if (stat(prefix.c_str(), &info) != 0)
        return false;
    char serverName[64];
    std::snprintf(serverName, sizeof serverName, "server-%llx-%llx",
                  static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
    return ServerLockHeld(ServerFolderHere(prefix, serverName)) || ServerProcessRunning(serverName);
}

} // namespace platform
