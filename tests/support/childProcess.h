#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// A real child process for the process tests: a copy of a small native program (sleep) under any name,
// started with any argv[0], so that it looks like a Windows program (victim.exe) or like a program that Wine
// runs (a loader named wine64 whose argv[0] is a Windows path). Start returns once the program has replaced
// the forked test, so a snapshot taken afterwards sees the program. The destructor kills and reaps what is
// left.
class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Copies the machine's sleep program to Target (making its folders), executable by everyone.
    static void CopySleepProgram(const std::filesystem::path& target);

    // Runs Program with Arguments (Arguments[0] is argv[0]); with a UserId other than -1 the child first
    // becomes that user (group and user). False when the program could not be started.
    bool Start(const std::filesystem::path& program, const std::vector<std::string>& arguments,
               int userId = -1);

    pid_t Id() const { return FId; }
    uint32_t ProcessId() const { return static_cast<uint32_t>(FId); }
    // Whether the child has not been reaped and has not ended (a zombie counts as ended).
    bool Running() const;
    // Waits for the child to end and reaps it; true when it was ended by SIGKILL.
    bool ReapKilled();

private:
    pid_t FId = -1;
};
