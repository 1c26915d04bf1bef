// The updater's work on a 50 MB database: unpacking the download and taking the digest, each measured
// beside the bare library doing the same work in memory (zlib's inflate, OpenSSL's MD5), so that the ratio
// of the two shows what the streamed file handling costs.
#include "benchFloor.h"
#include "support/tempMachine.h"
#include "update/md5.h"
#include "update/publicFun.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <openssl/evp.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

constexpr size_t DatabaseSize = 50u * 1024 * 1024;

// Records like those of a database: fixed-width slots of path templates and numbers, packing about as
// well as a real one.
std::string DatabaseLikeContent() {
    std::string data;
    data.reserve(DatabaseSize);
    uint32_t state = 7;
    while (data.size() < DatabaseSize) {
        state = state * 1103515245u + 12345u;
        std::string record = "1{pf}\\Vendor" + std::to_string(state % 5000) + "\\Program\\file" +
                             std::to_string(state >> 20) + ".dll";
        record.resize(105, '\0');
        record[0] = static_cast<char>(state);
        data += record;
    }
    data.resize(DatabaseSize);
    return data;
}

struct TDatabaseFiles {
    TTempMachine Machine;
    std::string Plain;
    std::string Packed;
    std::string PackedFile;
    std::string WorkFile;
    std::string PlainFile;

    TDatabaseFiles() {
        Plain = DatabaseLikeContent();
        uLongf size = compressBound(static_cast<uLong>(Plain.size()));
        Packed.resize(size);
        compress2(reinterpret_cast<Bytef*>(Packed.data()), &size,
                  reinterpret_cast<const Bytef*>(Plain.data()), static_cast<uLong>(Plain.size()),
                  Z_DEFAULT_COMPRESSION);
        Packed.resize(size);
        std::filesystem::create_directories(Machine.ProgramFolder() / "update");
        Machine.WriteHostFile(Machine.ProgramFolder() / "update" / "KV_20261210.dat", Packed);
        Machine.WriteHostFile(Machine.ProgramFolder() / "KV.dat", Plain);
        PackedFile = Machine.ProgramFolderWindows() + "update\\KV_20261210.dat";
        WorkFile = Machine.ProgramFolderWindows() + "update\\vData.dat";
        PlainFile = Machine.ProgramFolderWindows() + "KV.dat";
    }
};

TDatabaseFiles& Files() {
    static TDatabaseFiles files;
    return files;
}

// zlib's own inflate from memory into one reused buffer: the floor of the unpacking.
void InflateInMemory(std::string& packed, std::vector<unsigned char>& output) {
    z_stream stream{};
    inflateInit(&stream);
    stream.next_in = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = output.data();
        stream.avail_out = static_cast<uInt>(output.size());
        status = inflate(&stream, Z_NO_FLUSH);
    }
    benchmark::DoNotOptimize(stream.total_out);
    inflateEnd(&stream);
}

// File to file, beside zlib's inflate of the same stream in memory in the same run.
void BM_DecompressFile(benchmark::State& state) {
    TDatabaseFiles& files = Files();
    benchFloor::TLoopTimer timer;
    for (auto _ : state)
        benchmark::DoNotOptimize(DecompressFile(files.PackedFile, files.WorkFile));
    const double seconds = timer.SecondsPerIteration(state);
    std::vector<unsigned char> output(256 * 1024);
    benchFloor::ReportBesideFloor(state, seconds,
                                  benchFloor::MeanSeconds([&] { InflateInMemory(files.Packed, output); }));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * DatabaseSize));
    state.counters["packed MB"] = static_cast<double>(files.Packed.size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_DecompressFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ZlibInflateInMemory(benchmark::State& state) {
    TDatabaseFiles& files = Files();
    std::vector<unsigned char> output(256 * 1024);
    for (auto _ : state)
        InflateInMemory(files.Packed, output);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * DatabaseSize));
}
BENCHMARK(BM_ZlibInflateInMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MD5DigestOfFile(benchmark::State& state) {
    TDatabaseFiles& files = Files();
    TMD5Digest digest{};
    for (auto _ : state) {
        MD5DigestOfFile(files.PlainFile, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * DatabaseSize));
}
BENCHMARK(BM_MD5DigestOfFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// OpenSSL's own MD5 over the same bytes in memory: the floor of the digest.
void BM_OpenSslMD5InMemory(benchmark::State& state) {
    TDatabaseFiles& files = Files();
    unsigned char digest[16] = {};
    unsigned length = 0;
    for (auto _ : state) {
        EVP_Digest(files.Plain.data(), files.Plain.size(), digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * DatabaseSize));
}
BENCHMARK(BM_OpenSslMD5InMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
