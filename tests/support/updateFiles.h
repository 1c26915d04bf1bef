#pragma once

#include <openssl/evp.h>
#include <string>
#include <zlib.h>

// The files an update server offers, made by the tests: digests in their text form and packed databases.
// The tests that include this link OpenSSL::Crypto and ZLIB::ZLIB.

// The MD5 digest of Data as 32 lower-case hexadecimal digits.
inline std::string Md5Text(const std::string& data) {
    unsigned char digest[16] = {};
    unsigned length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

// Data as one zlib stream, at the given compression level.
inline std::string Packed(const std::string& data, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), level);
    packed.resize(size);
    return packed;
}
