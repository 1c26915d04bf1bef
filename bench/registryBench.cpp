#include "platform/registry.h"
#include "platform/wineHive.h"
#include "support/tempMachine.h"

#include <benchmark/benchmark.h>
#include <fstream>
#include <sstream>

namespace {

std::string ReadHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Parsing the real 64-bit system.reg (about 3 MB), read from a copy in the machine's own folder.
void ParseSystemHive(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    const std::string text = ReadHostFile(machine.Prefix() / "system.reg");
    for (auto _ : state) {
        auto hive = platform::THive::Parse(text);
        benchmark::DoNotOptimize(hive.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
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

// Opening a key through TRegistry once the hives are loaded: the checks of the files and the walk.
void WarmOpenKey(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    const std::string key = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AcmeTool";
    if (!registry.OpenKey(key, false))
        state.SkipWithError("the key does not open");
    for (auto _ : state)
        benchmark::DoNotOptimize(registry.OpenKey(key, false));
}
BENCHMARK(WarmOpenKey)->Unit(benchmark::kMicrosecond);

void WarmOpenAndRead(benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(platform::HKEY_CLASSES_ROOT);
    const std::string key = "\\CLSID\\{0000002F-0000-0000-C000-000000000046}\\InprocServer32";
    for (auto _ : state) {
        registry.OpenKey(key, false);
        benchmark::DoNotOptimize(registry.ReadString(""));
    }
}
BENCHMARK(WarmOpenAndRead)->Unit(benchmark::kMicrosecond);

} // namespace
