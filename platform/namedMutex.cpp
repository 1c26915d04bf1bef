#include "platform/namedMutex.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct TMutexHandle {
    int Descriptor = -1; // the locked file, or -1 for a handle that holds nothing
};

std::filesystem::path MutexFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return runtime;
    const char* temporary = std::getenv("TMPDIR");
    std::filesystem::path folder = std::filesystem::path(temporary && *temporary ? temporary : "/tmp") /
                                   ("korvane-" + std::to_string(::getuid()));
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

std::filesystem::path MutexFile(const std::string& name) {
    std::string fileName = "mutex-" + name;
    for (char& c : fileName)
        if (c == '/')
            c = '_';
    return MutexFolder() / fileName;
}

int OpenMutexFile(const std::string& name) {
    return ::open(MutexFile(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

bool TryLock(int descriptor) {
    int result;
    do
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

HANDLE OpenMutexA(uint32_t, bool, const std::string& name) {
    if (name.empty())
        return nullptr;
    const int descriptor = OpenMutexFile(name);
    if (descriptor < 0)
        return nullptr;
    // Nobody holds the lock: no such mutex. (The probe holds it for a moment only.)
    const bool free = TryLock(descriptor);
    ::close(descriptor);
    if (free)
        return nullptr;
    return std::make_unique<TMutexHandle>().release();
}

HANDLE CreateMutexA(const void*, bool, const std::string& name) {
    if (name.empty())
        return std::make_unique<TMutexHandle>().release();
    const int descriptor = OpenMutexFile(name);
    if (descriptor < 0)
        return nullptr;
    if (!TryLock(descriptor)) {
        ::close(descriptor);
        return std::make_unique<TMutexHandle>().release();
    }
    return std::make_unique<TMutexHandle>(TMutexHandle{descriptor}).release();
}

bool CloseHandle(HANDLE handle) {
    const std::unique_ptr<TMutexHandle> mutex(static_cast<TMutexHandle*>(handle));
    if (!mutex)
        return false;
    if (mutex->Descriptor >= 0)
        ::close(mutex->Descriptor);
    return true;
}

} // namespace platform
