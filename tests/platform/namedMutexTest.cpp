#include "platform/namedMutex.h"

#include "support/tempMachine.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class NamedMutex : public ::testing::Test {
protected:
    TTempMachine FMachine;
};

bool Exists(const std::string& name) {
    platform::HANDLE handle = platform::OpenMutexA(platform::MUTEX_ALL_ACCESS, false, name);
    platform::CloseHandle(handle);
    return handle != nullptr;
}

} // namespace

TEST_F(NamedMutex, ExistsWhileAHandleHoldsIt) {
    EXPECT_FALSE(Exists("KV_S_EXISTS"));
    platform::HANDLE held = platform::CreateMutexA(nullptr, false, "KV_S_EXISTS");
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(Exists("KV_S_EXISTS"));
    EXPECT_FALSE(Exists("kv_s_exists")) << "names are case-sensitive";
    EXPECT_FALSE(Exists("Other"));
    // A second creation of an existing name gives a handle that does not hold it.
    platform::HANDLE second = platform::CreateMutexA(nullptr, false, "KV_S_EXISTS");
    ASSERT_NE(second, nullptr);
    platform::CloseHandle(second);
    EXPECT_TRUE(Exists("KV_S_EXISTS"));
    platform::CloseHandle(held);
    EXPECT_FALSE(Exists("KV_S_EXISTS"));
    EXPECT_FALSE(platform::CloseHandle(nullptr));
    // The marker lives in the user's runtime folder.
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "mutex-KV_S_EXISTS"));
}

TEST_F(NamedMutex, NamesWithSlashesStayInTheRuntimeFolder) {
    platform::HANDLE held = platform::CreateMutexA(nullptr, false, "Global/../x");
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(Exists("Global/../x"));
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "mutex-Global_.._x"));
    platform::CloseHandle(held);
}

TEST_F(NamedMutex, WithoutARuntimeFolderAFolderOfTheUsersOwnServes) {
    const std::string runtime = std::getenv("XDG_RUNTIME_DIR");
    ::unsetenv("XDG_RUNTIME_DIR");
    platform::HANDLE held = platform::CreateMutexA(nullptr, false, "KV_S_EXISTS");
    EXPECT_TRUE(Exists("KV_S_EXISTS"));
    platform::CloseHandle(held);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::filesystem::path folder =
        std::filesystem::path(std::getenv("TMPDIR")) / ("korvane-" + std::to_string(::getuid()));
    EXPECT_TRUE(std::filesystem::exists(folder / "mutex-KV_S_EXISTS"));
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(NamedMutex, TheSystemReleasesItWhenTheHolderIsKilled) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        platform::CreateMutexA(nullptr, false, "Held");
        char done = 1;
        (void)!::write(ready[1], &done, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char done = 0;
    ASSERT_EQ(::read(ready[0], &done, 1), 1);
    ::close(ready[0]);
    EXPECT_TRUE(Exists("Held"));
    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    EXPECT_FALSE(Exists("Held"));
}
