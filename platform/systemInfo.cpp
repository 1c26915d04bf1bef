#include "platform/systemInfo.h"

#include "platform/winePath.h"

#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {
std::mutex gModuleMutex;
std::filesystem::path gModuleFileForTesting;
} // namespace

std::string GetUserName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0')
        return user;
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return entry->pw_name;
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
