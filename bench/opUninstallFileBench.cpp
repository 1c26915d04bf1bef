// The database reader on databases of 1,000 to 20,000 programs (soft.dat about 1.1 MB a thousand): loading
// it, the main window's counts, and the scan's pattern of questions, each on a fresh object as the program
// asks them, and each beside its floor: the reads of both files, the stats of the file paths the scan tests.

#include "benchFloor.h"
#include "common/opUninstallFile.h"
#include "platform/lookupScope.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <cstdio>
#include <map>
#include <memory>

namespace {

constexpr int LargestCount = 20000;
// One program in this many left files and keys behind (a machine with a hundred of them installed).
constexpr int InstalledEvery = 100;
const char* const ProgramFiles[] = {"app.exe", "core.dll", "readme.txt"};

std::string ProgramName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "Vendor%05d Application", i);
    return name;
}

std::string ProgramFolder(int i) {
    return "C:\\Program Files\\Vendor" + std::to_string(i);
}

// One settled machine for all benchmarks, with the installed traces of the largest database and one
// database of each size in a folder of its own beside the program.
class TBenchMachine {
public:
    TBenchMachine() {
        THiveBuilder system(THiveBuilder::System);
        for (int i = 0; i < LargestCount; i += InstalledEvery) {
            FMachine.WriteFile(ProgramFolder(i) + "\\app.exe", "x");
            system.Key("Software\\Vendor" + std::to_string(i)).String("Path", "C:\\Program Files\\Vendor");
        }
        FMachine.WriteRegistryFile("system.reg", system.Text());
        for (int count : {1000, 5000, 10000, 20000})
            WriteDatabase(count);
        benchFloor::WaitUntilSettled();
    }

    std::string DataFile(int count) const { return Folder(count) + "\\KV.dat"; }
    std::string SoftFile(int count) const { return Folder(count) + "\\soft.dat"; }
    std::vector<std::filesystem::path> DatabaseFiles(int count) const {
        const std::filesystem::path folder = FMachine.ProgramFolder() / ("db" + std::to_string(count));
        return {folder / "KV.dat", folder / "soft.dat"};
    }
    // The Linux paths of the files that a scan of Count programs tests.
    std::vector<std::filesystem::path> ScannedFiles(int count) const {
        std::vector<std::filesystem::path> paths;
        for (int i = 0; i < count; ++i)
            for (const char* file : ProgramFiles)
                paths.push_back(FMachine.HostPath(ProgramFolder(i) + "\\" + file));
        return paths;
    }
    const TTempMachine& Machine() const { return FMachine; }

private:
    std::string Folder(int count) const {
        return FMachine.ProgramFolderWindows() + "db" + std::to_string(count);
    }

    void WriteDatabase(int count) {
        TDatabaseWriter writer;
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            const std::string programFolder = "{pf}\\Vendor" + n;
            TDatabaseProgram& program = writer.Add("P" + n, ProgramName(i), 1 + i % 10);
            program.Services = "Svc" + n;
            program.Processes = "app" + n + ".exe";
            program.InstallFolder = "1\\Vendor" + n;
            program.DesktopEntries = ProgramName(i);
            program.ProgramsEntries = "Vendor" + n;
            for (const char* file : ProgramFiles)
                program.File(1, programFolder + "\\" + file);
            program.Registry(2, "HKLM{sw}\\Vendor" + n);
            program.Registry(3, "HKLM{sw}\\Vendor" + n + "\\Path");
            program.Probe("HKLM{sw}\\Vendor" + n, "Path");
        }
        const std::filesystem::path folder = FMachine.ProgramFolder() / ("db" + std::to_string(count));
        std::filesystem::create_directories(folder);
        writer.WriteFiles(folder);
    }

    TTempMachine FMachine;
};

const TBenchMachine& Machine() {
    static TBenchMachine machine;
    return machine;
}

int ProgramCount(const benchmark::State& state) {
    return static_cast<int>(state.range(0));
}

