#pragma once

#include <cstdint>
#include <string>

// The one gate before every deletion and every process end: nothing that is not a program's own is ever
// removed, whatever the database or the registry names. A refusal answers false, and the caller treats it
// like any other failed step.
namespace safetyGuard {

// A folder tree (a full Windows path) that may be deleted: not a drive root, the Windows, System, Program
// Files or Common Files folder, a special folder, a folder that holds one of these, nor a folder whose real
// place on Linux is "/" or the home folder or holds either.
bool MayDeleteFolder(const std::string& folder);

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
