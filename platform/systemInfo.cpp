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
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::string GetModuleFileName() {
    return ToWindowsPath(ModuleFilePath());
}

void SetModuleFileNameForTesting(const std::filesystem::path& programFile) {
    std::lock_guard lock(gModuleMutex);
    gModuleFileForTesting = programFile;
}

} // namespace platform
