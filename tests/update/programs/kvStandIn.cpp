// Stands in for KV in the updater's tests: it notes each start (its process id, one line) in
// "kv-starts.txt" beside its own file and then waits, at most two minutes, to be ended.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

int main() {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    std::ofstream(self.parent_path() / "kv-starts.txt", std::ios::app) << getpid() << "\n";
    for (int second = 0; second < 120; ++second)
        std::this_thread::sleep_for(std::chrono::seconds(1));
    return 0;
}
