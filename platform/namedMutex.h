#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A handle of the platform: null when an operation failed.
using HANDLE = void*;

inline constexpr uint32_t MUTEX_ALL_ACCESS = 0x1F0001;

// Named mutexes as markers between processes: a mutex is an exclusive flock on a file named after it in
// $XDG_RUNTIME_DIR (else in a folder of the user's own under the temporary folder), held by the process that
// created it for as long as it lives; the kernel releases it when the process ends, however it ends.

// A handle when a mutex of that name exists (another process, or another handle of this one, holds it);
// null otherwise.
HANDLE OpenMutexA(uint32_t desiredAccess, bool inheritHandle, const std::string& name);
// Creates the mutex and holds it through the handle. A name that exists already gives a handle that does
// not hold it (the platform's ERROR_ALREADY_EXISTS case); null when the file cannot be made.
HANDLE CreateMutexA(const void* securityAttributes, bool initialOwner, const std::string& name);
// Closes a handle of this unit; a held mutex is released.
bool CloseHandle(HANDLE handle);

} // namespace platform
