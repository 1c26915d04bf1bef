#pragma once

#include "platform/registry.h"
#include "platform/wineHive.h"

#include <array>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// The registry files of a prefix.
enum class THiveFile { System, User, UserDefault };

// Where a key lies once its links are followed: a hive and the names of the keys below its root. The root
// of HKEY_USERS, which has no file of its own, is a location of its own.
struct TKeyLocation {
    THiveFile Hive = THiveFile::System;
    std::vector<std::string> Path;
    bool UsersRoot = false;
};

enum class TRegistryStatus { Ok, NotFound, AccessDenied, Failed };

// The names in a backslash-separated key path (a key of the accessor, a link's NT path), empty ones left out
// so that doubled, leading and trailing backslashes name no key.
std::vector<std::string> SplitKeyPath(const std::string& path);

// The machine's registry over the Wine prefix's registry files: HKLM is system.reg, HKCU user.reg, HKU holds
// .Default (userdef.reg) and the user's SID (user.reg again), HKCR is HKLM\Software\Classes and HKCC is
// HKLM\System\CurrentControlSet\Hardware Profiles\Current. Link keys are followed on the way.
//
// Each hive is parsed once and kept; every open of a key (Find, Create, DeleteKey) first checks each file's
// identity, size and time and reloads a file that another program changed, and the reads of an open key
// (its names, its values, whether it may be written) work on the trees as that check left them. Inside a
// lookup scope each file is checked once for the whole scope. Writers of one prefix serialise on a lock file
// in the prefix; a change is saved through a temporary file beside the hive that is flushed and renamed over
// it. Every change is refused while a wineserver runs for the prefix (it would overwrite the files with its
// own copy), and a hive that is missing, has no write permission bit or was not understood completely is
// never written. All calls may come from any thread.
class TWineRegistry {
public:
    static TWineRegistry& Instance();

    // The key below a root (a path of key names), or nullopt when it does not exist.
    std::optional<TKeyLocation> Find(HKEY root, const std::vector<std::string>& path);
    // Finds the key, creating what is missing (a change, so refused as every change is).
    TRegistryStatus Create(HKEY root, const std::vector<std::string>& path, TKeyLocation& location);
    // Whether a change of the location's hive could be saved (ignores a running wineserver).
    bool CanWrite(const TKeyLocation& location);

    std::vector<std::string> KeyNames(const TKeyLocation& location);
    std::vector<std::string> ValueNames(const TKeyLocation& location);
    std::optional<THiveValue> Value(const TKeyLocation& location, const std::string& name);
    // The type of a value, without a copy of its data.
    std::optional<uint32_t> ValueType(const TKeyLocation& location, const std::string& name);

    TRegistryStatus SetValue(const TKeyLocation& location, const std::string& name, uint32_t type,
                             const std::string& data);
    TRegistryStatus DeleteValue(const TKeyLocation& location, const std::string& name);
    // Deletes a key and everything below it; the last component is not followed when it is a link, so a
    // link is deleted as itself.
    TRegistryStatus DeleteKey(HKEY root, const std::vector<std::string>& path);

    // Whether a wineserver runs for the current prefix: it holds a POSIX write lock on the file "lock" of its
    // server folder.
    bool WineServerRunning();

    // Test seams. The folder that stands for /run/user/<uid> (empty restores it).
    static void SetRuntimeFolderForTesting(std::filesystem::path folder);
    // Called while a hive is saved: stage 1 after half of the temporary file was written, stage 2 after all
    // of it was written and flushed, before the rename. False fails the save there.
    static void SetSaveHookForTesting(std::function<bool(int stage)> hook);

private:
    struct TCachedHive {
        bool Exists = false;
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = 0;
        struct timespec ModificationTime {};
        mode_t Mode = 0;
        uint64_t Generation = 0;
        // The lookup scope in which the file was last checked.
        uint64_t CheckedInScope = 0;
        std::unique_ptr<THive> Hive;
    };
    struct TStart {
        THiveFile Hive = THiveFile::System;
        std::vector<std::string> Path;
        bool UsersRoot = false;
        bool Valid = false;
    };

    TWineRegistry() = default;

    // Takes the prefix and its files for the call (the environment may change between calls). With
    // CheckAgain each hive is checked again at its first use in the call; without, the call works on the
    // trees as the last open checked them (reads of an open key).
    void BeginCall(bool checkAgain = true);
    const std::filesystem::path& FileOf(THiveFile hive) const;
    TCachedHive& Refresh(THiveFile hive);
    // The save count of a hive in the writers' lock file, read once per check.
    uint64_t Generation(THiveFile hive);
    // Makes each hive be checked again at its next use in this call.
    void RefreshAll();
    TCachedHive& Entry(THiveFile hive);
    bool Writable(const TCachedHive& entry) const;
    TStart StartOf(HKEY root, const std::vector<std::string>& path) const;
    THiveKey* Walk(const TKeyLocation& location);
    // The value of an open key on the trees as its open checked them (FMutex held), or null.
    const THiveValue* FindValue(const TKeyLocation& location, const std::string& name);
    // Follows a path from a start; with Create, makes missing keys (in one hive, recorded in Created).
    TRegistryStatus Resolve(TStart start, bool followLast, bool create, TKeyLocation& location,
                            THiveKey*& key, std::optional<THiveFile>& created);
    // Runs Change, with FMutex held and the call begun, on trees checked again under the prefix's writers'
    // lock; the checks that every write makes first (the prefix, a running wineserver) are made here.
    TRegistryStatus WriteUnderLock(const std::function<TRegistryStatus()>& change);
    bool Save(THiveFile hive);
    void Invalidate(THiveFile hive);

    std::mutex FMutex;
    std::unordered_map<std::string, TCachedHive> FHives;
    uint64_t FPrefixNumber = 0;
    std::filesystem::path FPrefix;
    std::filesystem::path FFiles[3];
    TCachedHive* FEntries[3] = {};
    bool FChecked[3] = {};
    bool FGenerationsRead = false;
    bool FUnderWritersLock = false;
    std::array<uint64_t, 3> FGenerations{};
};

} // namespace platform
