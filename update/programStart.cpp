#include "update/programStart.h"

#include "platform/winePath.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

bool StartProgram(const std::string& fileName) {
    std::optional<std::filesystem::path> program = platform::ResolvePath(fileName);
    if (!program)
        return false;
    // The program runs in a session of its own, as a program the shell starts does: not a child that ends
    // or waits with the updater.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string argument0 = fileName;
    char* arguments[] = {argument0.data(), nullptr};
    pid_t child = 0;
    int failed = posix_spawn(&child, program->c_str(), nullptr, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    return failed == 0;
}
