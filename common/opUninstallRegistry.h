#pragma once

#include "common/imageList.h"
#include "platform/registry.h"
#include "platform/stringList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

// The description of one Uninstall entry. Every text is empty and the tag 0 when no entry was found.
struct TUNINSTALL_DES {
    std::string KeyName;     // the entry's subkey name under the Uninstall key
    std::string DisplayName; // the name that was asked for, as the caller gave it
    int32_t Tag = 0;
    std::string DisplayVersion;
    std::string InstallDate; // as FormatInstallDate turns it
    std::string InstallLocation;
    std::string HelpLink;
    std::string Publisher;
    std::string URLInfoAbout;
    std::string URLUpdateInfo;
    std::string UninstallString;

    bool operator==(const TUNINSTALL_DES&) const = default;
};

// The lines of a software row: GetSoftwareRow appends these four for each matching entry.
namespace SoftwareRow {
inline constexpr int DisplayName = 0;
inline constexpr int InstallDate = 1;
inline constexpr int Publisher = 2;
inline constexpr int IconIndex = 3;
inline constexpr int LinesPerEntry = 4;
} // namespace SoftwareRow

// The registry side of the uninstaller: Uninstall entries (find, list, describe, delete, the row a scan shows
// with the program's icon), registry items named by a full path, the traces a program leaves beside its
// Uninstall entry, install folders named by registry values, service keys, the start-up value and two
// folders. Every operation sets its root, opens keys without creating them, searches HKEY_LOCAL_MACHINE
// before HKEY_CURRENT_USER, and closes its key before it returns, also when the accessor's error
// (platform::ERegistryException) passes through it. Every key deletion is asked of the safety guard first.
class TURegistryOp {
public:
    // Item kinds of item lines that this class deletes and produces.
    static constexpr uint16_t KindFile = 1;
    static constexpr uint16_t KindRegistryKey = 2;
    static constexpr uint16_t KindRegistryValue = 3;

    static constexpr const char* UninstallKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    static constexpr const char* RunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    // The start-up value of KV.
    static constexpr const char* RunValueName = "Rudarorovod";

    TURegistryOp();
    virtual ~TURegistryOp();
    TURegistryOp(const TURegistryOp&) = delete;
    TURegistryOp& operator=(const TURegistryOp&) = delete;

    // ---- Uninstall entries ----

    // The full path ("HKEY_CURRENT_USER\Software\...\Uninstall\<key>") of the entry whose trimmed DisplayName
    // equals the name exactly; the HKEY_CURRENT_USER entry when both roots hold one; empty text when none.
    std::string FindUninstallKey(const std::string& displayName);
    // Every non-empty trimmed DisplayName under both roots, duplicates kept; the number listed.
    int ListInstalledNames(platform::TStringList& names);
    TUNINSTALL_DES GetUninstallDes(const std::string& displayName, int32_t tag);
    // yyyymmdd digits as "mmm dd,yyyy"; text holding '-' or ',' unchanged; empty for blanks or a bad date.
    std::string FormatInstallDate(const std::string& raw);
    // The four lines per matching entry that has an UninstallString (HKEY_LOCAL_MACHINE first), adding the
    // entry's icon to both lists; the number of lines: 0, 4 or 8. Inside a lookup scope the entries are
    // walked once per scope and object (see TUninstallIndex); outside one every call walks them.
    int GetSoftwareRow(const std::string& displayName, TImageList& smallList, TImageList& largeList,
                       platform::TStringList& row);
    // Icon number IconIndex of FileName appended to both lists; the large list's index, or -1.
    int AddIconToLists(TImageList& smallList, TImageList& largeList, const std::string& fileName,
                       int32_t iconIndex);
    // The icon file of an installer-cache folder (no trailing backslash), or empty text.
    std::string FindMsiIcon(const std::string& folder);
    // Deletes the key FindUninstallKey names; false when there is none or it cannot be deleted.
    bool DeleteUninstallKey(const std::string& displayName);

