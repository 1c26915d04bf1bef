#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One process of a snapshot, as the Tool Help walk gives it: its id, its parent's id and its program-file
// text. A process that Wine runs is named by its Windows path (argv[0], "C:\windows\system32\ping.exe"), a
// native one by its program file as a Windows path ("Z:\usr\bin\sleep").
struct TProcessEntry {
    uint32_t ProcessId = 0;
    uint32_t ParentProcessId = 0;
    std::string ExeFile;
};

// The running processes of the current user (the same real user id), in the order of /proc. Zombies and
// kernel threads are left out; so are processes that end while the walk reads them.
std::vector<TProcessEntry> CreateProcessSnapshot();

// Ends a process at once (SIGKILL), as TerminateProcess does. False when no such process exists or the
// signal is not permitted.
bool TerminateProcess(uint32_t processId);

// The running program's own process, and the parent of a process (0 when it is unknown or gone).
uint32_t GetCurrentProcessId();
uint32_t GetParentProcessId(uint32_t processId);

} // namespace platform
