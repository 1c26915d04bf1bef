#include "benchFloor.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace benchFloor {

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

double TLoopTimer::SecondsPerIteration(const benchmark::State& state) const {
    const double elapsed = Since(FStart);
    return state.iterations() > 0 ? elapsed / static_cast<double>(state.iterations()) : elapsed;
}

double MeanSeconds(const std::function<void()>& operation, int runs) {
    operation(); // the first run warms what the measured work has warmed too
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    while (done < runs || Since(start) < 0.1) {
        operation();
        ++done;
    }
    return Since(start) / done;
}

void StatEach(const std::vector<std::filesystem::path>& paths) {
    struct stat info {};
    int found = 0;
    for (const std::filesystem::path& path : paths)
        found += stat(path.c_str(), &info) == 0 ? 1 : 0;
    benchmark::DoNotOptimize(found);
}

void ReadEach(const std::vector<std::filesystem::path>& files) {
    for (const std::filesystem::path& file : files) {
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || fstat(fd, &info) != 0) {
            if (fd >= 0)
                close(fd);
            continue;
        }
        const auto size = static_cast<size_t>(info.st_size);
        std::unique_ptr<char[]> buffer(new char[size + 1]);
        size_t done = 0;
        while (done < size) {
            const ssize_t got = read(fd, buffer.get() + done, size - done);
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        benchmark::DoNotOptimize(buffer.get());
        close(fd);
    }
}

double SecondsInFreshProcess(const std::function<void()>& work) {
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return -1;
    }
    if (child == 0) {
        close(channel[0]);
        const auto start = std::chrono::steady_clock::now();
        work();
        const double seconds = Since(start);
        const bool sent = write(channel[1], &seconds, sizeof seconds) == static_cast<ssize_t>(sizeof seconds);
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    double seconds = -1;
    if (read(channel[0], &seconds, sizeof seconds) != static_cast<ssize_t>(sizeof seconds))
        seconds = -1;
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

void ReportBesideFloor(benchmark::State& state, double secondsPerIteration, double floorSeconds) {
    state.counters["floor_s"] = floorSeconds;
    state.counters["ratio"] = floorSeconds > 0 ? secondsPerIteration / floorSeconds : 0;
}

void WaitUntilSettled() {
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

} // namespace benchFloor
