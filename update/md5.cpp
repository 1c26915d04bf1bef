#include "update/md5.h"

#include "update/fileStream.h"

#include <memory>
#include <openssl/evp.h>
#include <vector>

namespace {

constexpr size_t ChunkSize = 1024 * 1024;

using TDigestContext = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;

// The digest of Data; the digest of empty input is what a file that cannot be read yields.
void DigestOfBytes(const void* data, size_t size, TMD5Digest& digest) {
    unsigned length = 0;
    EVP_Digest(data, size, digest.data(), &length, EVP_md5(), nullptr);
}

} // namespace

void MD5DigestOfFile(const std::string& fileName, TMD5Digest& digest) {
    TFileReader in;
    TDigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || !in.Open(fileName) || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) {
        DigestOfBytes("", 0, digest);
        return;
    }
    std::vector<unsigned char> buffer(ChunkSize);
    for (;;) {
        size_t got = in.Read(buffer.data(), buffer.size());
        if (got == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.data(), got);
    }
    unsigned length = 0;
    if (in.Failed() || EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        DigestOfBytes("", 0, digest);
}

std::string MD5DigestToStr(const TMD5Digest& digest) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (uint8_t byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}
