// Asking whether a watched file changed, beside the stat of it that the question replaces.
#include "benchFloor.h"
#include "platform/changeWatch.h"
#include "support/tempMachine.h"

namespace {

void BM_ChangeStampBesideStat(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    const std::filesystem::path file = machine.Prefix() / "system.reg";
    const int id = platform::WatchForChanges(file);
    benchFloor::TLoopTimer timer;
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::ChangeStamp(id));
    const double seconds = timer.SecondsPerIteration(state);
    const std::vector<std::filesystem::path> paths(1000, file);
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::StatEach(paths); }) / 1000);
}
BENCHMARK(BM_ChangeStampBesideStat);

} // namespace
