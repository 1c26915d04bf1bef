// The updater's download of a large file, 50 MB and 200 MB, through the window's own DownloadFile with the
// window shown, so that its gauge and its "KB" cell are drawn as the body arrives: its time beside the floor,
// a plain libcurl transfer of the same file into a file, timed in the same iterations; and the peak of the
// process's resident memory above where it stood before the download. The body streams to disk, so the peak
// must stay flat as the size grows. The server runs in a child process of its own, so that its copy of the
// body is not counted.
#include "benchFloor.h"
#include "common/serverProtocol.h"
#include "platform/systemInfo.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"
#include "update/frmUpdate2.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <QApplication>
#include <QToolButton>
#include <QTreeWidget>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool SendAll(int connection, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = send(connection, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// Reads one request (head and announced body) and gives its target, or empty text when the client left.
std::string ReadTarget(int connection) {
    std::string received;
    char buffer[4096];
    size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            return {};
        received.append(buffer, static_cast<size_t>(got));
    }
    size_t bodySize = 0;
    const size_t length = received.find("Content-Length: ");
    if (length != std::string::npos && length < headEnd)
        bodySize = std::stoul(received.substr(length + 16));
    while (received.size() < headEnd + 4 + bodySize) {
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            return {};
        received.append(buffer, static_cast<size_t>(got));
    }
    const size_t targetStart = received.find(' ') + 1;
    return received.substr(targetStart, received.find(' ', targetStart) - targetStart);
}

// A loopback server in a child process that offers /big.bin of the given size as the new program; ended by
// the destructor. It answers one connection at a time and sends the body from one buffer made beforehand,
// so that the transfer, not the server, is what the figures measure (the tests' server copies each reply).
class TServerProcess {
public:
    explicit TServerProcess(size_t size) {
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t addressSize = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 16) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0)
            std::abort();
        FPort = ntohs(address.sin_port);
        FChild = fork();
        if (FChild == 0)
            Serve(listener, size);
        close(listener);
    }
    ~TServerProcess() {
        kill(FChild, SIGKILL);
        waitpid(FChild, nullptr, 0);
    }
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }

private:
    [[noreturn]] void Serve(int listener, size_t size) const {
        const std::string body(size, 'b');
        const std::string update =
            "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n\r\n\r\n" + Url("/big.bin") + "\r\n";
        for (;;) {
            const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            const std::string target = ReadTarget(connection);
            const std::string& reply = target == "/big.bin" ? body : update;
            const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.size()) +
                                     "\r\nConnection: close\r\n\r\n";
            if (!target.empty() && SendAll(connection, head.data(), head.size()))
                SendAll(connection, reply.data(), reply.size());
            shutdown(connection, SHUT_WR);
            char buffer[256];
            while (recv(connection, buffer, sizeof buffer, 0) > 0) {
            }
            close(connection);
        }
    }

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

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times each download and records the peak of resident memory above where it stood before it; gives the
// mean seconds of one download. Floor, when given, runs after each download with the timing paused, and
// its mean seconds go to FloorSeconds.
template <typename TDownload>
double MeasureDownloads(benchmark::State& state, size_t size, TDownload download,
                        const std::function<bool()>& floor = nullptr, double* floorSeconds = nullptr) {
    long peakAbove = 0;
    double seconds = 0;
    double floorTotal = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = StatusKilobytes("VmRSS");
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        const bool whole = download();
        seconds += Since(start);
        state.PauseTiming();
        peakAbove = std::max(peakAbove, StatusKilobytes("VmHWM") - before);
        if (!whole)
            state.SkipWithError("the download did not arrive whole");
        if (floor) {
            start = std::chrono::steady_clock::now();
            if (!floor())
                state.SkipWithError("the floor's transfer did not arrive whole");
            floorTotal += Since(start);
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["peak MB above start"] = static_cast<double>(peakAbove) / 1024.0;
    const double iterations = std::max<double>(1, static_cast<double>(state.iterations()));
    if (floorSeconds != nullptr)
        *floorSeconds = floorTotal / iterations;
    return seconds / iterations;
}

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file)) * size;
}

// The floor: the least a download of Url into File costs, libcurl's own transfer written straight to the
// file; whether the whole body came.
bool CurlToFile(const std::string& url, const std::filesystem::path& file, size_t size) {
    std::FILE* target = std::fopen(file.c_str(), "wb");
    if (target == nullptr)
        return false;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteToFile);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, target);
    const bool done = curl_easy_perform(easy) == CURLE_OK;
    curl_easy_cleanup(easy);
    const bool closed = std::fclose(target) == 0;
    return done && closed && std::filesystem::file_size(file) == size;
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
    QApplication& application = Application();
    TTempMachine machine;
    platform::SetModuleFileNameForTesting(machine.ProgramFolder() / "Update.exe");
    TScopedVariable serverVariable(ServerUrlVariable, server.Url("/communicate.php").c_str());
    TfrmUpdate window;
    // Shown as during a run, with the download's row in the list; the button is disabled as the run
    // disables it, so the window's activation starts no run of its own.
    window.sbtnUpdate->setEnabled(false);
    window.show();
    auto* row = new QTreeWidgetItem(
        window.lstvDownload, {QStringLiteral("Rudarorovod_20261210.exe"), QStringLiteral("downloading")});
    row->setTextAlignment(1, Qt::AlignCenter);
    application.processEvents();
    if (window.CheckUpdate("0", "0", "0") != 1)
        state.SkipWithError("the update request failed");
    // The floor's transfer runs in the same iterations, so that a busy machine slows both alike.
    double floorSeconds = 0;
    int floorRuns = 0;
    const double seconds = MeasureDownloads(
        state, size,
        [&] {
            // Both transfers write a new file each time, as a download of the day's name usually does.
            std::string path;
            window.DownloadFile(1, "Rudarorovod_" + std::to_string(floorRuns) + ".exe", path);
            return !path.empty();
        },
        [&] {
            ++floorRuns;
            return CurlToFile(server.Url("/big.bin"), machine.Root() / ("floor" + std::to_string(floorRuns)),
                              size);
        },
        &floorSeconds);
    benchFloor::ReportBesideFloor(state, seconds, floorSeconds);
    platform::SetModuleFileNameForTesting({});
}

// For comparison, the same transfer held whole in memory, as a download into a buffer would be: this is
// the growth that streaming to disk avoids, and it shows that the measurement sees a held body.
void BM_GetIntoMemory(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0)) << 20;
    TServerProcess server(size);
    platform::THttpClient client;
    (void)MeasureDownloads(state, size, [&] { return client.Get(server.Url("/big.bin")).size() == size; });
}
BENCHMARK(BM_GetIntoMemory)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK(BM_DownloadFile)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
