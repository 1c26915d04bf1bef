#include "update/publicFun.h"

#include "support/fileSizeLimit.h"
#include "support/tempMachine.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

std::string Packed(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string packed(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                        reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), level),
              Z_OK);
    packed.resize(size);
    return packed;
}

// Bytes that do not repeat, so that they pack to several input chunks.
std::string Noise(size_t size) {
    std::string data(size, '\0');
    uint32_t state = 12345;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return data;
}

std::string Content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

class DecompressFileTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(Folder()); }
    fs::path Folder() const { return Machine.ProgramFolder() / "update"; }
    std::string Windows(const std::string& name) const {
        return Machine.ProgramFolderWindows() + "update\\" + name;
    }
    void Write(const std::string& name, const std::string& content) const {
        Machine.WriteHostFile(Folder() / name, content);
    }
    // The folder holds exactly these names: nothing temporary was left behind.
    void ExpectOnly(std::initializer_list<std::string> names) const {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(Folder())) {
            ++count;
            EXPECT_NE(std::find(names.begin(), names.end(), entry.path().filename().string()), names.end())
                << entry.path();
        }
        EXPECT_EQ(count, names.size());
    }

    TTempMachine Machine;
};

TEST_F(DecompressFileTest, UnpacksWholeStreamsOfEverySize) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{1023}, size_t{1024}, size_t{3} * 1024 * 1024 + 7}) {
        std::string data = Noise(size);
        Write("KV_20261210.dat", Packed(data));
        Write("vData.dat", "an older work file");
        EXPECT_EQ(DecompressFile(Windows("KV_20261210.dat"), Windows("vData.dat")),
                  static_cast<int64_t>(size));
        EXPECT_EQ(Content(Folder() / "vData.dat"), data) << size;
    }
    // A stream of one repeated byte packs tightly: that alone is no bomb.
    std::string zeros(20 * 1024 * 1024, '\0');
    Write("KV_20261210.dat", Packed(zeros, 9));
    EXPECT_EQ(DecompressFile(Windows("KV_20261210.dat"), Windows("vData.dat")), 20 * 1024 * 1024);
    EXPECT_EQ(fs::file_size(Folder() / "vData.dat"), zeros.size());
    ExpectOnly({"KV_20261210.dat", "vData.dat"});
}

TEST_F(DecompressFileTest, EveryFailureRaisesAndLeavesTheOldFile) {
    std::string data = Noise(600000);
    std::string packed = Packed(data);
    std::string badCheck = packed;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    std::string rawDeflate = packed.substr(2, packed.size() - 6);
    struct TCase {
        const char* Name;
        std::string Stream;
        int64_t Limit;
    } cases[] = {
        {"empty file", "", MaxUnpackedSize},
        {"not zlib at all", "PK\x03\x04 this is a zip", MaxUnpackedSize},
        {"header only", packed.substr(0, 2), MaxUnpackedSize},
        {"cut in the middle", packed.substr(0, packed.size() / 2), MaxUnpackedSize},
        {"check sum missing", packed.substr(0, packed.size() - 4), MaxUnpackedSize},
        {"check sum wrong", badCheck, MaxUnpackedSize},
        {"raw deflate without the zlib header", rawDeflate, MaxUnpackedSize},
        {"unpacks beyond the bound", packed, static_cast<int64_t>(data.size()) - 1},
    };
    for (const TCase& c : cases) {
        Write("KV.bin", c.Stream);
        Write("vData.dat", "old work file");
        EXPECT_THROW(DecompressFile(Windows("KV.bin"), Windows("vData.dat"), c.Limit), EDecompressionError)
            << c.Name;
        EXPECT_EQ(Content(Folder() / "vData.dat"), "old work file") << c.Name;
    }
    // Exactly at the bound is still whole.
    EXPECT_EQ(DecompressFile(Windows("KV.bin"), Windows("vData.dat"), static_cast<int64_t>(data.size())),
              static_cast<int64_t>(data.size()));
    ExpectOnly({"KV.bin", "vData.dat"});
}

TEST_F(DecompressFileTest, UnreadableSourcesAndUnwritableTargetsRaise) {
    Write("KV.bin", Packed(Noise(300000)));
    Write("vData.dat", "old work file");
    EXPECT_THROW(DecompressFile(Windows("missing.bin"), Windows("vData.dat")), EDecompressionError);
    EXPECT_THROW(DecompressFile(Windows(""), Windows("vData.dat")), EDecompressionError);
    EXPECT_THROW(DecompressFile(Windows("KV.bin"), Windows("missing\\vData.dat")), EDecompressionError);
    fs::create_directories(Folder() / "folder");
    EXPECT_THROW(DecompressFile(Windows("KV.bin"), Windows("folder")), EDecompressionError);
    {
        TFileSizeLimit fullDisk(64 * 1024);
        EXPECT_THROW(DecompressFile(Windows("KV.bin"), Windows("vData.dat")), EDecompressionError);
    }
    ASSERT_TRUE(Machine.SetImmutable(Folder(), true));
    EXPECT_THROW(DecompressFile(Windows("KV.bin"), Windows("vData.dat")), EDecompressionError);
    Machine.SetImmutable(Folder(), false);
    EXPECT_EQ(Content(Folder() / "vData.dat"), "old work file");
    ExpectOnly({"KV.bin", "vData.dat", "folder"});
}

TEST_F(DecompressFileTest, WhatDeadWritersLeftGoesAndALiveWritersStays) {
    const std::string live = ".vData.dat.part-" + std::to_string(getpid()) + "-9";
    Write(".vData.dat.part-2147483646-0", "cut off by a crash");
    Write(live, "being written");
    Write(".vSoft.dat.part-2147483646-0", "another file's");
    Write("KV.bin", Packed("data"));
    EXPECT_EQ(DecompressFile(Windows("KV.bin"), Windows("vData.dat")), 4);
    ExpectOnly({"KV.bin", "vData.dat", live, ".vSoft.dat.part-2147483646-0"});
}

TEST_F(DecompressFileTest, TheErrorNamesTheFile) {
    Write("Soft_20261210.dat", "garbage");
    try {
        DecompressFile(Windows("Soft_20261210.dat"), Windows("vSoft.dat"));
        FAIL() << "no error";
    } catch (const EDecompressionError& error) {
        EXPECT_NE(std::string(error.what()).find("Soft_20261210.dat"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(fs::exists(Folder() / "vSoft.dat"));
}

} // namespace
