#pragma once

#include "platform/changeWatch.h"
#include "platform/registry.h"
#include "platform/wineHive.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform {

class TWritersLock;

// The registry files of a prefix.
enum class THiveFile { System, User, UserDefault };

// Where a key lies once its links are followed: a hive and the names of the keys below its root. The root
// of HKEY_USERS, which has no file of its own, is a location of its own.
struct TKeyLocation {
    THiveFile Hive = THiveFile::System;
    std::vector<std::string> Path;
    bool UsersRoot = false;
    // The key itself, valid while its hive's tree is the one it was found in (that tree's version): the
    // reads of an open key find it without walking the path again.
    THiveKey* Key = nullptr;
    uint64_t Version = 0;
};

// A key path as names (views of the text they were taken from).
using TKeyNames = std::span<const std::string_view>;

enum class TRegistryStatus { Ok, NotFound, AccessDenied, Failed };

// Appends the names in a backslash-separated key path (a key of the accessor, a link's NT path) to Names,
// as views of Path; empty ones are left out so that doubled, leading and trailing backslashes name no key.
void SplitKeyPath(std::string_view path, std::vector<std::string_view>& names);

// The machine's registry over the Wine prefix's registry files: HKLM is system.reg, HKCU user.reg, HKU holds
// .Default (userdef.reg) and the user's SID (user.reg again), HKCR is HKLM\Software\Classes and HKCC is
// HKLM\System\CurrentControlSet\Hardware Profiles\Current. Link keys are followed on the way.
//
// Each hive is parsed once and kept; every open of a key (Find, Create, DeleteKey) first checks each file's
// identity, size and time and reloads a file that another program changed, and the reads of an open key
// (its names, its values, whether it may be written) work on the trees as that check left them. Inside a
// lookup scope each file is checked once for the whole scope. Outside one, a file whose change stamp
// (changeWatch) is the one taken before its last full check is known unchanged without a stat; a writer
// under the writers' lock always checks fully. Writers of one prefix serialise on a lock file
// in the prefix; a change is saved through a temporary file beside the hive that is flushed and renamed over
// it. Every change is refused while a wineserver runs for the prefix (it would overwrite the files with its
// own copy), and a hive that is missing, has no write permission bit or was not understood completely is
// never written. All calls may come from any thread.
//
// Readers never wait for a writer's lock file nor for a save: a writer waits for the lock file before it
// takes the in-memory trees, and writes and flushes the new file after it has let them go. A writer waits
// for another writer (of this process or another one) for a bounded time only, and a write that could not
// have the lock by then is refused as access denied.
//
// A batch groups the changes of a job (a removal): BeginBatch takes the writers' lock for the batch, each
// change of the batch is made in memory only and seen at once by every reader of this process, and
// CommitBatch saves each changed hive once, atomically as a single change is saved, in the order of their
// last changes: the hive changed last is saved last, and after a failed save no later one is made. A
// removal deletes its program's Uninstall entry last, so the hive that holds it is saved last: a removal cut
// off between two saves still shows the program as installed, and the next removal finishes it. A change
// refused inside a batch (a key that is not there, a hive that cannot be written) changes nothing and
// leaves the batch's other changes standing: the caller chooses to commit them or to abandon them all. The
// batch is its thread's: changes of other threads wait for its end (bounded as above), and it must be
// committed or abandoned on the thread that began it. Batches nest: an inner commit or abandon only closes
// the inner batch, and the outermost one decides.
class TWineRegistry {
public:
    static TWineRegistry& Instance();

    // Finds the key below a root (a path of key names) and puts it in Location; false when it does not exist
    // (Location is then unspecified).
    bool Find(HKEY root, TKeyNames path, TKeyLocation& location);
    // The key that a path names with the registry's link keys followed on the way (the last component's too
    // when FollowLast): its location, and the names of the path below the deepest key that exists, kept as
    // given. Nullopt for a root or a first key of HKEY_USERS that names nothing.
    std::optional<TKeyLocation> Locate(HKEY root, TKeyNames path, bool followLast,
                                       std::vector<std::string>& missing);
    // Finds the key, creating what is missing (a change, so refused as every change is).
    TRegistryStatus Create(HKEY root, TKeyNames path, TKeyLocation& location);
    // Whether a change of the location's hive could be saved (ignores a running wineserver).
    bool CanWrite(const TKeyLocation& location);

    std::vector<std::string> KeyNames(const TKeyLocation& location);
    std::vector<std::string> ValueNames(const TKeyLocation& location);
    std::optional<THiveValueData> Value(const TKeyLocation& location, const std::string& name);
    // The type of a value, without a copy of its data.
    std::optional<uint32_t> ValueType(const TKeyLocation& location, const std::string& name);
    // A value as text: its type, whether it has no data, and for a REG_SZ or REG_EXPAND_SZ its text in UTF-8
    // up to its first NUL (decoded straight from the file's line where it is plain ASCII).
    struct TValueText {
        uint32_t Type = 0;
        bool Empty = false;
        std::string Text;
    };
    std::optional<TValueText> ValueText(const TKeyLocation& location, const std::string& name);

    TRegistryStatus SetValue(const TKeyLocation& location, const std::string& name, uint32_t type,
                             const std::string& data);
    TRegistryStatus DeleteValue(const TKeyLocation& location, const std::string& name);
    // Deletes a key and everything below it; the last component is not followed when it is a link, so a
    // link is deleted as itself.
    TRegistryStatus DeleteKey(HKEY root, TKeyNames path);

