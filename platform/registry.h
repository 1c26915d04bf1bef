#pragma once

#include "platform/stringList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

// Registry roots and access rights with the platform's values.
using HKEY = uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;

// The root that an exact, case-sensitive full root name ("HKEY_LOCAL_MACHINE"...) stands for, as the system
// writes roots at the head of its paths; nothing for any other text (abbreviations included).
std::optional<HKEY> RootKeyOfName(const std::string& name);

// The key that a full key path ("HKEY_CLASSES_ROOT\Wow6432Node\CLSID") really is: its root's alias and
// every link key on the way resolved, the last component's link too when FollowLast, spelled from the
// root of the registry file it lies in ("HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\CLSID";
// HKEY_CURRENT_USER also for the user's own key of HKEY_USERS, and HKEY_USERS\.Default) with the names as
// stored; a part that does not exist is kept as given. Empty when the root or the user's key is unknown.
std::string ResolveKeyPath(const std::string& fullKeyPath, bool followLast);

inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// Value types with the platform's numbers.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_LINK = 6;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// The accessor's error: "Invalid data type for '%s'" and "Failed to set data for '%s'".
class ERegistryException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TRegistrySession;

// The class library's registry accessor over the machine's registry. It holds a root key, at most one open
// key and the access of that open key. Key paths that begin with a backslash are taken from the root; other
// paths from the open key when there is one, else from the root. Names of keys and values are matched
// without regard to case; enumeration follows the registry's own order.
class TRegistry {
public:
    // Root HKEY_CURRENT_USER with the given access (full access by default).
    explicit TRegistry(uint32_t access = KEY_ALL_ACCESS);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return FRootKey; }
    // Closes the open key and sets the root.
    void SetRootKey(HKEY root);
    uint32_t Access() const { return FAccess; }
    void SetAccess(uint32_t access) { FAccess = access; }

    // Opens Key with the current access (read and write unless Access says otherwise), creating it (and the
    // keys above it) when CanCreate. False when it does not exist (and is not to be created), or when write
    // access is asked and its registry file cannot be written (no prefix, a read-only file, a file that did
    // not parse completely). On success the new key replaces the open one; a failed open leaves it open.
    bool OpenKey(const std::string& key, bool canCreate);
    // Opens Key for reading only; sets Access to KEY_READ, which later opens keep until SetAccess.
    bool OpenKeyReadOnly(const std::string& key);
    void CloseKey();
    bool HasCurrentKey() const;
    // The path of the open key below the root, without a leading backslash.
    const std::string& CurrentPath() const { return FCurrentPath; }

    // Whether Key exists (tested read-only, opening nothing that stays open).
    bool KeyExists(const std::string& key);
    // Value existence and reading on the open key; false/empty without one.
    bool ValueExists(const std::string& name);
    // The data type of a value, or -1 when it does not exist.
    int GetDataType(const std::string& name);
    void GetKeyNames(TStringList& names);
    void GetValueNames(TStringList& names);

    // The text of a REG_SZ or REG_EXPAND_SZ value (not expanded). A missing value, or a value without data,
    // reads as empty text; a value of another type throws "Invalid data type for '<name>'".
    std::string ReadString(const std::string& name);
    // Writes a REG_SZ value on the open key; throws "Failed to set data for '<name>'" when no key is open
    // for writing or the write is refused (a wineserver runs for the prefix, the file cannot be saved).
    void WriteString(const std::string& name, const std::string& value);

    // Deletes Key with all its subkeys and values; a link key is deleted as a link, its target untouched.
    // False when it does not exist or cannot be deleted.
    bool DeleteKey(const std::string& key);
    // Deletes a value of the open key; "" names the default value.
    bool DeleteValue(const std::string& name);

private:
    TRegistrySession& Session();

    HKEY FRootKey = HKEY_CURRENT_USER;
    uint32_t FAccess = KEY_ALL_ACCESS;
    std::string FCurrentPath;
    std::unique_ptr<TRegistrySession> FSession;
};

// A batch of registry changes for one job (a removal): while it is open, the changes that this thread makes
// through any TRegistry are made in memory (every reader of this process sees them at once), and Commit
// saves each changed registry file once, the file changed last saved last (a removal deletes its
// Uninstall entry last, so an interrupted commit still shows the program installed). A change that fails
// inside the batch changes nothing and leaves the batch's other changes standing; the caller commits them or
// lets the batch go, which drops them all. Other threads' changes wait for the end of the batch (a bounded
// wait, then they fail). Begin, commit and end on the same thread; batches nest, and the outermost decides.
// See TWineRegistry for the details.
class TRegistryBatch {
public:
    // Begins the batch; Begun tells whether it could (not while a wineserver runs for the prefix, nor
    // without a prefix, nor while another program's writer holds the registry past the bounded wait).
    TRegistryBatch();
    // Abandons the batch unless it was committed.
    ~TRegistryBatch();
    TRegistryBatch(const TRegistryBatch&) = delete;
    TRegistryBatch& operator=(const TRegistryBatch&) = delete;

    bool Begun() const { return FOpen; }
    // Saves the batch's changes and ends it; true when every changed file was saved.
    bool Commit();
    // Ends the batch and drops its changes.
    void Abandon();

private:
    bool FOpen = false;
};

} // namespace platform
