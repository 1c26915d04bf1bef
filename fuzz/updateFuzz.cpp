// Feeds arbitrary bytes to the updater as what the network brings it; the first byte chooses which.
// - Even: a downloaded database. The zlib stream (truncated, corrupt, a bomb) is unpacked by DecompressFile
//   over an older work file, and the result is checked against a plain in-memory inflate of the same bytes:
//   a whole stream within the bound must unpack to exactly those bytes, anything else must raise and leave
//   the older work file as it was.
// - Odd: the server's reply to the update request. Its reading must give a mask only for addresses that are
//   there, and no address or digest from a reply that failed its checks.
//
// The machine is a prefix in a temporary folder of the fuzzer's own (its Z: drive is that folder too).

#include "common/serverProtocol.h"
#include "fuzzSupport.h"
#include "platform/winePath.h"
#include "update/publicFun.h"
#include "update/updaterReply.h"

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

fs::path gMachineRoot;

void MakeMachine() {
    gMachineRoot = MakeFuzzFolder("korvane-update-fuzz");
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

void CheckReply(const uint8_t* data, size_t size) {
    TUpdateFiles files;
    const int result = ReadUpdaterReply(std::string(reinterpret_cast<const char*>(data), size), files);
    const bool anyField = !files.ProgramUrl.empty() || !files.DataUrl.empty() || !files.SoftDataUrl.empty() ||
                          !files.ProgramMd5.empty() || !files.DataMd5.empty() || !files.SoftDataMd5.empty();
    Check(result <= 7, "a mask beyond the three files");
    if (result > 0) {
        Check(((result & 1) != 0) == !files.ProgramUrl.empty(), "the program bit differs from its address");
        Check(((result & 2) != 0) == !files.DataUrl.empty(), "the data bit differs from its address");
        Check(((result & 4) != 0) == !files.SoftDataUrl.empty(), "the software bit differs from its address");
    }
    if (!UpdateReply(std::string(reinterpret_cast<const char*>(data), size))
             .Read(CommandUpdate, 0)
             .ChecksPassed)
        Check(!anyField, "a reply that failed its checks filled a field");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool made = (MakeMachine(), true);
    (void)made;
    if (size == 0)
        return 0;
    if ((data[0] & 1) != 0) {
        CheckReply(data + 1, size - 1);
        return 0;
    }
    ++data;
    --size;
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
