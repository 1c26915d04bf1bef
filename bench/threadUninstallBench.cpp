// The worker's jobs on the main window (offscreen): a scan of a 5,000-program database against a prefix with
// 300 Uninstall entries and about 75,000 item checks, beside the bare cost of the same file-system checks (a
// stat of each Linux path the scan tests) measured in the same run; a program's detail with 200 items; the
// removal of a program with 200 items. The scan runs twice: with USER set, and without it, as a program
// started by a service, cron or some launchers runs (the user name then comes from the password database).
//
//     threadUninstallBench     (the scans' counters: floor_s, the bare checks of one scan; ratio, scan /
//     floor)

#include "benchFloor.h"
#include "main/dm2.h"
#include "main/frmMain2.h"
#include "main/threadUninstall.h"
#include "platform/systemInfo.h"
#include "support/hiveBuilder.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <QApplication>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int ProgramCount = 5000;
// One program in this many is installed (300 Uninstall entries) and one in a hundred left a file behind.
constexpr int InstalledEvery = 16;
constexpr int InstalledCount = 300;
constexpr int LeftoverEvery = 100;
constexpr int FilesPerProgram = 6;
constexpr int KeysPerProgram = 3;
// The detail and the removal: one program with 150 files and 50 registry items.
constexpr int BigFiles = 150;
constexpr int BigKeys = 25;
constexpr int BigValues = 25;

std::string Number(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "%05d", i);
    return text;
}

std::string ProgramName(int i) {
    return "Vendor" + Number(i) + " App";
}

bool IsInstalled(int i) {
    return i % InstalledEvery == 0 && i / InstalledEvery < InstalledCount;
}

