// The database reader on a database of 10,000 programs (soft.dat about 12 MB): loading it, the main window's
// counts, and the scan's pattern of questions, each on a fresh object as the program asks them.

#include "common/opUninstallFile.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr int ProgramCount = 10000;
// One program in this many left files and keys behind (a machine with a hundred of them installed).
constexpr int InstalledEvery = 100;

std::string ProgramName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Vendor%05d Application", i);
    return name;
}

// One machine for all benchmarks.
class TBenchMachine {
public:
    TBenchMachine() {
        TDatabaseWriter writer;
        THiveBuilder system(THiveBuilder::System);
        for (int i = 0; i < ProgramCount; ++i) {
            const std::string id = "P" + std::to_string(i);
            const std::string folder = "{pf}\\Vendor" + std::to_string(i);
            TDatabaseProgram& program = writer.Add(id, ProgramName(i), 1 + i % 10);
            program.Services = "Svc" + std::to_string(i);
            program.Processes = "app" + std::to_string(i) + ".exe";
            program.InstallFolder = "1\\Vendor" + std::to_string(i);
            program.DesktopEntries = ProgramName(i);
            program.ProgramsEntries = "Vendor" + std::to_string(i);
            program.File(1, folder + "\\app.exe")
                .File(1, folder + "\\core.dll")
                .File(1, folder + "\\readme.txt");
            program.Registry(2, "HKLM{sw}\\Vendor" + std::to_string(i));
            program.Registry(3, "HKLM{sw}\\Vendor" + std::to_string(i) + "\\Path");
            program.Probe("HKLM{sw}\\Vendor" + std::to_string(i), "Path");
            if (i % InstalledEvery == 0) {
                FMachine.WriteFile("C:\\Program Files\\Vendor" + std::to_string(i) + "\\app.exe", "x");
                system.Key("Software\\Vendor" + std::to_string(i))
                    .String("Path", "C:\\Program Files\\Vendor");
            }
        }
        writer.WriteFiles(FMachine.ProgramFolder());
        FMachine.WriteRegistryFile("system.reg", system.Text());
        // A real machine's folders have not changed in the last seconds; the file system layer trusts its
        // listings of a folder only then, so a machine measured at once would measure fresh folders.
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }

private:
    TTempMachine FMachine;
};

TBenchMachine& Machine() {
    static TBenchMachine machine;
    return machine;
}

void BM_Load(benchmark::State& state) {
    Machine();
    for (auto _ : state) {
        TUFileOp database("", "");
        benchmark::DoNotOptimize(database.GetDataVersion(1));
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// The version labels: the total and the eleven lines of the category selector.
void BM_CategoryCounts(benchmark::State& state) {
    Machine();
    for (auto _ : state) {
        TUFileOp database("", "");
        int total = database.CountSoftwareByCategory(0);
        for (uint16_t category = 0; category <= 10; ++category)
            total += database.CountSoftwareByCategory(category);
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_CategoryCounts)->Unit(benchmark::kMillisecond);

// For every supported program: its leftover files and keys that still exist, and its software information.
void BM_Scan(benchmark::State& state) {
    Machine();
    for (auto _ : state) {
        TUFileOp database("", "");
        platform::TStringList names, items, info, keys, values;
        database.ListSoftwareByCategory(names, 0);
        int found = 0;
        for (const std::string& name : names) {
            found += database.GetLeftoverItems(name, 1, items, 1);
            found += database.GetLeftoverItems(name, 2, items, 1);
            found += database.GetSoftInfo(name, info, keys, values);
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond);

// The same questions without the file system and registry: the database's own share of the scan.
void BM_ScanLookupsOnly(benchmark::State& state) {
    Machine();
    for (auto _ : state) {
        TUFileOp database("", "");
        platform::TStringList names, info, keys, values;
        database.ListSoftwareByCategory(names, 0);
        size_t found = 0;
        for (const std::string& name : names) {
            found += database.FindIdByDisplayName(name).size();
            found += static_cast<size_t>(database.GetSoftInfo(name, info, keys, values));
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_ScanLookupsOnly)->Unit(benchmark::kMillisecond);

// The machine's share of the scan: one existence test of a missing file and of a missing key.
void BM_ItemExistsMissingFile(benchmark::State& state) {
    Machine();
    TUFileOp database = TUFileOp::FromContents({}, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(database.ItemExists("C:\\Program Files\\Vendor1\\app.exe", 1));
}
BENCHMARK(BM_ItemExistsMissingFile)->Unit(benchmark::kMicrosecond);

void BM_ItemExistsMissingKey(benchmark::State& state) {
    Machine();
    TUFileOp database = TUFileOp::FromContents({}, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(database.ItemExists("HKEY_LOCAL_MACHINE\\Software\\Vendor1", 2));
}
BENCHMARK(BM_ItemExistsMissingKey)->Unit(benchmark::kMicrosecond);

void BM_ItemExistsMissingValue(benchmark::State& state) {
    Machine();
    TUFileOp database = TUFileOp::FromContents({}, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(database.ItemExists("HKEY_LOCAL_MACHINE\\Software\\Vendor1\\Path", 3));
}
BENCHMARK(BM_ItemExistsMissingValue)->Unit(benchmark::kMicrosecond);

} // namespace
