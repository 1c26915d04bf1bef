// The updater's download of a large file, 20 MB and 200 MB, through the window's own DownloadFile: its
// speed, and the peak of the process's resident memory above where it stood before the download. The body
// streams to disk, so the peak must stay flat as the size grows. The server runs in a child process of its
// own, so that its copy of the body is not counted.
#include "common/serverProtocol.h"
#include "platform/systemInfo.h"
#include "support/loopbackServer.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "update/frmUpdate2.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <fstream>
#include <QApplication>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A loopback server in a child process that offers /big.bin of the given size as the new program; ended by
// the destructor.
class TServerProcess {
public:
    explicit TServerProcess(size_t size) {
        int report[2];
        if (pipe(report) != 0)
            std::abort();
        FChild = fork();
        if (FChild == 0) {
            close(report[0]);
            TLoopbackServer server;
            server.Answer("/big.bin", std::string(size, 'b'));
            server.Answer("/communicate.php",
                          "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n\r\n\r\n" +
                              server.Url("/big.bin") + "\r\n");
            const uint16_t port = server.Port();
            (void)!write(report[1], &port, sizeof port);
            close(report[1]);
            pause();
            _exit(0);
        }
        close(report[1]);
        if (read(report[0], &FPort, sizeof FPort) != sizeof FPort)
            std::abort();
        close(report[0]);
    }
    ~TServerProcess() {
        kill(FChild, SIGKILL);
        waitpid(FChild, nullptr, 0);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }

private:
    pid_t FChild = -1;
    uint16_t FPort = 0;
};

// The kibibytes of a line of /proc/self/status ("VmHWM", "VmRSS").
long StatusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return 0;
}

// Times each download and records the peak of resident memory above where it stood before it.
template <typename TDownload>
void MeasureDownloads(benchmark::State& state, size_t size, TDownload download) {
    long peakAbove = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = StatusKilobytes("VmRSS");
        state.ResumeTiming();
        const bool whole = download();
        state.PauseTiming();
        peakAbove = std::max(peakAbove, StatusKilobytes("VmHWM") - before);
        if (!whole)
            state.SkipWithError("the download did not arrive whole");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["peak MB above start"] = static_cast<double>(peakAbove) / 1024.0;
}

QApplication& Application() {
    static int argc = 1;
    static char name[] = "updateDownloadBench";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *application;
}

void BM_DownloadFile(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) << 20;
    TServerProcess server(size);
    Application();
    TTempMachine machine;
    platform::SetModuleFileNameForTesting(machine.ProgramFolder() / "Update.exe");
    TScopedVariable serverVariable(ServerUrlVariable, server.Url("/communicate.php").c_str());
    TfrmUpdate window;
    if (window.CheckUpdate("0", "0", "0") != 1)
        state.SkipWithError("the update request failed");
    MeasureDownloads(state, size, [&] {
        std::string path;
        window.DownloadFile(1, "Rudarorovod_20261210.exe", path);
        return !path.empty();
    });
    platform::SetModuleFileNameForTesting({});
}

// For comparison, the same transfer held whole in memory, as a download into a buffer would be: this is
// the growth that streaming to disk avoids, and it shows that the measurement sees a held body.
void BM_GetIntoMemory(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) << 20;
    TServerProcess server(size);
    platform::THttpClient client;
    MeasureDownloads(state, size, [&] { return client.Get(server.Url("/big.bin")).size() == size; });
}
BENCHMARK(BM_GetIntoMemory)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK(BM_DownloadFile)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
