#include "platform/systemInfo.h"

#include "platform/winePath.h"

#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
std::mutex gModuleMutex;
std::filesystem::path gModuleFileForTesting;

std::filesystem::path ReadOwnFile() {
    std::error_code error;
    std::string own = std::filesystem::read_symlink("/proc/self/exe", error).string();
    // A program file that was replaced before this was read is still the one the program started from.
    const std::string deleted = " (deleted)";
    if (own.size() > deleted.size() && own.compare(own.size() - deleted.size(), deleted.size(), deleted) == 0)
        own.resize(own.size() - deleted.size());
    return own;
}

// Read as the program starts: once its file is replaced (Update installs a new KV.exe over the running
// one), /proc names the old file "... (deleted)", while the program's own path is still where it started.
const std::filesystem::path gStartedFrom = ReadOwnFile();
} // namespace

std::string GetUserName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0')
        return user;
    // getpwuid shares one buffer between threads; the reentrant form fills one of the caller's.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr)
        return found->pw_name;
    return {};
}

std::string GetWindowsDirectory() {
    return "C:\\windows";
}

std::string GetSystemDirectory() {
    return "C:\\windows\\system32";
}

std::filesystem::path ModuleFilePath() {
    {
        std::lock_guard lock(gModuleMutex);
        if (!gModuleFileForTesting.empty())
            return gModuleFileForTesting;
    }
    return gStartedFrom;
}

std::string GetModuleFileName() {
    return ToWindowsPath(ModuleFilePath());
}

void SetModuleFileNameForTesting(const std::filesystem::path& programFile) {
    std::lock_guard lock(gModuleMutex);
    gModuleFileForTesting = programFile;
}

} // namespace platform
