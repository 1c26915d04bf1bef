#include "update/md5.h"

#include "support/tempMachine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace fs = std::filesystem;

namespace {

std::string DigestText(const std::string& fileName) {
    TMD5Digest digest{};
    MD5DigestOfFile(fileName, digest);
    return MD5DigestToStr(digest);
}

constexpr const char* EmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

class MD5Test : public testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& content) const {
        Machine.WriteHostFile(Machine.ProgramFolder() / name, content);
        return Machine.ProgramFolderWindows() + name;
    }

    TTempMachine Machine;
};

TEST_F(MD5Test, DigestsOfKnownContents) {
    EXPECT_EQ(DigestText(Write("empty.dat", "")), EmptyDigest);
    EXPECT_EQ(DigestText(Write("abc.dat", "abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestText(Write("fox.dat", "The quick brown fox jumps over the lazy dog")),
              "9e107d9d372bb6826bd81d3542a419d6");

    // Across several read pieces the digest is that of the whole content.
    std::string large(3 * 1024 * 1024 + 5, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 + i / 4096);
    unsigned char expected[16] = {};
    unsigned length = 0;
    EVP_Digest(large.data(), large.size(), expected, &length, EVP_md5(), nullptr);
    TMD5Digest digest{};
    MD5DigestOfFile(Write("KV.dat", large), digest);
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), expected));
}

TEST_F(MD5Test, WhatCannotBeReadHasTheDigestOfEmptyInput) {
    EXPECT_EQ(DigestText(Machine.ProgramFolderWindows() + "missing.dat"), EmptyDigest);
    EXPECT_EQ(DigestText(Machine.ProgramFolderWindows()), EmptyDigest);
    EXPECT_EQ(DigestText(""), EmptyDigest);
    EXPECT_EQ(DigestText("Q:\\nowhere.dat"), EmptyDigest);
}

TEST(MD5TextTest, ThirtyTwoLowerCaseDigitsHighFirst) {
    TMD5Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<uint8_t>(i * 17);
    EXPECT_EQ(MD5DigestToStr(digest), "00112233445566778899aabbccddeeff");
    digest.fill(0xA5);
    EXPECT_EQ(MD5DigestToStr(digest), "a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5");
}

} // namespace
