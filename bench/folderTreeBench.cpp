// The removal of a program folder of 1,000 files (10 folders of 100) through DeleteFolderTree, guard
// included, beside its floor: a bare walk of the same tree with directory handles and unlinkat, with no
// guard and no Windows path, timed in the same iterations (the counters floor_s and ratio).
#include "benchFloor.h"
#include "common/publicFun.h"
#include "support/tempMachine.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const std::string Tree = "C:\\Program Files\\Bulk";

void MakeTree(const TTempMachine& machine) {
    for (int folder = 0; folder < 10; ++folder)
        for (int file = 0; file < 100; ++file)
            machine.WriteFile(Tree + "\\f" + std::to_string(folder) + "\\" + std::to_string(file), "x");
}

// The real 64-bit hives, whose special folders the guard checks, on a machine left alone long enough to
// count as settled, as a person's prefix is: on folders made a moment ago the file system layer trusts no
// listing, and the guard would read every special folder's listings anew at each removal. One removal
// before the timing, as the scan before a removal has looked up the same folders.
struct TFixtureMachine {
    TFixtureMachine() {
        Machine.UseFixtureRegistry("win64");
        benchFloor::WaitUntilSettled();
        MakeTree(Machine);
        DeleteFolderTree(Tree);
    }
    TTempMachine Machine;
};

const TTempMachine& SharedMachine() {
    static TFixtureMachine shared;
    return shared.Machine;
}

void BareWalk(int folderFd) {
    DIR* listing = fdopendir(folderFd);
    if (listing == nullptr)
        return;
    while (const dirent* entry = readdir(listing)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        if (entry->d_type == DT_DIR) {
            BareWalk(openat(dirfd(listing), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            unlinkat(dirfd(listing), name, AT_REMOVEDIR);
        } else {
            unlinkat(dirfd(listing), name, 0);
        }
    }
    closedir(listing);
}

void BareDelete(const std::string& folder) {
    BareWalk(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    rmdir(folder.c_str());
}

double SecondsOf(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_DeleteFolderTree1000(benchmark::State& state) {
    const TTempMachine& machine = SharedMachine();
    const std::string folder = machine.HostPath(Tree).string();
    double seconds = 0;
    double floorSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        MakeTree(machine);
        auto start = std::chrono::steady_clock::now();
        BareDelete(folder);
        floorSeconds += SecondsOf(start);
        MakeTree(machine);
        state.ResumeTiming();
        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(DeleteFolderTree(Tree));
        seconds += SecondsOf(start);
    }
    const auto iterations = static_cast<double>(state.iterations());
    benchFloor::ReportBesideFloor(state, seconds / iterations, floorSeconds / iterations);
}
BENCHMARK(BM_DeleteFolderTree1000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_BareUnlinkatWalk1000(benchmark::State& state) {
    const TTempMachine& machine = SharedMachine();
    const std::string folder = machine.HostPath(Tree).string();
    for (auto _ : state) {
        state.PauseTiming();
        MakeTree(machine);
        state.ResumeTiming();
        BareDelete(folder);
    }
}
BENCHMARK(BM_BareUnlinkatWalk1000)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
