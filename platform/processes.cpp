#include "platform/processes.h"

#include "platform/winePath.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace platform {

namespace {

constexpr unsigned long KernelThreadFlag = 0x00200000; // PF_KTHREAD in /proc/PID/stat

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool ParseProcessId(const char* name, uint32_t& processId) {
    if (name[0] < '1' || name[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(name, &end, 10);
    if (errno != 0 || *end != '\0' || value > UINT32_MAX)
        return false;
    processId = static_cast<uint32_t>(value);
    return true;
}

// The fields of /proc/PID/stat that the snapshot needs. The command name in parentheses may itself hold
// blanks and parentheses, so the fields are counted from the last ")".
struct TStatFields {
    char State = '\0';
    uint32_t ParentProcessId = 0;
    unsigned long Flags = 0;
    uint64_t StartTime = 0;
};

bool ReadStat(const std::string& folder, TStatFields& fields) {
    std::string stat = ReadSmallFile(folder + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(stat.substr(close + 1));
    long parent = 0, group = 0, session = 0, tty = 0, terminalGroup = 0;
    rest >> fields.State >> parent >> group >> session >> tty >> terminalGroup >> fields.Flags;
    if (!rest)
        return false;
    // Fields 10 to 21 (fault counts, times, priority, threads) come before the start time, field 22.
    std::string skipped;
    for (int field = 10; field <= 21 && rest; ++field)
        rest >> skipped;
    if (!(rest >> fields.StartTime))
        fields.StartTime = 0;
    fields.ParentProcessId = parent > 0 ? static_cast<uint32_t>(parent) : 0;
    return true;
}

bool ReadRealUserId(const std::string& folder, uid_t& userId) {
    std::istringstream status(ReadSmallFile(folder + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            unsigned long real = 0;
            if (!(fields >> real))
                return false;
            userId = static_cast<uid_t>(real);
            return true;
        }
    }
    return false;
}

std::string ReadLink(const std::string& path) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(path, error).string();
    if (error)
        return {};
    // A program file that was replaced or removed since the start still names the process.
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() &&
        target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.resize(target.size() - deleted.size());
    return target;
}

bool IsWineLoader(const std::filesystem::path& program) {
    std::string name = program.filename().string();
    if (name == "wine" || name == "wine64" || name == "wine-preloader" || name == "wine64-preloader")
        return true;
    for (const auto& part : program.parent_path())
        if (part == "wine")
            return true;
    return false;
}

// The program-file text of a process: the Windows path that Wine put as argv[0] for a process that a Wine
// loader runs (comm is cut to 15 characters, so it cannot serve), else the program file itself.
std::string ProgramText(const std::string& folder, const std::string& program,
                        std::unordered_map<std::string, std::string>& windowsPaths) {
    if (IsWineLoader(program)) {
        std::string commandLine = ReadSmallFile(folder + "/cmdline");
        std::string first = commandLine.substr(0, commandLine.find('\0'));
        // Wine's own native helpers under its folder (wineserver) keep a Linux path there.
        if (!first.empty() && first[0] != '/')
            return first;
    }
    // Many processes share a program file (shells, helpers); its Windows path is looked up once per walk.
    auto known = windowsPaths.find(program);
    if (known == windowsPaths.end())
        known = windowsPaths.emplace(program, ToWindowsPath(program)).first;
    return known->second;
}

} // namespace

std::vector<TProcessEntry> CreateProcessSnapshot() {
    std::vector<TProcessEntry> entries;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc)
        return entries;
    const uid_t ownUser = getuid();
    std::unordered_map<std::string, std::string> windowsPaths;
    while (const dirent* item = readdir(proc.get())) {
        uint32_t processId = 0;
        if (!ParseProcessId(item->d_name, processId))
            continue;
        const std::string folder = std::string("/proc/") + item->d_name;
        TStatFields stat;
        uid_t user = 0;
        if (!ReadStat(folder, stat) || !ReadRealUserId(folder, user) || user != ownUser)
            continue;
        if (stat.State == 'Z' || stat.State == 'X' || (stat.Flags & KernelThreadFlag) != 0)
            continue;
        std::string program = ReadLink(folder + "/exe");
        if (program.empty())
            continue;
        entries.push_back(
            {processId, stat.ParentProcessId, ProgramText(folder, program, windowsPaths), stat.StartTime});
    }
    return entries;
}

bool TerminateProcess(uint32_t processId) {
    if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX))
        return false;
    return kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

bool TerminateProcess(const TProcessEntry& entry) {
    if (entry.ProcessId == 0 || entry.ProcessId > static_cast<uint32_t>(INT_MAX) || entry.StartTime == 0)
        return false;
    const auto pid = static_cast<pid_t>(entry.ProcessId);
    const std::string folder = "/proc/" + std::to_string(entry.ProcessId);
    auto isSame = [&] {
        TStatFields stat;
        return ReadStat(folder, stat) && stat.StartTime == entry.StartTime;
    };
    // The handle holds on to the process that has the number now; read after it is open, the start time
    // tells whether that is still the snapshot's.
    const long handle = syscall(SYS_pidfd_open, pid, 0);
    if (handle >= 0) {
        const int fd = static_cast<int>(handle);
        const bool ended = isSame() && syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0) == 0;
        close(fd);
        return ended;
    }
    if (errno != ENOSYS)
        return false;
    // A kernel without process handles: the check and the signal follow each other as closely as can be.
    return isSame() && kill(pid, SIGKILL) == 0;
}

uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

uint32_t GetParentProcessId(uint32_t processId) {
    TStatFields stat;
    if (processId == 0 || !ReadStat("/proc/" + std::to_string(processId), stat))
        return 0;
    return stat.ParentProcessId;
}

} // namespace platform
