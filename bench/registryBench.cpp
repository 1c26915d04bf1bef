// The registry over the real 64-bit hives (system.reg about 3 MB): parsing and writing a hive, the first open
// in a fresh process, and warm opens, each beside what it cannot do without (reading the file, one stat).
#include "benchFloor.h"
#include "platform/registry.h"
#include "platform/wineHive.h"
#include "support/tempMachine.h"

#include <fstream>
#include <malloc.h>
#include <sstream>

namespace {

std::string ReadHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t AllocatedBytes() {
    return mallinfo2().uordblks;
}

// Parsing system.reg, read from a copy in the machine's own folder; the memory the parsed hive keeps
// (the text it was parsed from included) beside the size of the file.
void ParseSystemHive(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    const std::string text = ReadHostFile(machine.Prefix() / "system.reg");
    benchFloor::TLoopTimer timer;
    for (auto _ : state) {
        auto hive = platform::THive::Parse(text);
        benchmark::DoNotOptimize(hive.get());
    }
    const double seconds = timer.SecondsPerIteration(state);
    const size_t before = AllocatedBytes();
    auto kept = platform::THive::Parse(text);
    const size_t after = AllocatedBytes();
    state.counters["hive_bytes"] = static_cast<double>(after - before);
    state.counters["bytes_per_file_byte"] =
        static_cast<double>(after - before) / static_cast<double>(text.size());
    benchFloor::ReportBesideFloor(state, seconds, benchFloor::MeanSeconds([&] {
                                      benchFloor::ReadEach({machine.Prefix() / "system.reg"});
                                  }));
}
BENCHMARK(ParseSystemHive)->Unit(benchmark::kMillisecond);

void WriteSystemHive(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    const std::string text = ReadHostFile(machine.Prefix() / "system.reg");
    auto hive = platform::THive::Parse(text);
    for (auto _ : state)
        benchmark::DoNotOptimize(hive->Text());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(WriteSystemHive)->Unit(benchmark::kMillisecond);

// The first key opened under HKEY_LOCAL_MACHINE by a process that has not read the registry yet, beside a
// fresh process's read of the file.
void FirstOpenInFreshProcess(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    const std::filesystem::path file = machine.Prefix() / "system.reg";
    double total = 0;
    for (auto _ : state) {
        const double seconds = benchFloor::SecondsInFreshProcess([] {
            platform::TRegistry registry(platform::KEY_READ);
            registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
            benchmark::DoNotOptimize(registry.OpenKey("\\Software\\Microsoft", false));
        });
        if (seconds < 0)
            state.SkipWithError("the fresh process failed");
        state.SetIterationTime(seconds);
        total += seconds;
    }
    double floor = 0;
    for (int i = 0; i < 5; ++i)
        floor += benchFloor::SecondsInFreshProcess([&] { benchFloor::ReadEach({file}); });
    benchFloor::ReportBesideFloor(state, total / static_cast<double>(state.iterations()), floor / 5);
}
BENCHMARK(FirstOpenInFreshProcess)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// Opening a key and reading a value through TRegistry once the hives are loaded, beside one stat of the
// hive that every open must make to see another program's change.
void WarmOpenAndRead(benchmark::State& state, platform::HKEY root, const std::string& key,
                     const std::string& value) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(root);
    if (!registry.OpenKey(key, false))
        state.SkipWithError("the key does not open");
    benchFloor::TLoopTimer timer;
    for (auto _ : state) {
        registry.OpenKey(key, false);
        benchmark::DoNotOptimize(registry.ReadString(value));
    }
    const double seconds = timer.SecondsPerIteration(state);
    const std::vector<std::filesystem::path> paths(1000, machine.Prefix() / "system.reg");
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::StatEach(paths); }) / 1000);
}

void WarmOpenAndReadUninstallEntry(benchmark::State& state) {
    WarmOpenAndRead(state, platform::HKEY_LOCAL_MACHINE,
                    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AcmeTool", "DisplayName");
}
BENCHMARK(WarmOpenAndReadUninstallEntry)->Unit(benchmark::kMicrosecond);

void WarmOpenAndReadClass(benchmark::State& state) {
    WarmOpenAndRead(state, platform::HKEY_CLASSES_ROOT,
                    "\\CLSID\\{0000002F-0000-0000-C000-000000000046}\\InprocServer32", "");
}
BENCHMARK(WarmOpenAndReadClass)->Unit(benchmark::kMicrosecond);

} // namespace
