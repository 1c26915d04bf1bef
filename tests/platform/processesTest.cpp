#include "platform/processes.h"

#include "platform/winePath.h"
#include "support/childProcess.h"
#include "support/tempMachine.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::optional<platform::TProcessEntry> FindEntry(uint32_t processId) {
    for (const auto& entry : platform::CreateProcessSnapshot())
        if (entry.ProcessId == processId)
            return entry;
    return std::nullopt;
}

// How a process is named in the snapshot: a native program by its file, a Wine loader by its argv[0] when
// that is a Windows path.
struct TNamingCase {
    const char* Label;
    const char* ProgramFile; // below the test machine's root
    const char* ArgumentZero;
    const char* Expected; // empty: the program file's Windows path
};

class ProcessNaming : public ::testing::TestWithParam<TNamingCase> {};

TEST_P(ProcessNaming, SnapshotNamesTheProcess) {
    TTempMachine machine;
    const auto& param = GetParam();
    fs::path program = machine.Root() / param.ProgramFile;
    TChildProcess::CopySleepProgram(program);
    TChildProcess child;
    ASSERT_TRUE(child.Start(program, {param.ArgumentZero, "60"}));

    auto entry = FindEntry(child.ProcessId());
    ASSERT_TRUE(entry.has_value());
    std::string expected = *param.Expected != '\0' ? param.Expected : platform::ToWindowsPath(program);
    EXPECT_EQ(entry->ExeFile, expected);
    EXPECT_EQ(entry->ParentProcessId, platform::GetCurrentProcessId());
}

INSTANTIATE_TEST_SUITE_P(
    Programs, ProcessNaming,
    ::testing::Values(
        TNamingCase{"Native", "prefix/drive_c/Program Files/Acme/victim.exe", "victim", ""},
        TNamingCase{"NativeOutsideDrives", "bin/victim.exe", "C:\\not\\me.exe", ""},
        TNamingCase{"Wine64", "wine/bin/wine64", "C:\\Program Files\\AcmeCorp\\AcmeTool\\acmeping.exe",
                    "C:\\Program Files\\AcmeCorp\\AcmeTool\\acmeping.exe"},
        TNamingCase{"WinePreloader", "bin/wine-preloader", "C:\\windows\\system32\\ping.exe",
                    "C:\\windows\\system32\\ping.exe"},
        TNamingCase{"LoaderUnderWineFolder", "lib/wine/x86_64-unix/loader", "start.exe", "start.exe"},
        // Wine's own native helpers keep a Linux path as argv[0]; they are named by their file.
        TNamingCase{"WineHelperWithLinuxName", "lib/wine/wineserver64", "/usr/lib/wine/wineserver64", ""}),
    [](const auto& testCase) { return std::string(testCase.param.Label); });

TEST(ProcessSnapshot, HoldsTheRunnerAndLeavesOutOthersAndTheEnded) {
    TTempMachine machine;
    fs::path program = machine.Root() / "victim.exe";
    TChildProcess::CopySleepProgram(program);

    auto self = FindEntry(platform::GetCurrentProcessId());
    ASSERT_TRUE(self.has_value());
    EXPECT_EQ(self->ExeFile, platform::ToWindowsPath(fs::read_symlink("/proc/self/exe")));

    // Another user's process is not the user's own.
    TChildProcess other;
    ASSERT_TRUE(other.Start(program, {"victim.exe", "60"}, 65534));
    EXPECT_FALSE(FindEntry(other.ProcessId()).has_value());
    EXPECT_TRUE(other.Running());

    // An ended process that nobody has reaped yet (a zombie) is gone from the snapshot.
    TChildProcess ended;
    ASSERT_TRUE(ended.Start(program, {"victim.exe", "60"}));
    ASSERT_TRUE(FindEntry(ended.ProcessId()).has_value());
    ASSERT_TRUE(platform::TerminateProcess(ended.ProcessId()));
    for (int i = 0; i < 500 && ended.Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(FindEntry(ended.ProcessId()).has_value());
    EXPECT_TRUE(ended.ReapKilled());

    // No kernel thread (they have no program file) and nothing of pid 0.
    for (const auto& entry : platform::CreateProcessSnapshot()) {
        EXPECT_NE(entry.ProcessId, 0u);
        EXPECT_FALSE(entry.ExeFile.empty());
    }
}

TEST(ProcessSnapshot, AnEntryEndsOnlyTheProcessThatTheSnapshotSaw) {
    TTempMachine machine;
    fs::path program = machine.Root() / "victim.exe";
    TChildProcess::CopySleepProgram(program);
    TChildProcess child;
    ASSERT_TRUE(child.Start(program, {"victim.exe", "60"}));
    auto entry = FindEntry(child.ProcessId());
    ASSERT_TRUE(entry.has_value());
    ASSERT_NE(entry->StartTime, 0u);

    // The same number held by a process that started at another time (the number was reused).
    platform::TProcessEntry reused = *entry;
    reused.StartTime = entry->StartTime + 1;
    EXPECT_FALSE(platform::TerminateProcess(reused));
    reused.StartTime = 0;
    EXPECT_FALSE(platform::TerminateProcess(reused));
    EXPECT_TRUE(child.Running());

    EXPECT_TRUE(platform::TerminateProcess(*entry));
    EXPECT_TRUE(child.ReapKilled());
    // Ended and reaped: the entry hits nothing any more.
    EXPECT_FALSE(platform::TerminateProcess(*entry));
}

TEST(ProcessSnapshot, TerminateAndParentOfProcessesThatDoNotExist) {
    EXPECT_FALSE(platform::TerminateProcess(0));
    EXPECT_FALSE(platform::TerminateProcess(0x7FFFFFF0));
    EXPECT_EQ(platform::GetParentProcessId(0x7FFFFFF0), 0u);
    EXPECT_EQ(platform::GetParentProcessId(platform::GetCurrentProcessId()),
              static_cast<uint32_t>(getppid()));
}

} // namespace
