#include "platform/shellExecute.h"

#include "platform/sysUtils.h"
#include "platform/winePath.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

std::mutex HandlerLock;
TShellExecuteHandler Handler;

constexpr intptr_t Started = 42;

bool IsAddress(const std::string& file) {
    return file.find("://") != std::string::npos || LowerCase(file.substr(0, 7)) == "mailto:";
}

// Parameters split at blanks; a pair of double quotes keeps blanks inside one argument.
std::vector<std::string> SplitParameters(const std::string& parameters) {
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false, inArgument = false;
    for (char c : parameters) {
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

std::optional<std::string> FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

// Starts Program detached: a first child makes a new session and forks the program, then ends at once, so
// the program's parent becomes the system's reaper and not the caller. The exec's error comes back through
// a pipe that closes on a successful exec. Everything the children use is prepared before the fork.
int StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return errno;
    sigset_t none;
    sigemptyset(&none);

    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return error;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild < 0 ? 1 : 0);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        int error = 0;
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            error = errno;
        if (error == 0) {
            ::execve(program.c_str(), argv.data(), environ);
            error = errno;
        }
        ssize_t written;
        do
            written = ::write(pipeEnds[1], &error, sizeof error);
        while (written < 0 && errno == EINTR);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do
        got = ::read(pipeEnds[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    ::close(pipeEnds[0]);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

intptr_t OpenWithDesktop(const std::string& target) {
    const std::optional<std::string> opener = FindOnPath("xdg-open");
    if (!opener)
        return SE_ERR_NOASSOC;
    return StartDetached(*opener, {*opener, target}, "") == 0 ? Started : SE_ERR_NOASSOC;
}

intptr_t RealShellExecute(const TShellExecuteCall& call) {
    if (!call.Verb.empty() && !SameText(call.Verb, "open"))
        return SE_ERR_NOASSOC;
    if (IsAddress(call.File))
        return OpenWithDesktop(call.File);
    const std::optional<std::filesystem::path> file = ResolvePath(call.File);
    struct stat info {};
    if (!file || ::stat(file->c_str(), &info) != 0)
        return SE_ERR_FNF;
    if (!S_ISREG(info.st_mode) || ::access(file->c_str(), X_OK) != 0)
        return OpenWithDesktop(file->string());

    std::string folder;
    if (!call.Directory.empty()) {
        const std::optional<std::filesystem::path> directory = ResolvePath(call.Directory);
        if (!directory)
            return SE_ERR_FNF;
        folder = directory->string();
    }
    std::vector<std::string> arguments{file->string()};
    for (std::string& parameter : SplitParameters(call.Parameters))
        arguments.push_back(std::move(parameter));
    return StartDetached(file->string(), arguments, folder) == 0 ? Started : SE_ERR_FNF;
}

} // namespace

intptr_t ShellExecuteA(const void* owner, const std::string& verb, const std::string& file,
                       const std::string& parameters, const std::string& directory, int showCommand) {
    const TShellExecuteCall call{owner, verb, file, parameters, directory, showCommand};
    TShellExecuteHandler handler;
    {
        const std::lock_guard lock(HandlerLock);
        handler = Handler;
    }
    return handler ? handler(call) : RealShellExecute(call);
}

TShellExecuteHandler SetShellExecuteHandler(TShellExecuteHandler handler) {
    const std::lock_guard lock(HandlerLock);
    std::swap(Handler, handler);
    return handler;
}

} // namespace platform
