#pragma once

#include <cstdint>
#include <string>

// The one gate before every deletion and every process end: nothing that is not a program's own is ever
// removed, whatever the database or the registry names. A refusal answers false, and the caller treats it
// like any other failed step.
namespace safetyGuard {

// A folder tree (a full Windows path) that may be deleted: its real place on Linux (links resolved) lies
// inside the prefix's drive_c, and it is not a drive root, the Windows, System, Program Files or Common
// Files folder, a special folder, a folder that holds one of these, nor a folder whose real place is "/" or
// the home folder or holds either.
bool MayDeleteFolder(const std::string& folder);

// A single file (a database item of a removal) that may be deleted: its real place lies inside the prefix's
// drive_c and outside the running program's own folder.
bool MayDeleteFile(const std::string& file);

// A program's shell entry that the removal found by its name directly in a special folder (the full path of
// the entry), which may go although Wine may link that folder into the home folder: as a single file, when
// its name is a fit shell-entry name and, outside drive_c, a shortcut (.lnk, .url, .pif, .desktop) lying in
// the folder's real place; as a tree (a folder of entries in one of the four menu folders), when its real
// place lies strictly inside the menu folder's and it is no special folder nor holds one.
bool MayDeleteShellEntryFile(const std::string& entry);
bool MayDeleteShellEntryTree(const std::string& entry);

// A registry key (full path, "HKEY_LOCAL_MACHINE\Software\Vendor") that may be deleted: not a root, not a key
// one level below a root, not one of the shared keys (Software\Classes, Software\Microsoft, ...\Windows,
// ...\CurrentVersion and its shared keys, Software\Wine, Software\Policies, Software\Wow6432Node,
// Software\Clients, System, its control sets and their Services keys). Keys below those stay allowed.
bool MayDeleteRegistryKey(const std::string& fullKeyPath);

// A service name that may be stopped and deleted: not empty and without a backslash.
bool MayRemoveService(const std::string& serviceName);

// A shell entry name (a desktop or menu entry) that may be deleted: not blank, no path separator, no "..".
bool MayDeleteShellEntry(const std::string& entryName);

// A process that may be ended: not the running program, not Update, not the wineserver nor Wine's own
// system processes.
bool MayEndProcess(uint32_t processId, const std::string& exeFile);

} // namespace safetyGuard
