#include "platform/systemInfo.h"

#include "platform/winePath.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string OutputOf(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    std::array<char, 512> buffer{};
    while (pipe && fgets(buffer.data(), static_cast<int>(buffer.size()), pipe.get()) != nullptr)
        output += buffer.data();
    return output;
}

TEST(SystemInfo, TheOwnFileIsWhereTheProgramStartedAlsoAfterItWasReplaced) {
    TTempMachine machine;
    const fs::path program = machine.ProgramFolder() / "KV.exe";
    fs::copy_file(KORVANE_OWN_FILE_PROBE, program);
    const fs::path real = fs::canonical(program);
    EXPECT_EQ(OutputOf("'" + program.string() + "'"),
              real.string() + "\n" + platform::ToWindowsPath(real) + "\n");
}

TEST(SystemInfo, TheUserNameIsUserElseTheLoginName) {
    TTempMachine machine;
    EXPECT_EQ(platform::GetUserName(), TTempMachine::UserName);
    unsetenv("USER");
    EXPECT_FALSE(platform::GetUserName().empty());
}

// The password database is a file the C library reads on every lookup: a scan asks for the user name for
// every path it expands, so the account is looked up once for the whole process.
TEST(SystemInfo, TheAccountIsLookedUpOnceWhileUserAndHomeAreReadAtEveryCall) {
    TTempMachine machine;
    int lookups = 0;
    platform::SetUserAccountLookupForTesting([&lookups] {
        ++lookups;
        return platform::TUserAccount{"alice", "/home/alice"};
    });
    struct TRealLookup {
        ~TRealLookup() { platform::SetUserAccountLookupForTesting(nullptr); }
    } restore;

    EXPECT_EQ(platform::GetUserName(), TTempMachine::UserName);
    EXPECT_EQ(platform::HomeFolder(), machine.Home());
    EXPECT_EQ(lookups, 0);
    {
        TScopedVariable user("USER", nullptr);
        TScopedVariable home("HOME", nullptr);
        for (int call = 0; call < 100; ++call) {
            EXPECT_EQ(platform::GetUserName(), "alice");
            EXPECT_EQ(platform::HomeFolder(), fs::path("/home/alice"));
        }
        EXPECT_EQ(lookups, 1);
        // An empty USER counts as none; a USER set later is seen at once.
        TScopedVariable empty("USER", "");
        EXPECT_EQ(platform::GetUserName(), "alice");
        TScopedVariable later("USER", "bob");
        EXPECT_EQ(platform::GetUserName(), "bob");
    }
    EXPECT_EQ(platform::GetUserName(), TTempMachine::UserName);
    EXPECT_EQ(lookups, 1);
}

} // namespace
