// The cost of the system services that a removal calls once per item: a process walk per process name, the
// folder guard before each folder tree, a special folder per shell entry, and the tree removal itself.
#include "benchFloor.h"
#include "common/publicFun.h"
#include "common/safetyGuard.h"
#include "platform/processes.h"
#include "support/tempMachine.h"

#include <string>

namespace {

// One settled machine with the real 64-bit hives and a program folder for all benchmarks: a real machine's
// folders have not changed for a while, and the file system layer trusts its listings of such folders only.
const TTempMachine& SharedMachine() {
    static TTempMachine machine;
    static const bool settled =
        (machine.UseFixtureRegistry("win64"), machine.MakeFolder("C:\\Program Files\\AcmeCorp\\AcmeTool"),
         benchFloor::WaitUntilSettled(), true);
    (void)settled;
    return machine;
}

void BM_ProcessSnapshot(benchmark::State& state) {
    SharedMachine();
    size_t count = 0;
    for (auto _ : state)
        count = platform::CreateProcessSnapshot().size();
    state.counters["processes"] = static_cast<double>(count);
}
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMillisecond);

void BM_IsProcessRunningAbsent(benchmark::State& state) {
    SharedMachine();
    for (auto _ : state)
        benchmark::DoNotOptimize(IsProcessRunning("no-such-program.exe"));
}
BENCHMARK(BM_IsProcessRunningAbsent)->Unit(benchmark::kMillisecond);

void BM_MayDeleteProgramFolder(benchmark::State& state) {
    SharedMachine();
    for (auto _ : state)
        benchmark::DoNotOptimize(safetyGuard::MayDeleteFolder("C:\\Program Files\\AcmeCorp\\AcmeTool"));
}
BENCHMARK(BM_MayDeleteProgramFolder)->Unit(benchmark::kMillisecond);

void BM_GetSpecialFolder(benchmark::State& state) {
    SharedMachine();
    std::string path;
    for (auto _ : state) {
        GetSpecialFolder(5, path);
        benchmark::DoNotOptimize(path);
    }
}
BENCHMARK(BM_GetSpecialFolder)->Unit(benchmark::kMicrosecond);

// A program folder of 10 folders with 100 files each.
void BM_DeleteFolderTree(benchmark::State& state) {
    const TTempMachine& machine = SharedMachine();
    for (auto _ : state) {
        state.PauseTiming();
        for (int folder = 0; folder < 10; ++folder)
            for (int file = 0; file < 100; ++file)
                machine.WriteFile(
                    "C:\\Program Files\\Bulk\\f" + std::to_string(folder) + "\\" + std::to_string(file), "x");
        state.ResumeTiming();
        benchmark::DoNotOptimize(DeleteFolderTree("C:\\Program Files\\Bulk"));
    }
}
BENCHMARK(BM_DeleteFolderTree)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
