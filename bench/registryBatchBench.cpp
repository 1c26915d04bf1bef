// A removal's registry deletions on the real 64-bit system.reg (about 3 MB): 200 keys of one program deleted
// one by one (each deletion saves the hive) and in one batch (one save at the commit), while another thread
// reads a value in a loop as a window would. The counters give that reader's latency (median and p99, in
// microseconds) over all iterations; the floor for the window is a read that never waits for a save.
#include "platform/registry.h"
#include "platform/wineHive.h"
#include "support/tempMachine.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int ItemCount = 200;

std::string ItemKey(int item) {
    return "\\Software\\AcmeBench\\Item" + std::to_string(item);
}

// The fixture's system.reg with the program's 200 keys added, as Wine would have saved them.
std::string SystemWithProgram(const TTempMachine& machine) {
    std::ifstream in(machine.Prefix() / "system.reg", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto hive = platform::THive::Parse(text.str());
    platform::THiveKey& program = hive->CreateKey(*hive->Root().FindChild("Software"), "AcmeBench");
    for (int item = 0; item < ItemCount; ++item)
        hive->SetValue(hive->CreateKey(program, "Item" + std::to_string(item)), "InstallDir",
                       platform::REG_SZ,
                       platform::Utf8ToUtf16Le(std::string("C:\\Program Files\\AcmeBench") + '\0'));
    return hive->Text();
}

// Reads HKLM\...\CurrentVersion\ProgramFilesDir in a loop and keeps each read's time.
class TReader {
public:
    void Start() {
        FStop = false;
        FStarted = false;
        FThread = std::thread([this] {
            platform::TRegistry registry(platform::KEY_READ);
            registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
            // The first read loads the hive that the iteration wrote; the window's reads find it loaded.
            registry.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion", false);
            registry.CloseKey();
            FStarted = true;
            while (!FStop) {
                auto begin = std::chrono::steady_clock::now();
                if (registry.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion", false))
                    benchmark::DoNotOptimize(registry.ReadString("ProgramFilesDir"));
                registry.CloseKey();
                FLatencies.push_back(
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
                        .count());
            }
        });
    }
    // Waits until the reader has loaded the hive.
    void WaitStarted() const {
        while (!FStarted)
            std::this_thread::yield();
    }
    void Stop() {
        FStop = true;
        FThread.join();
    }
    void Report(benchmark::State& state) {
        if (FLatencies.empty())
            return;
        std::sort(FLatencies.begin(), FLatencies.end());
        state.counters["read_median_us"] = FLatencies[FLatencies.size() / 2];
        state.counters["read_p99_us"] = FLatencies[FLatencies.size() * 99 / 100];
        state.counters["read_p999_us"] = FLatencies[FLatencies.size() * 999 / 1000];
        state.counters["read_max_us"] = FLatencies.back();
        state.counters["reads"] = static_cast<double>(FLatencies.size());
    }

private:
    std::atomic<bool> FStop{false};
    std::atomic<bool> FStarted{false};
    std::thread FThread;
    std::vector<double> FLatencies;
};

void DeleteItems(bool batched, benchmark::State& state) {
    TTempMachine machine;
    machine.UseFixtureRegistry("win64");
    const std::string hive = SystemWithProgram(machine);
    TReader reader;
    int deleted = 0;
    for (auto _ : state) {
        state.PauseTiming();
        machine.WriteRegistryFile("system.reg", hive);
        reader.Start();
        reader.WaitStarted();
        state.ResumeTiming();
        platform::TRegistry registry;
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        std::optional<platform::TRegistryBatch> batch;
        if (batched)
            batch.emplace();
        for (int item = 0; item < ItemCount; ++item)
            deleted += registry.DeleteKey(ItemKey(item)) ? 1 : 0;
        if (batch && !batch->Commit())
            deleted = 0;
        state.PauseTiming();
        reader.Stop();
        state.ResumeTiming();
    }
    reader.Report(state);
    state.counters["deleted"] = static_cast<double>(deleted);
}

void BM_Delete200ItemsOneByOne(benchmark::State& state) {
    DeleteItems(false, state);
}
BENCHMARK(BM_Delete200ItemsOneByOne)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Delete200ItemsInOneBatch(benchmark::State& state) {
    DeleteItems(true, state);
}
BENCHMARK(BM_Delete200ItemsInOneBatch)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
