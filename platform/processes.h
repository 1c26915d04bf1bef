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
    // When the process started (clock ticks since boot): a process number that was reused belongs to a
    // process that started later.
    uint64_t StartTime = 0;
};

// The running processes of the current user (the same real user id), in the order of /proc. Zombies and
// kernel threads are left out; so are processes that end while the walk reads them.
std::vector<TProcessEntry> CreateProcessSnapshot();

// Ends a process at once (SIGKILL), as TerminateProcess does. False when no such process exists or the
// signal is not permitted.
bool TerminateProcess(uint32_t processId);
// Ends the process of a snapshot entry only while its number still belongs to that process (the same start
// time): a process that ended and whose number a new process took is never hit. The check and the signal
// go to one process handle (a pidfd), so the number cannot change hands between them.
bool TerminateProcess(const TProcessEntry& entry);

// The running program's own process, and the parent of a process (0 when it is unknown or gone).
uint32_t GetCurrentProcessId();
uint32_t GetParentProcessId(uint32_t processId);

} // namespace platform
