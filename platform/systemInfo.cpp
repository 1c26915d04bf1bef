#include "platform/systemInfo.h"

#include "platform/winePath.h"

#include <cstdlib>
#include <mutex>
#include <optional>
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

std::mutex gAccountMutex;
std::function<TUserAccount()> gAccountLookupForTesting;
std::optional<TUserAccount> gAccount;

TUserAccount ReadPasswordEntry() {
    // getpwuid shares one buffer between threads; the reentrant form fills one of the caller's.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    TUserAccount account;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        if (found->pw_name != nullptr)
            account.Name = found->pw_name;
        if (found->pw_dir != nullptr)
            account.Home = found->pw_dir;
    }
    return account;
}
} // namespace

TUserAccount UserAccount() {
    std::lock_guard lock(gAccountMutex);
    if (!gAccount)
        gAccount = gAccountLookupForTesting ? gAccountLookupForTesting() : ReadPasswordEntry();
    return *gAccount;
}

void SetUserAccountLookupForTesting(std::function<TUserAccount()> lookup) {
    std::lock_guard lock(gAccountMutex);
    gAccountLookupForTesting = std::move(lookup);
    gAccount.reset();
}

std::string GetUserName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0')
        return user;
    return UserAccount().Name;
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
