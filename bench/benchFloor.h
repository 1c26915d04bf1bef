#pragma once

// What a benchmark's figure is measured against: the cost of the system calls that the measured work cannot
// do without (a stat of each path it tests, a read of each file it loads), timed in the same run, so that a
// busy machine slows both alike. A benchmark reports its own time per iteration beside its floor with
// ReportBesideFloor, which adds the counters floor_s and ratio.

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace benchFloor {

// Times the loop of a benchmark: construct it before the loop, ask it after.
class TLoopTimer {
public:
    TLoopTimer() : FStart(std::chrono::steady_clock::now()) {}
    // Seconds per iteration of the loop that just ended.
    double SecondsPerIteration(const benchmark::State& state) const;

private:
    std::chrono::steady_clock::time_point FStart;
};

// The mean time of one run of Operation, run at least Runs times and for at least a tenth of a second.
double MeanSeconds(const std::function<void()>& operation, int runs = 3);

// One stat of each Linux path: the least a lookup of those paths costs.
void StatEach(const std::vector<std::filesystem::path>& paths);
// Reads each file whole into a fresh buffer of its size: the least a load of those files costs.
void ReadEach(const std::vector<std::filesystem::path>& files);

// Runs Work in a fresh child process and gives the seconds that Work took there (negative when the child
// failed): the cost of a first use that nothing in this process has prepared.
double SecondsInFreshProcess(const std::function<void()>& work);

// Adds the floor (seconds) and the ratio of the benchmark's figure to it as counters.
void ReportBesideFloor(benchmark::State& state, double secondsPerIteration, double floorSeconds);

// Waits until folders made now have been left alone long enough to count as settled, as an installed
// program's folders have on a real machine (the file system layer trusts only such folders' listings).
void WaitUntilSettled();

} // namespace benchFloor
