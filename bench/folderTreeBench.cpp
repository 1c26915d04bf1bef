// The removal of a program folder of 1,000 files (10 folders of 100) through DeleteFolderTree, guard
// included, beside its floor: a bare walk of the same tree with directory handles and unlinkat, with no
// guard and no Windows path. Compare the two means of one run.
#include "common/publicFun.h"
#include "support/tempMachine.h"

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// The guard reads the special folders of the real 64-bit hives, as on a person's machine.
struct TFixtureMachine {
    TFixtureMachine() { Machine.UseFixtureRegistry("win64"); }
    TTempMachine Machine;
};

const TTempMachine& SharedMachine() {
    static TFixtureMachine shared;
    return shared.Machine;
}

void MakeTree(const TTempMachine& machine) {
    for (int folder = 0; folder < 10; ++folder)
        for (int file = 0; file < 100; ++file)
            machine.WriteFile(
                "C:\\Program Files\\Bulk\\f" + std::to_string(folder) + "\\" + std::to_string(file), "x");
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

void BM_DeleteFolderTree1000(benchmark::State& state) {
    const TTempMachine& machine = SharedMachine();
    for (auto _ : state) {
        state.PauseTiming();
        MakeTree(machine);
        state.ResumeTiming();
        benchmark::DoNotOptimize(DeleteFolderTree("C:\\Program Files\\Bulk"));
    }
}
BENCHMARK(BM_DeleteFolderTree1000)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_BareUnlinkatWalk1000(benchmark::State& state) {
    const TTempMachine& machine = SharedMachine();
    const std::string folder = machine.HostPath("C:\\Program Files\\Bulk").string();
    for (auto _ : state) {
        state.PauseTiming();
        MakeTree(machine);
        state.ResumeTiming();
        BareWalk(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        rmdir(folder.c_str());
    }
}
BENCHMARK(BM_BareUnlinkatWalk1000)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