void BM_Load(benchmark::State& state) {
    const TBenchMachine& machine = Machine();
    const int count = ProgramCount(state);
    // The program knows its files' paths before it loads them.
    const std::string dataFile = machine.DataFile(count), softFile = machine.SoftFile(count);
    benchFloor::TLoopTimer timer;
    for (auto _ : state) {
        TUFileOp database(dataFile, softFile);
        benchmark::DoNotOptimize(database.GetDataVersion(1));
    }
    const double seconds = timer.SecondsPerIteration(state);
    const auto files = machine.DatabaseFiles(count);
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::ReadEach(files); }));
}
BENCHMARK(BM_Load)->Arg(1000)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// The version labels: a fresh object, the total and the eleven lines of the category selector.
void BM_LoadAndCategoryCounts(benchmark::State& state) {
    const TBenchMachine& machine = Machine();
    const int count = ProgramCount(state);
    // The program knows its files' paths before it loads them.
    const std::string dataFile = machine.DataFile(count), softFile = machine.SoftFile(count);
    benchFloor::TLoopTimer timer;
    for (auto _ : state) {
        TUFileOp database(dataFile, softFile);
        int total = database.CountSoftwareByCategory(0);
        for (uint16_t category = 0; category <= 10; ++category)
            total += database.CountSoftwareByCategory(category);
        benchmark::DoNotOptimize(total);
    }
    const double seconds = timer.SecondsPerIteration(state);
    const auto files = machine.DatabaseFiles(count);
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::ReadEach(files); }));
}
BENCHMARK(BM_LoadAndCategoryCounts)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);

// The scan job's questions: for every supported program its leftover files and keys that still exist and
// its software information, inside the job's lookup scope.
void Scan(const TBenchMachine& machine, int count) {
    platform::TLookupScope scope;
    TUFileOp database(machine.DataFile(count), machine.SoftFile(count));
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

void BM_Scan(benchmark::State& state) {
    const TBenchMachine& machine = Machine();
    const int count = ProgramCount(state);
    benchFloor::TLoopTimer timer;
    for (auto _ : state)
        Scan(machine, count);
    const double seconds = timer.SecondsPerIteration(state);
    const auto paths = machine.ScannedFiles(count);
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::StatEach(paths); }));
}
BENCHMARK(BM_Scan)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);

// The same questions without the file system and registry: the database's own share of the scan.
void BM_ScanLookupsOnly(benchmark::State& state) {
    const TBenchMachine& machine = Machine();
    const int count = ProgramCount(state);
    for (auto _ : state) {
        TUFileOp database(machine.DataFile(count), machine.SoftFile(count));
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
BENCHMARK(BM_ScanLookupsOnly)->Arg(5000)->Unit(benchmark::kMillisecond);

// One existence test outside any scope, beside one stat of what it must look at: the file's own path, or
// the registry file that holds the key.
void ItemExistsBesideStat(benchmark::State& state, const std::string& path, uint16_t kind,
                          const std::filesystem::path& floorPath) {
    Machine();
    TUFileOp database = TUFileOp::FromContents({}, {});
    benchFloor::TLoopTimer timer;
    for (auto _ : state)
        benchmark::DoNotOptimize(database.ItemExists(path, kind));
    const double seconds = timer.SecondsPerIteration(state);
    const std::vector<std::filesystem::path> paths(1000, floorPath);
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { benchFloor::StatEach(paths); }) / 1000);
}

void BM_ItemExistsMissingFile(benchmark::State& state) {
    const std::string path = "C:\\Program Files\\Vendor1\\app.exe";
    ItemExistsBesideStat(state, path, 1, Machine().Machine().HostPath(path));
}
BENCHMARK(BM_ItemExistsMissingFile)->Unit(benchmark::kMicrosecond);

void BM_ItemExistsPresentFile(benchmark::State& state) {
    const std::string path = "C:\\Program Files\\Vendor100\\app.exe";
    ItemExistsBesideStat(state, path, 1, Machine().Machine().HostPath(path));
}
BENCHMARK(BM_ItemExistsPresentFile)->Unit(benchmark::kMicrosecond);

void BM_ItemExistsMissingKey(benchmark::State& state) {
    ItemExistsBesideStat(state, "HKEY_LOCAL_MACHINE\\Software\\Vendor1", 2,
                         Machine().Machine().Prefix() / "system.reg");
}
BENCHMARK(BM_ItemExistsMissingKey)->Unit(benchmark::kMicrosecond);

void BM_ItemExistsPresentValue(benchmark::State& state) {
    ItemExistsBesideStat(state, "HKEY_LOCAL_MACHINE\\Software\\Vendor100\\Path", 3,
                         Machine().Machine().Prefix() / "system.reg");
}
BENCHMARK(BM_ItemExistsPresentValue)->Unit(benchmark::kMicrosecond);

} // namespace