    // ---- Registry items and program traces ----

    // The root that a full path's first component names exactly; HKEY_CURRENT_CONFIG for anything else.
    static platform::HKEY RootKeyOf(const std::string& path);
    // The text after the last backslash (the whole text without one, empty when it ends with one).
    static std::string LastPathPart(const std::string& path);
    // Deletes a key (kind 2, with everything below it) or a value (kind 3, "<key>\<name>", a trailing
    // backslash naming the default value); false for other kinds, for what does not exist or cannot be
    // deleted, and for what the safety guard refuses.
    bool DeleteRegItem(const std::string& path, uint16_t kind);
    // The item lines (kind digit, then full path) of the registry traces of an installed program. Start-up
    // and App Paths values are searched for the install location only when it is a folder of the program's
    // own (one that the safety guard would let go).
    int GetLeftoverKeys(const std::string& displayName, platform::TStringList& items);
    // The existing folders (lower-case, each once) that the probe values name.
    int GetFoldersFromValues(const platform::TStringList& keyPaths, const platform::TStringList& valueNames,
                             platform::TStringList& folders);
    // Deletes the service's key in ControlSet001, ControlSet002 and CurrentControlSet; true when one existed.
    bool DeleteServiceKeys(const std::string& serviceName);
    // Writes the HKEY_LOCAL_MACHINE Run value; the accessor's "Failed to set data for '<name>'" passes.
    void SetRunValue(const std::string& name, const std::string& data);
    void DeleteRunValue(const std::string& name);
    // A value of the user's Shell Folders key, trimmed, or empty text.
    std::string GetShellFolder(const std::string& name);
    // The Windows folder without a trailing backslash (except a drive root); empty when the system reports
    // none that fits the platform's buffer.
    std::string GetWindowsDir();

private:
    // Takes the root's full name and the entry's key name; false ends the walk of that root.
    using TUninstallVisitor = std::function<bool(const std::string& rootName, const std::string& key)>;

    // For each searched root, the first entry (in enumeration order) that has an UninstallString, by its
    // trimmed DisplayName: the entry GetSoftwareRow accepts for that name. Built by one walk and trusted
    // only inside the lookup scope it was built in, the scope in which the hives are not checked again
    // either; this object's own registry changes drop it.
    struct TUninstallIndex {
        uint64_t Scope = 0;
        std::unordered_map<std::string, std::string> FirstKeyByName[2];
        // The program's own file, the icon of last resort, as the scope's view of the drives names it.
        std::string ModuleFile;
    };

    bool OpenReadWrite(const std::string& key);
    bool OpenReadOnly(const std::string& key);
    // A value of the open Uninstall entry as text; a value of another type reads as empty text.
    std::string ReadEntryText(const std::string& name);
    // Opens each entry under the Uninstall key of each searched root in turn, with write access when
    // ReadWrite, and hands it to Visit.
    void VisitUninstallEntries(bool readWrite, const TUninstallVisitor& visit);
    void VisitRootEntries(size_t rootIndex, bool readWrite, const TUninstallVisitor& visit);
    // The index of the calling thread's lookup scope, walked now when it has none yet; null outside a scope.
    TUninstallIndex* ScopeIndex();
    // Whether the open entry is the one GetSoftwareRow accepts for the name.
    bool AcceptsForRow(const std::string& displayName);
    void AppendRunHits(platform::HKEY root, const std::string& rootName, const std::string& location,
                       platform::TStringList& items);
    void AppendSoftwareKeyHits(platform::HKEY root, const std::string& rootName, const std::string& keyName,
                               const std::string& displayName, platform::TStringList& items);
    int ChooseIcon(TImageList& smallList, TImageList& largeList, const std::string& windowsCache,
                   const std::string& userCache, TUninstallIndex* index);

    std::unique_ptr<platform::TRegistry> FRegistry;
    TUninstallIndex FIndex;
};