    // Begins a batch (see above): Ok, or AccessDenied while a wineserver runs or when the writers' lock
    // cannot be had within the bounded wait, or Failed without a prefix; no batch is open after a failure.
    TRegistryStatus BeginBatch();
    // Saves each hive that the batch changed, the one changed last at the end, and ends the batch whatever
    // the result. Ok when every save succeeded; AccessDenied when a wineserver started meanwhile (nothing is
    // saved); Failed when a save failed: that hive keeps its file as it was and the hives after it are not
    // saved either (saving the last one, a removal's Uninstall entry, would hide a removal half done), while
    // those before it stay saved. Changes that were not saved are dropped: the next call reads the files
    // again.
    TRegistryStatus CommitBatch();
    // Ends the batch and drops its changes.
    void AbandonBatch();
    // Whether the calling thread has a batch open.
    bool InBatch();

    // Whether a wineserver runs for the current prefix: it holds a POSIX write lock on the file "lock" of its
    // server folder where this process's environment puts that folder, or a wineserver process of this user
    // works in a folder of that name under any other base (a server started with another TMPDIR). Cheap
    // enough to ask before every write: one walk of /proc at most.
    bool WineServerRunning();

    // Test seams. The folder that stands for /run/user/<uid> (empty restores it).
    static void SetRuntimeFolderForTesting(std::filesystem::path folder);
    // Called while a hive is saved: stage 1 after half of the temporary file was written, stage 2 after all
    // of it was written and flushed, before the rename. False fails the save there. Stage 0 (its answer
    // unused) tells that a writer found the writers' lock taken and waits for it.
    static void SetSaveHookForTesting(std::function<bool(int stage)> hook);
    // How long a writer waits for the writers' lock (5 seconds unless set; zero restores that).
    static void SetWriterWaitForTesting(std::chrono::milliseconds wait);

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
        // Changed in memory and not yet saved: never reloaded from its file until the save ends.
        bool Dirty = false;
        // Taken anew (from the registry's counter) whenever the tree is replaced or changed.
        uint64_t Version = 0;
        // When the unsaved tree was last changed (the registry's counter): changed hives are saved in this
        // order.
        uint64_t LastChange = 0;
        // The file's change stamp taken before its last full check (0: none).
        TChangeStamp Stamp = 0;
        // Records the file that the tree now stands for.
        void TakeIdentity(const struct stat& info);
    };
    // A hive's text taken for a save, and what the save needs to finish.
    struct TPendingSave {
        THiveFile Hive = THiveFile::System;
        std::string Text;
        mode_t Mode = 0;
        const THive* Tree = nullptr;
    };
    struct TStart {
        THiveFile Hive = THiveFile::System;
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
    // Where a path of a root starts: its hive, with the names to follow from the hive's root put in
    // FRemaining (FMutex held).
    TStart StartOf(HKEY root, TKeyNames path);
    THiveKey* Walk(const TKeyLocation& location);
    // The key of a location on the trees as its open checked them: the key it keeps while its tree is
    // unchanged, else found again by its path.
    THiveKey* KeyOf(const TKeyLocation& location);
    // Gives the entry's tree a new version (its keys found before are not used again).
    void Renew(TCachedHive& entry);
    // The value of an open key on the trees as its open checked them (FMutex held), or null.
    const THiveValue* FindValue(const TKeyLocation& location, const std::string& name);
    // Follows the path in FRemaining from a start; with Create, makes missing keys (in one hive, recorded in
    // Created). Location's path reuses what it held.
    TRegistryStatus Resolve(TStart start, bool followLast, bool create, TKeyLocation& location,
                            THiveKey*& key, std::optional<THiveFile>& created);
    // Runs Change, with FMutex held and the call begun, on trees checked again under the prefix's writers'
    // lock, then saves the hives it changed (outside a batch); the checks that every write makes first (the
    // prefix, a running wineserver) are made here. Change marks what it changed with MarkChanged.
    TRegistryStatus WriteUnderLock(const std::function<TRegistryStatus()>& change);
    void MarkChanged(THiveFile hive);
    // Takes the text of every changed hive (FMutex held), in the order of their last changes.
    std::vector<TPendingSave> TakeChanged();
    // Writes the taken texts in their order (FMutex not held) and records the new files (FMutex taken for
    // that); after a failed write the rest are not written, and their changes are dropped.
    bool SaveTaken(std::vector<TPendingSave>& saves);
    bool WriteHiveFile(const TPendingSave& save);
    void Invalidate(THiveFile hive);
    void DropChanged();
    std::chrono::milliseconds WriterWait() const;

    std::mutex FMutex;
    // Serialises this process's writers; the batch's thread holds it from its begin to its end.
    std::recursive_timed_mutex FWriteMutex;
    // Owned under FWriteMutex: the open batch and the writers' lock file it holds.
    int FBatchDepth = 0;
    std::unique_ptr<TWritersLock> FBatchLock;
    std::filesystem::path FBatchPrefix;
    std::optional<std::thread::id> FBatchThread;
    std::unordered_map<std::string, TCachedHive> FHives;
    uint64_t FPrefixNumber = 0;
    std::filesystem::path FPrefix;
    std::filesystem::path FFiles[3];
    TCachedHive* FEntries[3] = {};
    int FWatches[3] = {};
    uint64_t FVersions = 0;
    // The names that Resolve follows, and the link targets they may be views of (FMutex held).
    std::vector<std::string_view> FRemaining;
    std::vector<std::string_view> FFollowing;
    std::vector<std::unique_ptr<std::string>> FTargets;
    bool FChecked[3] = {};
    bool FGenerationsRead = false;
    bool FUnderWritersLock = false;
    std::array<uint64_t, 3> FGenerations{};
};

} // namespace platform
