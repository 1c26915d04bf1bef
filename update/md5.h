#pragma once

#include <array>
#include <cstdint>
#include <string>

// The MD5 digest (RFC 1321) of the updater's files and its text form.

using TMD5Digest = std::array<uint8_t, 16>;

// The digest of the whole file. A file that does not exist or cannot be read gives the digest of empty
// input, as an empty file does; it never raises.
void MD5DigestOfFile(const std::string& fileName, TMD5Digest& digest);

// The text form: 32 lower-case hexadecimal digits, the bytes in order, high digit first.
std::string MD5DigestToStr(const TMD5Digest& digest);
