// KV's start-up with a database of 5,000 programs: from the start of the program to its window shown (a new
// process each time: loading, the toolkit, the window and the data module, the settings, the version labels
// and the category counts), and the window's part of it alone, in this process. Offscreen.

#include "main/dm2.h"
#include "main/frmMain2.h"
#include "platform/systemInfo.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <QApplication>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int ProgramCount = 5000;
const char* const ChildMode = "--show-window";
std::string SelfPath;

// One machine with the database for all benchmarks.
TTempMachine& Machine() {
    static TTempMachine machine;
    static const bool written = [] {
        TDatabaseWriter writer;
        for (int i = 0; i < ProgramCount; ++i) {
            char name[40];
            std::snprintf(name, sizeof name, "Vendor%05d Application", i);
            writer.Add("P" + std::to_string(i), name, 1 + i % 10)
                .File(1, "{pf}\\Vendor" + std::to_string(i) + "\\app.exe");
        }
        writer.WriteFiles(machine.ProgramFolder());
        return true;
    }();
    (void)written;
    return machine;
}

long long MonotonicNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The window's part of the start-up: created, the data module beside it, shown.
void ShowWindowOnce() {
    auto form = std::make_unique<TfrmMain>();
    frmMain = form.get();
    auto data = std::make_unique<Tdm>();
    dm = data.get();
    form->show();
    QCoreApplication::processEvents();
    benchmark::DoNotOptimize(form->isVisible());
}

void BM_WindowShown(benchmark::State& state) {
    Machine();
    for (auto _ : state)
        ShowWindowOnce();
    state.counters["programs"] = ProgramCount;
}
BENCHMARK(BM_WindowShown)->Unit(benchmark::kMillisecond);

// A new process that creates the toolkit and shows the window, then reports the steady clock (shared by all
// processes) through a pipe and ends.
void BM_ProgramStartToWindowShown(benchmark::State& state) {
    Machine();
    for (auto _ : state) {
        int report[2];
        if (::pipe(report) != 0) {
            state.SkipWithError("pipe");
            break;
        }
        const long long started = MonotonicNanoseconds();
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(report[0]);
            const std::string descriptor = std::to_string(report[1]);
            ::execl(SelfPath.c_str(), SelfPath.c_str(), ChildMode, descriptor.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(report[1]);
        long long shown = 0;
        const bool got = ::read(report[0], &shown, sizeof shown) == static_cast<ssize_t>(sizeof shown);
        ::close(report[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!got) {
            state.SkipWithError("the window was not shown");
            break;
        }
        state.SetIterationTime(static_cast<double>(shown - started) / 1e9);
    }
    state.counters["programs"] = ProgramCount;
}
BENCHMARK(BM_ProgramStartToWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    SelfPath = argv[0];
    if (argc == 3 && std::strcmp(argv[1], ChildMode) == 0) {
        // The child: the machine's environment came with it; the program folder is the parent's.
        QApplication application(argc, argv);
        platform::SetModuleFileNameForTesting(std::string(std::getenv("KORVANE_BENCH_PROGRAM")));
        auto form = std::make_unique<TfrmMain>();
        frmMain = form.get();
        auto data = std::make_unique<Tdm>();
        dm = data.get();
        form->show();
        QCoreApplication::processEvents();
        const long long shown = MonotonicNanoseconds();
        const int descriptor = std::atoi(argv[2]);
        return ::write(descriptor, &shown, sizeof shown) == static_cast<ssize_t>(sizeof shown) ? 0 : 1;
    }
    QApplication application(argc, argv);
    ::setenv("KORVANE_BENCH_PROGRAM", Machine().ProgramFile().c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
