#include "platform/shellExecute.h"

#include "platform/namedMutex.h"
#include "platform/winePath.h"
#include "support/tempMachine.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Reads what a started program writes into a FIFO: opening it waits for the writer, reading ends when the
// writer closes it, so nothing here sleeps.
std::string ReadFifo(const fs::path& fifo) {
    std::ifstream in(fifo);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::multimap<std::string, std::string> Fields(const std::string& report) {
    std::multimap<std::string, std::string> fields;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        if (const size_t equals = line.find('='); equals != std::string::npos)
            fields.emplace(line.substr(0, equals), line.substr(equals + 1));
    return fields;
}

class ShellExecute : public ::testing::Test {
protected:
    void SetUp() override {
        FFifo = FMachine.Root() / "report.fifo";
        ASSERT_EQ(::mkfifo(FFifo.c_str(), 0600), 0);
        FSavedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    }
    void TearDown() override {
        for (pid_t started : FStarted)
            ::kill(started, SIGKILL);
        ::setenv("PATH", FSavedPath.c_str(), 1);
        ::unsetenv("KORVANE_TEST_FIFO");
    }

    // Copies the probe into the machine's program folder, as a program would be installed there.
    std::string InstallProbe() {
        const fs::path probe = FMachine.DriveC() / "Program Files" / "Probe" / "probe.exe";
        fs::create_directories(probe.parent_path());
        fs::copy_file(KORVANE_SHELL_PROBE, probe);
        return "C:\\Program Files\\Probe\\probe.exe";
    }

    std::multimap<std::string, std::string> StartProbe(const std::string& extraParameters,
                                                       const std::string& directory = "") {
        const std::string program = InstallProbe();
        const std::string parameters =
            FFifo.string() + " " + std::to_string(::getpid()) + " " + extraParameters;
        EXPECT_GT(
            platform::ShellExecuteA(nullptr, "open", program, parameters, directory, platform::SW_SHOWNORMAL),
            32);
        auto fields = Fields(ReadFifo(FFifo));
        if (fields.count("pid"))
            FStarted.push_back(std::stoi(fields.find("pid")->second));
        return fields;
    }

    // An xdg-open of the test's own on PATH that writes its argument into the FIFO.
    void InstallOpener() {
        const fs::path bin = FMachine.Root() / "bin";
        fs::create_directories(bin);
        std::ofstream(bin / "xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > \"$KORVANE_TEST_FIFO\"\n";
        fs::permissions(bin / "xdg-open", fs::perms::owner_all);
        ::setenv("PATH", (bin.string() + ":" + FSavedPath).c_str(), 1);
        ::setenv("KORVANE_TEST_FIFO", FFifo.c_str(), 1);
    }

    TTempMachine FMachine;
    fs::path FFifo;
    std::string FSavedPath;
    std::vector<pid_t> FStarted;
};

} // namespace

TEST_F(ShellExecute, AProgramStartsDetachedSoThatItMayEndItsStarter) {
    const auto fields = StartProbe("plain \"two words\"");
    ASSERT_EQ(fields.count("pid"), 1u);
    EXPECT_NE(std::stoi(fields.find("parent")->second), ::getpid());
    EXPECT_EQ(fields.find("mayEndStarter")->second, "1");
    std::vector<std::string> arguments;
    for (auto [it, end] = fields.equal_range("argument"); it != end; ++it)
        arguments.push_back(it->second);
    EXPECT_EQ(arguments, (std::vector<std::string>{"plain", "two words"}));
}

TEST_F(ShellExecute, AProgramStartsInTheGivenFolder) {
    FMachine.MakeFolder("C:\\Work Folder");
    const auto fields = StartProbe("", "C:\\Work Folder");
    ASSERT_EQ(fields.count("folder"), 1u);
    EXPECT_EQ(fs::path(fields.find("folder")->second), fs::canonical(FMachine.HostPath("C:\\Work Folder")));
}

TEST_F(ShellExecute, AStartedProgramDoesNotInheritTheStartersMutex) {
    platform::HANDLE mutex = platform::CreateMutexA(nullptr, false, "ShellExecuteTest");
    ASSERT_NE(mutex, nullptr);
    const auto fields = StartProbe("");
    ASSERT_EQ(fields.count("pid"), 1u);
    // The probe still runs; once the starter lets go, the name is free.
    platform::CloseHandle(mutex);
    EXPECT_EQ(platform::OpenMutexA(platform::MUTEX_ALL_ACCESS, false, "ShellExecuteTest"), nullptr);
}

TEST_F(ShellExecute, AddressesAndDocumentsGoToTheDesktopOpener) {
    InstallOpener();
    FMachine.WriteFile("C:\\Docs\\read me.txt", "text");
    const struct {
        std::string File, Expected;
    } cases[] = {
        {"https://korvane.example.org/help.php", "https://korvane.example.org/help.php"},
        {"mailto:support@korvane.example.org", "mailto:support@korvane.example.org"},
        {"MAILTO:someone@example.org", "MAILTO:someone@example.org"},
        {"C:\\docs\\READ ME.txt", FMachine.HostPath("C:\\Docs\\read me.txt").string()},
    };
    for (const auto& test : cases) {
        EXPECT_GT(platform::ShellExecuteA(nullptr, "open", test.File, "", "", platform::SW_SHOWNORMAL), 32)
            << test.File;
        EXPECT_EQ(ReadFifo(FFifo), test.Expected);
    }
}

TEST_F(ShellExecute, FailuresAreReportedByTheResult) {
    InstallOpener();
    EXPECT_EQ(
        platform::ShellExecuteA(nullptr, "open", "C:\\missing\\file.exe", "", "", platform::SW_SHOWNORMAL),
        platform::SE_ERR_FNF);
    EXPECT_EQ(platform::ShellExecuteA(nullptr, "open", InstallProbe(), "", "C:\\no such folder",
                                      platform::SW_SHOWNORMAL),
              platform::SE_ERR_FNF);
    EXPECT_EQ(
        platform::ShellExecuteA(nullptr, "print", "https://example.org", "", "", platform::SW_SHOWNORMAL),
        platform::SE_ERR_NOASSOC);
    ::setenv("PATH", (FMachine.Root() / "empty").c_str(), 1);
    EXPECT_EQ(platform::ShellExecuteA(nullptr, "", "https://example.org", "", "", platform::SW_SHOWNORMAL),
              platform::SE_ERR_NOASSOC);
}

TEST_F(ShellExecute, AHandlerRecordsInPlaceOfTheShell) {
    std::vector<platform::TShellExecuteCall> calls;
    platform::SetShellExecuteHandler([&](const platform::TShellExecuteCall& call) {
        calls.push_back(call);
        return intptr_t{33};
    });
    int owner = 0;
    EXPECT_EQ(platform::ShellExecuteA(&owner, "open", "C:\\missing.exe", "-x", "C:\\", platform::SW_HIDE),
              33);
    EXPECT_FALSE(platform::SetShellExecuteHandler({}) == nullptr);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Owner, &owner);
    EXPECT_EQ(calls[0].Verb, "open");
    EXPECT_EQ(calls[0].File, "C:\\missing.exe");
    EXPECT_EQ(calls[0].Parameters, "-x");
    EXPECT_EQ(calls[0].Directory, "C:\\");
    EXPECT_EQ(calls[0].ShowCommand, platform::SW_HIDE);
    // The real shell is back.
    EXPECT_EQ(platform::ShellExecuteA(nullptr, "open", "C:\\missing.exe", "", "", platform::SW_SHOWNORMAL),
              platform::SE_ERR_FNF);
}
