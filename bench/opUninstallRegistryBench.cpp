#include "common/opUninstallRegistry.h"
#include "platform/systemInfo.h"
#include "support/hiveBuilder.h"
#include "support/peBuilder.h"
#include "support/plainImageList.h"
#include "support/tempMachine.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <string>

namespace {

constexpr int EntryCount = 500;
const std::string Uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// A prefix with 500 Uninstall entries under HKEY_LOCAL_MACHINE (each with the values a real installer
// writes) and the program's own icon, shared by the benchmarks of one run.
class TBenchMachine {
public:
    TBenchMachine() {
        THiveBuilder system(THiveBuilder::System);
        for (int i = 0; i < EntryCount; ++i) {
            std::string n = std::to_string(i);
            system.Key(Uninstall + "{" + std::string(8 - n.size(), '0') + n + "-4F89-11D3-9A0C-0305E82C3301}")
                .String("DisplayName", "Program " + n)
                .String("DisplayVersion", "1.0." + n)
                .String("Publisher", "Vendor " + n)
                .String("InstallDate", "20080115")
                .String("InstallLocation", "C:\\Program Files\\Vendor " + n)
                .String("DisplayIcon", "C:\\Program Files\\Vendor " + n + "\\app.exe,0")
                .String("UninstallString", "\"C:\\Program Files\\Vendor " + n + "\\uninst.exe\" /S")
                .Dword("EstimatedSize", 2048);
        }
        FMachine.WriteRegistryFile("system.reg", system.Text());
        THiveBuilder user(THiveBuilder::User);
        user.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
            .String("AppData", "C:\\users\\tester\\AppData\\Roaming");
        FMachine.WriteRegistryFile("user.reg", user.Text());
        TPeBuilder pe;
        pe.AddIconGroup(1, {TIconSpec{32, 0xFF0000FF}, TIconSpec{16, 0xFF0000FF}});
        pe.Write(FMachine.ProgramFile());
    }

private:
    TTempMachine FMachine;
};

TBenchMachine& Machine() {
    static TBenchMachine machine;
    return machine;
}

void BM_ListInstalledNames(benchmark::State& state) {
    Machine();
    platform::TStringList names;
    for (auto _ : state) {
        TURegistryOp op;
        benchmark::DoNotOptimize(op.ListInstalledNames(names));
    }
    state.counters["names"] = static_cast<double>(names.Count());
}
BENCHMARK(BM_ListInstalledNames)->Unit(benchmark::kMillisecond);

// The scan asks for one row per candidate; the entry searched for lies in the middle of the key, and the
// icon falls back to the program's own file.
void BM_GetSoftwareRow(benchmark::State& state) {
    Machine();
    TPlainImageList small;
    TPlainImageList large;
    platform::TStringList row;
    TURegistryOp op;
    op.AddIconToLists(small, large, platform::GetModuleFileName(), 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(op.GetSoftwareRow("Program 250", small, large, row));
    state.counters["lines"] = static_cast<double>(row.Count());
}
BENCHMARK(BM_GetSoftwareRow)->Unit(benchmark::kMillisecond);

// A name that no entry has walks every entry of both roots.
void BM_GetSoftwareRowMissing(benchmark::State& state) {
    Machine();
    TPlainImageList small;
    TPlainImageList large;
    platform::TStringList row;
    TURegistryOp op;
    for (auto _ : state)
        benchmark::DoNotOptimize(op.GetSoftwareRow("No Such Program", small, large, row));
}
BENCHMARK(BM_GetSoftwareRowMissing)->Unit(benchmark::kMillisecond);

} // namespace