// The machine, the window and the paths a scan stats, built once.
class TBenchMachine {
public:
    TBenchMachine() {
        TDatabaseWriter writer;
        for (int i = 0; i < ProgramCount; ++i) {
            const std::string vendor = "Vendor" + Number(i);
            TDatabaseProgram& program = writer.Add("P" + std::to_string(i), ProgramName(i), 1 + i % 10);
            for (int file = 0; file < FilesPerProgram; ++file)
                program.File(1, "{pf}\\" + vendor + "\\file" + std::to_string(file) + ".dat");
            for (int key = 0; key < KeysPerProgram; ++key)
                program.Registry(2, "HKLM{sw}\\" + vendor + "\\Key" + std::to_string(key));
            program.DesktopEntries = vendor + ".lnk";
            program.ProgramsEntries = vendor;
            program.StartupEntries = vendor + " Tray.lnk";
            if (IsInstalled(i)) {
                FSystem.Key("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + vendor)
                    .String("DisplayName", ProgramName(i) + " 1.0")
                    .String("UninstallString", "C:\\Program Files\\" + vendor + "\\unins000.exe")
                    .String("Publisher", vendor)
                    .String("InstallDate", "20250101");
                continue;
            }
            if (i % LeftoverEvery == 1)
                FMachine.WriteFile("C:\\Program Files\\" + vendor + "\\file0.dat", "x");
            // What the scan stats for a program it does not find installed: the file items up to the first
            // one that exists, and, for a program without any, both folders of each kind of shell entry.
            for (int file = 0; file < FilesPerProgram; ++file) {
                FScanPaths.push_back(FMachine.HostPath("C:\\Program Files\\" + vendor + "\\file" +
                                                       std::to_string(file) + ".dat"));
                if (i % LeftoverEvery == 1)
                    break;
            }
            if (i % LeftoverEvery == 1)
                continue;
            const std::string user = "C:\\users\\tester\\";
            const std::string userMenu =
                user + "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\";
            const std::string commonMenu = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\";
            for (const std::string& entry :
                 {user + "Desktop\\" + vendor + ".lnk", "C:\\users\\Public\\Desktop\\" + vendor + ".lnk",
                  userMenu + vendor, commonMenu + vendor, commonMenu + "StartUp\\" + vendor + " Tray.lnk",
                  userMenu + "StartUp\\" + vendor + " Tray.lnk"})
                FScanPaths.push_back(FMachine.HostPath(entry));
        }
        TDatabaseProgram& big = writer.Add("BIG", "Bigware", 5);
        for (int file = 0; file < BigFiles; ++file)
            big.File(1, "{pf}\\Bigware\\file" + std::to_string(file) + ".dat");
        for (int key = 0; key < BigKeys; ++key)
            big.Registry(2, "HKCU{sw}\\Bigware\\Key" + std::to_string(key));
        for (int value = 0; value < BigValues; ++value)
            big.Registry(3, "HKCU{sw}\\Bigware\\Value" + std::to_string(value));
        big.InstallFolder = "1Bigware";
        writer.WriteFiles(FMachine.ProgramFolder());
        FMachine.WriteRegistryFile("system.reg", FSystem.Text());
        MakeBigware();
        benchFloor::WaitUntilSettled();

        FForm = std::make_unique<TfrmMain>();
        frmMain = FForm.get();
        FData = std::make_unique<Tdm>();
        dm = FData.get();
    }

    // The big program's files and registry items, made again for each removal.
    void MakeBigware() {
        THiveBuilder user(THiveBuilder::User);
        for (int key = 0; key < BigKeys; ++key)
            user.Key("Software\\Bigware\\Key" + std::to_string(key)).String("Data", "x");
        for (int value = 0; value < BigValues; ++value)
            user.Key("Software\\Bigware").String("Value" + std::to_string(value), "x");
        FMachine.WriteRegistryFile("user.reg", user.Text());
        for (int file = 0; file < BigFiles; ++file)
            FMachine.WriteFile("C:\\Program Files\\Bigware\\file" + std::to_string(file) + ".dat", "x");
    }

    const std::vector<fs::path>& ScanPaths() const { return FScanPaths; }
    TfrmMain& Form() { return *FForm; }

    // The paths a scan stats when the user is User: the profile of the test's user gives way to User's,
    // which gets the same folders, so that both scans find the same.
    std::vector<fs::path> ScanPathsOfUser(const std::string& user) {
        const fs::path users = FMachine.DriveC() / "users";
        if (user != TTempMachine::UserName && !fs::exists(users / user)) {
            fs::copy(users / TTempMachine::UserName, users / user,
                     fs::copy_options::recursive | fs::copy_options::directories_only);
            benchFloor::WaitUntilSettled();
        }
        const std::string from = (users / TTempMachine::UserName).string() + "/";
        const std::string to = (users / user).string() + "/";
        std::vector<fs::path> paths;
        for (const fs::path& path : FScanPaths) {
            std::string text = path.string();
            if (text.compare(0, from.size(), from) == 0)
                text = to + text.substr(from.size());
            paths.emplace_back(std::move(text));
        }
        return paths;
    }

private:
    TTempMachine FMachine;
    THiveBuilder FSystem{THiveBuilder::System};
    std::vector<fs::path> FScanPaths;
    std::unique_ptr<TfrmMain> FForm;
    std::unique_ptr<Tdm> FData;
};

// Made on first use and freed before the application object goes.
std::unique_ptr<TBenchMachine> TheMachine;

TBenchMachine& Machine() {
    if (!TheMachine)
        TheMachine = std::make_unique<TBenchMachine>();
    return *TheMachine;
}

void Scan(benchmark::State& state, const std::vector<fs::path>& paths) {
    TBenchMachine& machine = Machine();
    TUninstallThread worker(umScan);
    const double floor = benchFloor::MeanSeconds([&] { benchFloor::StatEach(paths); });
    benchFloor::TLoopTimer timer;
    for (auto _ : state)
        worker.ScanSoftware();
    benchFloor::ReportBesideFloor(state, timer.SecondsPerIteration(state), floor);
    state.counters["rows"] =
        machine.Form().lstvRList->topLevelItemCount() + machine.Form().lstvNList->topLevelItemCount();
    state.counters["stats"] = static_cast<double>(paths.size());
}

void BM_Scan(benchmark::State& state) {
    Scan(state, Machine().ScanPaths());
}
BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ScanWithoutUser(benchmark::State& state) {
    TBenchMachine& machine = Machine();
    const TScopedVariable user("USER", nullptr);
    Scan(state, machine.ScanPathsOfUser(platform::GetUserName()));
}
BENCHMARK(BM_ScanWithoutUser)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Detail(benchmark::State& state) {
    TBenchMachine& machine = Machine();
    TUninstallThread worker(umDetail);
    SetCaption(machine.Form().labUS1Soft, "Bigware");
    for (auto _ : state)
        worker.ShowSoftwareDetail();
    state.counters["rows"] =
        machine.Form().lstvUS2File->topLevelItemCount() + machine.Form().lstvUS2Registry->topLevelItemCount();
}
BENCHMARK(BM_Detail)->Unit(benchmark::kMillisecond);

void BM_Removal(benchmark::State& state) {
    TBenchMachine& machine = Machine();
    TUninstallThread worker(umClean);
    for (auto _ : state) {
        state.PauseTiming();
        machine.MakeBigware();
        state.ResumeTiming();
        benchmark::DoNotOptimize(worker.RemoveSoftware("Bigware", 1));
    }
}
BENCHMARK(BM_Removal)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    TheMachine.reset();
    return 0;
}
