// Replaces its own program file by a copy of it (as Update replaces a running KV.exe), then prints the
// program file that the platform reports.
#include "platform/systemInfo.h"

#include <cstdio>
#include <filesystem>

int main() {
    const std::filesystem::path own = platform::ModuleFilePath();
    std::error_code error;
    const std::filesystem::path copy = own.string() + ".new";
    std::filesystem::copy_file("/proc/self/exe", copy, std::filesystem::copy_options::overwrite_existing,
                               error);
    if (!error)
        std::filesystem::rename(copy, own, error);
    if (error)
        return 2;
    std::printf("%s\n%s\n", platform::ModuleFilePath().c_str(), platform::GetModuleFileName().c_str());
    return 0;
}
