// A program that the shell-open tests start. It reports, into the file (a FIFO) named by its first argument:
// its process ID, its parent's, its folder, whether the safety guard lets it end the process named by its
// second argument, and its further arguments one a line; then it waits to be ended (at most a minute).

#include "common/safetyGuard.h"
#include "platform/winePath.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc < 3)
        return 2;
    const std::string starter = argv[2];
    std::error_code error;
    const std::filesystem::path starterFile =
        std::filesystem::read_symlink("/proc/" + starter + "/exe", error);
    const bool mayEnd = !error && safetyGuard::MayEndProcess(static_cast<uint32_t>(std::stoul(starter)),
                                                             platform::ToWindowsPath(starterFile));
    {
        std::ofstream report(argv[1]);
        report << "pid=" << ::getpid() << "\nparent=" << ::getppid()
               << "\nfolder=" << std::filesystem::current_path().string() << "\nmayEndStarter=" << mayEnd
               << "\n";
        for (int i = 3; i < argc; ++i)
            report << "argument=" << argv[i] << "\n";
    }
    ::sleep(60);
    return 0;
}
