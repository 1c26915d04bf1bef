#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// The updater's own common function: unpacking a downloaded database.

// The error DecompressFile raises; its text says what went wrong and with which file.
class EDecompressionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most a database download may unpack to. The largest databases are a few tens of megabytes; a stream
// that unpacks beyond this is not a database but a zlib bomb.
inline constexpr int64_t MaxUnpackedSize = int64_t{512} << 20;

// Unpacks the zlib stream (RFC 1950) in Source into Dest and returns the number of bytes written. Both are
// streamed: neither file is held in memory. Dest is replaced only when the whole stream has unpacked, its
// check sum included; a stream that unpacks to nothing writes an empty Dest. Raises EDecompressionError,
// with Dest left as it was, when Source cannot be read, the data is not a whole zlib stream, it unpacks to
// more than MaxSize bytes, or Dest cannot be written.
int64_t DecompressFile(const std::string& source, const std::string& dest, int64_t maxSize = MaxUnpackedSize);
