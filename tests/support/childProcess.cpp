#include "support/childProcess.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

TChildProcess::~TChildProcess() {
    if (FId > 0) {
        kill(FId, SIGKILL);
        waitpid(FId, nullptr, 0);
    }
}

void TChildProcess::CopySleepProgram(const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::path source = fs::exists("/bin/sleep") ? fs::path("/bin/sleep") : fs::path("/usr/bin/sleep");
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
}

bool TChildProcess::Start(const fs::path& program, const std::vector<std::string>& arguments, int userId) {
    // The child reports a failed exec through the pipe; a successful exec closes it (close-on-exec), so the
    // parent's read returns only once the program runs.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    // Opened before the fork, so that a child that has become another user needs no access to the folders.
    int programFile = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (programFile < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        setpgid(0, 0);
        if (userId >= 0) {
            gid_t group = static_cast<gid_t>(userId);
            if (setgroups(1, &group) != 0 || setgid(group) != 0 || setuid(static_cast<uid_t>(userId)) != 0) {
                int error = errno;
                (void)!write(report[1], &error, sizeof error);
                _exit(127);
            }
        }
        fexecve(programFile, argv.data(), environ);
        int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(programFile);
    close(report[1]);
    if (child < 0) {
        close(report[0]);
        return false;
    }
    int error = 0;
    ssize_t got = 0;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got > 0) {
        waitpid(child, nullptr, 0);
        return false;
    }
    FId = child;
    return true;
}

bool TChildProcess::Running() const {
    if (FId <= 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(FId) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool TChildProcess::ReapKilled() {
    if (FId <= 0)
        return false;
    int status = 0;
    pid_t reaped = waitpid(FId, &status, 0);
    FId = -1;
    return reaped > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}
