// The HTTP client against a loopback server: one update request's round trip as KV makes it, and the
// throughput of a download into memory as the updater makes it (with progress events and the idle call).
#include "common/serverProtocol.h"
#include "platform/httpClient.h"
#include "support/loopbackServer.h"
#include "support/scopedVariable.h"

#include <benchmark/benchmark.h>
#include <sstream>
#include <string>

namespace {

void BM_PostUpdateRequest(benchmark::State& state) {
    TLoopbackServer server;
    server.Answer("/communicate.php", "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=0\r\n");
    TScopedVariable address(ServerUrlVariable, server.Url("/communicate.php").c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(
            PostServerRequest(UpdateRequest("1700000000", "1234567890", "1234567890"), CommandUpdate, false));
}
// The server serves at most 256 connections.
BENCHMARK(BM_PostUpdateRequest)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_GetIntoMemory(benchmark::State& state) {
    TLoopbackServer server;
    const std::string body(static_cast<size_t>(state.range(0)), 'x');
    server.Answer("/file.dat", body);
    platform::THttpClient client;
    int64_t events = 0;
    client.OnWork = [&](platform::THttpClient&, platform::TWorkMode, int64_t) { ++events; };
    client.OnIdle = [](platform::THttpClient&) {};
    for (auto _ : state) {
        std::ostringstream buffer;
        client.Get(server.Url("/file.dat"), buffer);
        benchmark::DoNotOptimize(buffer.str().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    state.counters["work events"] = static_cast<double>(events) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_GetIntoMemory)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace
