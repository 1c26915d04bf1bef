#include "update/publicFun.h"

#include "update/fileStream.h"

#include <memory>
#include <zlib.h>

namespace {

// The packed data is read in large pieces (it is a tenth of the output or less). The unpacked pieces are
// small enough to stay in the processor's cache while zlib sums them and the kernel copies them into the
// file: 512 KiB unpacks faster than 1 MiB (which leaves the cache) and than 256 KiB (more calls, each
// copying zlib's window). Neither buffer is cleared first, since both are written before they are read.
constexpr size_t InputSize = 1024 * 1024;
constexpr size_t OutputSize = 512 * 1024;

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

    auto input = std::make_unique_for_overwrite<unsigned char[]>(InputSize);
    auto output = std::make_unique_for_overwrite<unsigned char[]>(OutputSize);
    z_stream& stream = inflater.Stream();
    int64_t written = 0;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            size_t got = in.Read(input.get(), InputSize);
            if (in.Failed())
                Fail("Cannot read file \"" + source + "\".");
            if (got == 0)
                Fail("The file \"" + source + "\" ends before its packed data is complete.");
            stream.next_in = input.get();
            stream.avail_in = static_cast<uInt>(got);
        }
        stream.next_out = output.get();
        stream.avail_out = static_cast<uInt>(OutputSize);
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            Fail("The file \"" + source + "\" is not a valid packed file (" +
                 (stream.msg != nullptr ? stream.msg : "zlib error " + std::to_string(status)) + ").");
        size_t produced = OutputSize - stream.avail_out;
        written += static_cast<int64_t>(produced);
        if (written > maxSize)
            Fail("The file \"" + source + "\" unpacks to more than " + std::to_string(maxSize) + " bytes.");
        if (!out.Write(output.get(), produced))
            Fail("Cannot write file \"" + dest + "\".");
    }
    if (!out.Commit())
        Fail("Cannot write file \"" + dest + "\".");
    return written;
}
