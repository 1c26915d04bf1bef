// Feeds arbitrary bytes to the updater as a downloaded database: a zlib stream (truncated, corrupt, a bomb)
// is unpacked by DecompressFile over an older work file. Besides the sanitizers' findings it checks the
// result against a plain in-memory inflate of the same bytes: a whole stream within the bound must unpack
// to exactly those bytes, anything else must raise and leave the older work file as it was.
//
// The machine is a prefix in a temporary folder of the fuzzer's own (its Z: drive is that folder too).

#include "platform/winePath.h"
#include "update/publicFun.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

constexpr int64_t Bound = 1 << 20;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

fs::path gMachineRoot;

void RemoveMachine() {
    std::error_code error;
    fs::remove_all(gMachineRoot, error);
}

void MakeMachine() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/korvane-update-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    gMachineRoot = pattern;
    std::atexit(RemoveMachine);
    const fs::path prefix = gMachineRoot / "prefix";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(gMachineRoot / "program" / "update");
    fs::create_symlink(gMachineRoot, prefix / "dosdevices" / "z:");
    setenv("WINEPREFIX", prefix.c_str(), 1);
}

// The stream's content when it is one whole zlib stream that unpacks to at most Bound bytes.
std::optional<std::string> ReferenceInflate(const uint8_t* data, size_t size) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        std::abort();
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::string out;
    std::vector<unsigned char> chunk(65536);
    int status = Z_OK;
    while (status == Z_OK && out.size() <= static_cast<size_t>(Bound)) {
        stream.next_out = chunk.data();
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(reinterpret_cast<char*>(chunk.data()), chunk.size() - stream.avail_out);
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END || out.size() > static_cast<size_t>(Bound))
        return std::nullopt;
    return out;
}

std::string Content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool made = (MakeMachine(), true);
    (void)made;
    const fs::path folder = gMachineRoot / "program" / "update";
    std::ofstream(folder / "KV_20261210.dat", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::ofstream(folder / "vData.dat", std::ios::binary | std::ios::trunc) << "older work file";
    const std::string source = platform::ToWindowsPath(folder / "KV_20261210.dat");
    const std::string dest = platform::ToWindowsPath(folder / "vData.dat");

    std::optional<std::string> expected = ReferenceInflate(data, size);
    try {
        int64_t written = DecompressFile(source, dest, Bound);
        Check(expected.has_value(), "a stream that zlib rejects was unpacked");
        Check(written == static_cast<int64_t>(expected->size()), "the unpacked size differs");
        Check(Content(folder / "vData.dat") == *expected, "the unpacked bytes differ");
    } catch (const EDecompressionError&) {
        Check(!expected.has_value(), "a whole stream was refused");
        Check(Content(folder / "vData.dat") == "older work file", "a failed unpack changed the work file");
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++entries;
    Check(entries == 2, "a temporary file was left behind");
    return 0;
}
