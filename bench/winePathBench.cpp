// Path lookup cost: every file operation of the machine resolves its Windows path component by component.
#include "benchFloor.h"
#include "platform/fileSystem.h"
#include "platform/winePath.h"
#include "support/tempMachine.h"

#include <filesystem>
#include <string>

namespace {

constexpr int CrowdSize = 2000;

// A prefix with a deep program folder beside a folder of many entries, as system32 is.
class TBenchMachine {
public:
    TBenchMachine() {
        FMachine.WriteFile("C:\\Program Files\\Common Files\\Acme\\Tool\\bin\\tool.exe", "x");
        for (int i = 0; i < CrowdSize; ++i)
            FMachine.WriteFile("C:\\windows\\system32\\library" + std::to_string(i) + ".dll", "");
        benchFloor::WaitUntilSettled();
    }
    const TTempMachine& Machine() const { return FMachine; }

private:
    TTempMachine FMachine;
};

// One machine for all benchmarks: building it and letting it settle takes seconds.
const TBenchMachine& SharedMachine() {
    static TBenchMachine machine;
    return machine;
}

// One lookup of a Windows path, beside one stat of the Linux path it names.
void ResolveBesideStat(benchmark::State& state, const std::string& windowsPath, const std::string& spelled) {
    const TBenchMachine& machine = SharedMachine();
    benchFloor::TLoopTimer timer;
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::FileExists(windowsPath));
    const double seconds = timer.SecondsPerIteration(state);
    const std::vector<std::filesystem::path> paths(1000, machine.Machine().HostPath(spelled));
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::StatEach(paths); }) / 1000);
}

void BM_FileExistsExactCase(benchmark::State& state) {
    const std::string path = "C:\\Program Files\\Common Files\\Acme\\Tool\\bin\\tool.exe";
    ResolveBesideStat(state, path, path);
}
BENCHMARK(BM_FileExistsExactCase);

void BM_FileExistsOtherCase(benchmark::State& state) {
    ResolveBesideStat(state, "C:\\PROGRAM FILES\\COMMON FILES\\ACME\\TOOL\\BIN\\TOOL.EXE",
                      "C:\\Program Files\\Common Files\\Acme\\Tool\\bin\\tool.exe");
}
BENCHMARK(BM_FileExistsOtherCase);

void BM_FileExistsMissingInCrowdedFolder(benchmark::State& state) {
    const std::string path = "C:\\windows\\system32\\missing.dll";
    ResolveBesideStat(state, path, path);
}
BENCHMARK(BM_FileExistsMissingInCrowdedFolder);

void BM_ResolveExactCase(benchmark::State& state) {
    [[maybe_unused]] const TBenchMachine& machine = SharedMachine();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            platform::ResolvePath("C:\\Program Files\\Common Files\\Acme\\Tool\\bin\\tool.exe"));
}
BENCHMARK(BM_ResolveExactCase);

void BM_ResolveOtherCase(benchmark::State& state) {
    [[maybe_unused]] const TBenchMachine& machine = SharedMachine();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            platform::ResolvePath("C:\\PROGRAM FILES\\COMMON FILES\\ACME\\TOOL\\BIN\\TOOL.EXE"));
}
BENCHMARK(BM_ResolveOtherCase);

// The worst case of a case-insensitive lookup: the name is matched last in a crowded folder.
void BM_ResolveOtherCaseInCrowdedFolder(benchmark::State& state) {
    [[maybe_unused]] const TBenchMachine& machine = SharedMachine();
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::ResolvePath("C:\\WINDOWS\\SYSTEM32\\MISSING.DLL"));
}
BENCHMARK(BM_ResolveOtherCaseInCrowdedFolder);

void BM_ToWindowsPath(benchmark::State& state) {
    [[maybe_unused]] const TBenchMachine& machine = SharedMachine();
    std::filesystem::path path =
        machine.Machine().DriveC() / "Program Files" / "Common Files" / "Acme" / "Tool";
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::ToWindowsPath(path));
}
BENCHMARK(BM_ToWindowsPath);

void BM_FindFilesCrowdedFolder(benchmark::State& state) {
    [[maybe_unused]] const TBenchMachine& machine = SharedMachine();
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::FindFiles("C:\\windows\\system32\\*.*"));
}
BENCHMARK(BM_FindFilesCrowdedFolder)->Unit(benchmark::kMillisecond);

} // namespace
