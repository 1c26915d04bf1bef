#include "update/publicFun.h"

#include "update/fileStream.h"

#include <memory>
#include <vector>
#include <zlib.h>

namespace {

constexpr size_t ChunkSize = 1024 * 1024;

// Owns a zlib inflate state.
class TInflater {
public:
    TInflater() { FReady = inflateInit(&FStream) == Z_OK; }
    ~TInflater() {
        if (FReady)
            inflateEnd(&FStream);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    bool Ready() const { return FReady; }
    z_stream& Stream() { return FStream; }

private:
    z_stream FStream{};
    bool FReady = false;
};

[[noreturn]] void Fail(const std::string& text) {
    throw EDecompressionError(text);
}

} // namespace

int64_t DecompressFile(const std::string& source, const std::string& dest, int64_t maxSize) {
    TFileReader in;
    if (!in.Open(source))
        Fail("Cannot open file \"" + source + "\".");
    TFileReplacer out;
    if (!out.Open(dest))
        Fail("Cannot create file \"" + dest + "\".");
    TInflater inflater;
    if (!inflater.Ready())
        Fail("Cannot start unpacking \"" + source + "\".");

    std::vector<unsigned char> input(ChunkSize);
    std::vector<unsigned char> output(ChunkSize);
    z_stream& stream = inflater.Stream();
    int64_t written = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            size_t got = in.Read(input.data(), input.size());
            if (in.Failed())
                Fail("Cannot read file \"" + source + "\".");
            if (got == 0)
                Fail("The file \"" + source + "\" ends before its packed data is complete.");
            stream.next_in = input.data();
            stream.avail_in = static_cast<uInt>(got);
        }
        stream.next_out = output.data();
        stream.avail_out = static_cast<uInt>(output.size());
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            Fail("The file \"" + source + "\" is not a valid packed file (" +
                 (stream.msg != nullptr ? stream.msg : "zlib error " + std::to_string(status)) + ").");
        size_t produced = output.size() - stream.avail_out;
        written += static_cast<int64_t>(produced);
        if (written > maxSize)
            Fail("The file \"" + source + "\" unpacks to more than " + std::to_string(maxSize) + " bytes.");
        if (!out.Write(output.data(), produced))
            Fail("Cannot write file \"" + dest + "\".");
    }
    if (!out.Commit())
        Fail("Cannot write file \"" + dest + "\".");
    return written;
}
