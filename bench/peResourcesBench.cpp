#include "platform/peResources.h"
#include "platform/winePath.h"
#include "support/peBuilder.h"
#include "support/tempMachine.h"

#include <benchmark/benchmark.h>

namespace {

// A library with many icons, as a scan meets them in DisplayIcon values: 40 groups of four images each,
// the 256-pixel one as a PNG.
std::string WriteLibrary(const TTempMachine& machine, TPeBuilder::TFormat format) {
    TPeBuilder pe(format);
    for (uint16_t id = 1; id <= 40; ++id)
        pe.AddIconGroup(id, {TIconSpec{16, 0xFF0000FF}, TIconSpec{32, 0xFF00FF00}, TIconSpec{48, 0xFFFF0000},
                             TIconSpec{256, 0xFF808080, 32, 0xFFFFFFFF, true}});
    pe.SetVersion("10.0.19041.1");
    machine.MakeFolder("C:\\Lib");
    pe.Write(machine.HostPath("C:\\Lib\\icons.dll"));
    return "C:\\Lib\\icons.dll";
}

void BM_ExtractIconPairLastGroup(benchmark::State& state) {
    TTempMachine machine;
    const std::string path = WriteLibrary(machine, TPeBuilder::TFormat::Pe32);
    for (auto _ : state) {
        platform::TIconImage large, small;
        benchmark::DoNotOptimize(platform::ExtractIconPair(path, 39, large, small));
    }
}
BENCHMARK(BM_ExtractIconPairLastGroup);

// Only a 256-pixel PNG: every call decodes and scales it twice.
void BM_ExtractIconPairScaledPng(benchmark::State& state) {
    TTempMachine machine;
    WriteIcoFile(machine.Root() / "big.ico", {TIconSpec{256, 0xFF808080, 32, 0xFFFFFFFF, true}});
    const std::string path = platform::ToWindowsPath(machine.Root() / "big.ico");
    for (auto _ : state) {
        platform::TIconImage large, small;
        benchmark::DoNotOptimize(platform::ExtractIconPair(path, 0, large, small));
    }
}
BENCHMARK(BM_ExtractIconPairScaledPng);

void BM_FileVersion(benchmark::State& state) {
    TTempMachine machine;
    const std::string path = WriteLibrary(machine, TPeBuilder::TFormat::Pe32Plus);
    for (auto _ : state) {
        std::vector<uint8_t> block, value;
        platform::GetFileVersionInfo(path, block);
        benchmark::DoNotOptimize(
            platform::VerQueryValue(block, "\\StringFileInfo\\040904B0\\FileVersion", value));
    }
}
BENCHMARK(BM_FileVersion);

} // namespace
