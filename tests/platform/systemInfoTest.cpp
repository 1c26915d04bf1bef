#include "platform/systemInfo.h"

#include "platform/winePath.h"
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

} // namespace
