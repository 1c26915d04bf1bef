#include "platform/peResources.h"

#include "platform/peImage.h"
#include "platform/winePath.h"
#include "support/peBuilder.h"
#include "support/tempMachine.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

using namespace platform;

namespace {

constexpr uint32_t Red = 0xFFFF0000;
constexpr uint32_t Green = 0xFF00FF00;
constexpr uint32_t Blue = 0xFF0000FF;
constexpr uint32_t White = 0xFFFFFFFF;
constexpr uint32_t Yellow = 0xFFFFFF00;

uint32_t PixelAt(const TIconImage& image, int x, int y) {
    return image.Pixels.at(static_cast<size_t>(y) * static_cast<size_t>(image.Width) +
                           static_cast<size_t>(x));
}

int Extract(const std::vector<uint8_t>& bytes, int index, TIconImage& large, TIconImage& small) {
    return ExtractIconPairFrom(TBufferSource(bytes), index, large, small);
}

std::vector<uint8_t> VersionBlockOf(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> block;
    ReadVersionBlock(TBufferSource(file), block);
    return block;
}

std::string QueryText(const std::vector<uint8_t>& block, const std::string& path) {
    std::vector<uint8_t> value;
    if (!VerQueryValue(block, path, value))
        return "<none>";
    return std::string(value.begin(), value.end());
}

// Three groups: a named one (which the directory lists first) and two numbered ones, each with a 32 and
// a 16 picture whose colours tell them apart.
TPeBuilder ThreeGroups(TPeBuilder::TFormat format) {
    TPeBuilder pe(format);
    pe.AddIconGroup(7, {TIconSpec{32, Blue, 32, White}, TIconSpec{16, Blue}});
    pe.AddIconGroup(2, {TIconSpec{16, Green}, TIconSpec{32, Green, 32, Yellow}});
    pe.AddIconGroup("MainIcon", {TIconSpec{32, Red, 32, White}, TIconSpec{16, Red}});
    return pe;
}

class TIconGroupTest : public ::testing::TestWithParam<TPeBuilder::TFormat> {};

TEST_P(TIconGroupTest, IndexAndResourceIdentifierChooseTheGroup) {
    const auto file = ThreeGroups(GetParam()).Build();
    struct TCase {
        int Index;
        uint32_t Color; // 0: no icon
        uint32_t Marker;
    };
    const TCase cases[] = {
        {0, Red, White},   {1, Green, Yellow},  {2, Blue, White}, {3, 0, 0},      {1000, 0, 0},
        {-7, Blue, White}, {-2, Green, Yellow}, {-3, 0, 0},       {-65536, 0, 0}, {INT32_MIN, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("index " + std::to_string(c.Index));
        TIconImage large, small;
        const int found = Extract(file, c.Index, large, small);
        if (c.Color == 0) {
            EXPECT_EQ(found, 0);
            EXPECT_TRUE(large.Empty());
            EXPECT_TRUE(small.Empty());
            continue;
        }
        ASSERT_EQ(found, 2);
        ASSERT_EQ(large.Width, 32);
        ASSERT_EQ(large.Height, 32);
        ASSERT_EQ(small.Width, 16);
        ASSERT_EQ(small.Height, 16);
        EXPECT_EQ(PixelAt(large, 0, 0), c.Marker);
        EXPECT_EQ(PixelAt(large, 15, 15), c.Marker);
        EXPECT_EQ(PixelAt(large, 16, 0), c.Color);
        EXPECT_EQ(PixelAt(large, 0, 16), c.Color);
        EXPECT_EQ(PixelAt(large, 31, 31), c.Color);
        EXPECT_EQ(PixelAt(small, 8, 8), c.Color);
    }
}

TEST_P(TIconGroupTest, FileWithoutIconsHasNone) {
    TPeBuilder pe(GetParam());
    pe.SetVersion("1.0.0.0");
    TIconImage large, small;
    EXPECT_EQ(Extract(pe.Build(), 0, large, small), 0);
    EXPECT_EQ(Extract(TPeBuilder(GetParam()).Build(), 0, large, small), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, TIconGroupTest,
                         ::testing::Values(TPeBuilder::TFormat::Pe32, TPeBuilder::TFormat::Pe32Plus,
                                           TPeBuilder::TFormat::Elf64));

TEST(IconImageTest, EveryBitDepthDecodesUprightWithItsMask) {
    for (int bits : {32, 24, 8, 4, 1}) {
        SCOPED_TRACE("bits " + std::to_string(bits));
        TDecodedIcon icon;
        ASSERT_TRUE(DecodeIconImage(BuildIconImage(TIconSpec{20, Blue, bits, White}), icon));
        EXPECT_EQ(icon.BitCount, bits);
        ASSERT_EQ(icon.Image.Width, 20);
        ASSERT_EQ(icon.Image.Height, 20);
        EXPECT_EQ(PixelAt(icon.Image, 0, 0), White);
        EXPECT_EQ(PixelAt(icon.Image, 9, 9), White);
        EXPECT_EQ(PixelAt(icon.Image, 10, 9), Blue);
        EXPECT_EQ(PixelAt(icon.Image, 19, 19), Blue);

        // The AND mask makes pixels transparent at every depth.
        ASSERT_TRUE(DecodeIconImage(BuildIconImage(TIconSpec{20, 0x00000000, bits, Green}), icon));
        EXPECT_EQ(PixelAt(icon.Image, 0, 0), Green);
        EXPECT_EQ(PixelAt(icon.Image, 19, 19) >> 24, 0u);
    }
}

TEST(IconImageTest, ThirtyTwoBitsKeepPartialAlphaAndFallBackToTheMask) {
    TDecodedIcon icon;
    ASSERT_TRUE(DecodeIconImage(BuildIconImage(TIconSpec{16, 0x80112233}), icon));
    EXPECT_EQ(PixelAt(icon.Image, 5, 5), 0x80112233u);

    // An old 32-bit image with no alpha at all relies on its mask: opaque where the mask is clear.
    auto data = BuildIconImage(TIconSpec{16, Blue});
    for (size_t at = 40; at < 40 + 16 * 16 * 4; at += 4)
        data[at + 3] = 0;
    const size_t maskStart = 40 + 16 * 16 * 4;
    data[maskStart] = 0x80; // bottom row, first pixel
    ASSERT_TRUE(DecodeIconImage(data, icon));
    EXPECT_EQ(PixelAt(icon.Image, 1, 15), Blue);
    EXPECT_EQ(PixelAt(icon.Image, 0, 15) >> 24, 0u);
}

TEST(IconImageTest, BrokenImagesAreRefused) {
    auto good = BuildIconImage(TIconSpec{16, Blue, 8});
    TDecodedIcon icon;
    EXPECT_FALSE(DecodeIconImage({}, icon));
    EXPECT_FALSE(DecodeIconImage(std::span(good).first(39), icon));
    EXPECT_FALSE(DecodeIconImage(std::span(good).first(40 + 256 * 4 + 10), icon)); // pixels cut off
    auto withBits = [&](uint16_t bits) {
        auto d = good;
        d[14] = static_cast<uint8_t>(bits);
        d[15] = 0;
        return d;
    };
    EXPECT_FALSE(DecodeIconImage(withBits(3), icon));
    EXPECT_FALSE(DecodeIconImage(withBits(0), icon));
    auto huge = good;
    huge[5] = 0x7F; // width far beyond any icon
    EXPECT_FALSE(DecodeIconImage(huge, icon));
}

TEST(IconImageTest, PngImagesDecodeWithEveryFilter) {
    // The builder filters row y with filter y % 5 and marks the top-left quarter.
    TDecodedIcon icon;
    ASSERT_TRUE(DecodeIconImage(BuildIconImage(TIconSpec{24, 0x80112233, 32, Red, true}), icon));
    EXPECT_EQ(icon.BitCount, 32);
    ASSERT_EQ(icon.Image.Width, 24);
    for (int y = 0; y < 24; ++y) {
        EXPECT_EQ(PixelAt(icon.Image, 0, y), y < 12 ? Red : 0x80112233u) << y;
        EXPECT_EQ(PixelAt(icon.Image, 23, y), 0x80112233u) << y;
    }
    const auto good = BuildIconImage(TIconSpec{24, Blue, 32, 0, true});
    for (size_t cut = 8; cut < good.size() - 12; cut += 11) // cut anywhere before the closing IEND chunk
        EXPECT_FALSE(DecodeIconImage(std::span(good).first(cut), icon)) << cut;
    for (size_t at = 8; at < good.size(); at += 3) {
        auto broken = good;
        broken[at] ^= 0x5A;
        if (DecodeIconImage(broken, icon)) {
            EXPECT_EQ(icon.Image.Pixels.size(),
                      static_cast<size_t>(icon.Image.Width) * static_cast<size_t>(icon.Image.Height));
        }
    }
}

TEST(IconImageTest, CompressedPngOfTheProgramIconDecodes) {
    // korvane.ico keeps its 256-pixel image as a zlib-compressed PNG, the fourth entry.
    std::ifstream file(KORVANE_PROGRAM_ICON, std::ios::binary);
    const std::vector<uint8_t> ico((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(ico.size(), 6u + 4 * 16);
    uint32_t size = 0, offset = 0;
    std::memcpy(&size, &ico[6 + 3 * 16 + 8], 4);
    std::memcpy(&offset, &ico[6 + 3 * 16 + 12], 4);
    ASSERT_LE(uint64_t{offset} + size, ico.size());
    TDecodedIcon icon;
    ASSERT_TRUE(DecodeIconImage(std::span(ico).subspan(offset, size), icon));
    ASSERT_EQ(icon.Image.Width, 256);
    EXPECT_EQ(PixelAt(icon.Image, 0, 0) >> 24, 0u);        // outside the rounded corner
    EXPECT_EQ(PixelAt(icon.Image, 92, 128), White);        // the letter's stem
    EXPECT_EQ(PixelAt(icon.Image, 128, 240) >> 24, 0xFFu); // the square
}

TEST(IconChoiceTest, IcoFileGivesItsExactSizes) {
    const auto ico = BuildIcoFile({TIconSpec{48, Red}, TIconSpec{32, Green, 8}, TIconSpec{16, Blue, 4}});
    TIconImage large, small;
    ASSERT_EQ(Extract(ico, 0, large, small), 2);
    EXPECT_EQ(large.Width, 32);
    EXPECT_EQ(PixelAt(large, 31, 31), Green);
    EXPECT_EQ(small.Width, 16);
    EXPECT_EQ(PixelAt(small, 0, 0), Blue);
    EXPECT_EQ(Extract(ico, 1, large, small), 0);
    EXPECT_EQ(Extract(ico, -1, large, small), 0);
}

TEST(IconChoiceTest, MissingSizesAreScaledFromTheNearestLargerImage) {
    // 48 is nearer to 32 than 256, so it is the one scaled down for both sizes.
    const auto ico = BuildIcoFile({TIconSpec{256, Blue}, TIconSpec{48, Red, 24, White}, TIconSpec{8, Green}});
    TIconImage large, small;
    ASSERT_EQ(Extract(ico, 0, large, small), 2);
    ASSERT_EQ(large.Width, 32);
    ASSERT_EQ(large.Height, 32);
    EXPECT_EQ(PixelAt(large, 0, 0), White);
    EXPECT_EQ(PixelAt(large, 15, 15), White);
    EXPECT_EQ(PixelAt(large, 16, 16), Red);
    EXPECT_EQ(PixelAt(large, 31, 31), Red);
    ASSERT_EQ(small.Width, 16);
    EXPECT_EQ(PixelAt(small, 7, 7), White);
    EXPECT_EQ(PixelAt(small, 8, 8), Red);

    // Only smaller images: the largest is scaled up.
    const auto tiny = BuildIcoFile({TIconSpec{8, Green}, TIconSpec{16, Blue, 32, White}});
    ASSERT_EQ(Extract(tiny, 0, large, small), 2);
    EXPECT_EQ(large.Width, 32);
    EXPECT_EQ(PixelAt(large, 15, 15), White);
    EXPECT_EQ(PixelAt(large, 16, 16), Blue);
    EXPECT_EQ(PixelAt(small, 15, 15), Blue);
}

TEST(IconChoiceTest, DeepestImageOfTheSizeWins) {
    TPeBuilder pe;
    pe.AddIconGroup(1, {TIconSpec{256, Yellow, 32, 0, true}, TIconSpec{32, Red, 8}, TIconSpec{32, Green, 32},
                        TIconSpec{32, Blue, 24}, TIconSpec{16, Blue, 4}});
    TIconImage large, small;
    ASSERT_EQ(Extract(pe.Build(), 0, large, small), 2);
    EXPECT_EQ(PixelAt(large, 3, 3), Green);
    EXPECT_EQ(PixelAt(small, 3, 3), Blue);

    // Icons that hold only PNG images, as some tools write every size.
    TPeBuilder pngOnly;
    pngOnly.AddIconGroup(1, {TIconSpec{256, Yellow, 32, Red, true}, TIconSpec{48, Blue, 32, White, true}});
    ASSERT_EQ(Extract(pngOnly.Build(), 0, large, small), 2);
    EXPECT_EQ(PixelAt(large, 0, 0), White);
    EXPECT_EQ(PixelAt(large, 31, 31), Blue);
    EXPECT_EQ(PixelAt(small, 15, 15), Blue);
}

TEST(IconChoiceTest, ScalingAveragesWithPremultipliedAlpha) {
    TIconImage image{2, 1, {0xFFFF0000, 0x0000FF00}};
    const auto scaled = ScaleIconImage(image, 1, 1);
    ASSERT_EQ(scaled.Pixels.size(), 1u);
    // Half covered, and the transparent pixel's green does not bleed in.
    EXPECT_EQ(scaled.Pixels[0], 0x80FF0000u);
}

TEST(VersionTest, FileVersionTranslationAndFixedInformation) {
    TPeBuilder pe;
    pe.AddIconGroup(1, {TIconSpec{32, Red}});
    pe.SetVersion("1.6.12.345");
    pe.AddVersionString("CompanyName", "Köln Software");
    pe.AddVersionString("Comments", "");
    const auto block = VersionBlockOf(pe.Build());
    ASSERT_FALSE(block.empty());

    std::vector<uint8_t> translation;
    ASSERT_TRUE(VerQueryValue(block, "\\VarFileInfo\\Translation", translation));
    EXPECT_EQ(translation, (std::vector<uint8_t>{0x09, 0x04, 0xB0, 0x04}));
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\FileVersion"), "1.6.12.345");
    EXPECT_EQ(QueryText(block, "\\stringfileinfo\\040904b0\\fileversion"), "1.6.12.345");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\CompanyName"), "Köln Software");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\Comments"), "");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\ProductName"), "<none>");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\04070000\\FileVersion"), "<none>");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\FileVersion\\Deeper"), "<none>");

    std::vector<uint8_t> fixed;
    ASSERT_TRUE(VerQueryValue(block, "\\", fixed));
    ASSERT_EQ(fixed.size(), 52u);
    uint32_t fileVersionMs = 0, fileVersionLs = 0;
    std::memcpy(&fileVersionMs, &fixed[8], 4);
    std::memcpy(&fileVersionLs, &fixed[12], 4);
    EXPECT_EQ(fileVersionMs, (1u << 16) | 6u);
    EXPECT_EQ(fileVersionLs, (12u << 16) | 345u);
}

TEST(VersionTest, OtherLanguageAndNativeProgramsAndNone) {
    TPeBuilder german(TPeBuilder::TFormat::Elf64);
    german.SetVersion("2.0", 0x0407, 0x04E4);
    const auto block = VersionBlockOf(german.Build());
    std::vector<uint8_t> translation;
    ASSERT_TRUE(VerQueryValue(block, "\\VarFileInfo\\Translation", translation));
    EXPECT_EQ(translation, (std::vector<uint8_t>{0x07, 0x04, 0xE4, 0x04}));
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040704E4\\FileVersion"), "2.0");

    TPeBuilder iconsOnly;
    iconsOnly.AddIconGroup(1, {TIconSpec{32, Red}});
    EXPECT_TRUE(VersionBlockOf(iconsOnly.Build()).empty());
    EXPECT_TRUE(VersionBlockOf(BuildIcoFile({TIconSpec{32, Red}})).empty());
    std::vector<uint8_t> value;
    EXPECT_FALSE(VerQueryValue({}, "\\", value));
}

TEST(VersionTest, BrokenBlocksAnswerNothingOrWhatIsReadable) {
    TPeBuilder pe;
    pe.SetVersion("3.1.4.1");
    const auto good = VersionBlockOf(pe.Build());
    ASSERT_FALSE(good.empty());
    // Every cut and every single-byte change: no crash, and never a text past the block.
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        std::vector<uint8_t> value;
        VerQueryValue(truncated, "\\StringFileInfo\\040904B0\\FileVersion", value);
        VerQueryValue(truncated, "\\VarFileInfo\\Translation", value);
        VerQueryValue(truncated, "\\", value);
    }
    for (size_t at = 0; at < good.size(); ++at) {
        for (uint8_t flip : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}}) {
            auto broken = good;
            broken[at] = flip;
            std::vector<uint8_t> value;
            if (VerQueryValue(broken, "\\StringFileInfo\\040904B0\\FileVersion", value)) {
                EXPECT_LE(value.size(), broken.size());
            }
        }
    }
    // A resource that is no VS_VERSIONINFO is no version.
    TPeBuilder other;
    other.AddResource(16, 1, std::vector<uint8_t>(64, 0x41));
    EXPECT_TRUE(VersionBlockOf(other.Build()).empty());
}

// Cuts and byte changes anywhere in the headers and the resource directory: no icon or a sound one, never a
// crash (the sanitizer build proves the reads stay inside).
TEST(CorruptFileTest, TruncatedAndDamagedImagesGiveNoIconAndNoCrash) {
    for (auto format :
         {TPeBuilder::TFormat::Pe32, TPeBuilder::TFormat::Pe32Plus, TPeBuilder::TFormat::Elf64}) {
        TPeBuilder pe = ThreeGroups(format);
        pe.SetVersion("1.2.3.4");
        const auto good = pe.Build();
        for (size_t cut = 0; cut < good.size(); cut += 13) {
            const std::vector<uint8_t> truncated(good.begin(),
                                                 good.begin() + static_cast<std::ptrdiff_t>(cut));
            TIconImage large, small;
            const int found = Extract(truncated, 1, large, small);
            EXPECT_EQ(found, (large.Empty() ? 0 : 1) + (small.Empty() ? 0 : 1));
            VersionBlockOf(truncated);
        }
        const size_t directoryEnd = TPeBuilder::ResourceFileOffset + 0x200;
        for (size_t at = 0; at < std::min(good.size(), directoryEnd); ++at) {
            if (at >= 0x200 && at < TPeBuilder::ResourceFileOffset)
                continue; // code and padding
            for (uint8_t value : {uint8_t{0xFF}, uint8_t{0x7F}, uint8_t{0x00}}) {
                auto broken = good;
                broken[at] = value;
                TIconImage large, small;
                Extract(broken, 0, large, small);
                Extract(broken, -2, large, small);
                if (!large.Empty()) {
                    EXPECT_EQ(large.Pixels.size(), 32u * 32u);
                }
                VersionBlockOf(broken);
            }
        }
    }
}

TEST(CorruptFileTest, BrokenGroupsAndIcoFilesGiveNoIcon) {
    TIconImage large, small;
    // A group that names an image that is not there, and one that is no icon group at all (a cursor).
    TPeBuilder missing;
    missing.AddResource(14, 1, {0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 32, 0, 0, 1, 0, 0, 99, 0});
    EXPECT_EQ(Extract(missing.Build(), 0, large, small), 0);
    TPeBuilder cursor;
    cursor.AddResource(14, 1, {0, 0, 2, 0, 0, 0});
    EXPECT_EQ(Extract(cursor.Build(), 0, large, small), 0);

    const auto ico = BuildIcoFile({TIconSpec{32, Red}, TIconSpec{16, Blue}});
    for (size_t cut = 0; cut < ico.size(); cut += 7) {
        const std::vector<uint8_t> truncated(ico.begin(), ico.begin() + static_cast<std::ptrdiff_t>(cut));
        Extract(truncated, 0, large, small);
    }
    for (size_t at = 0; at < 6 + 2 * 16 + 40; ++at) {
        auto broken = ico;
        broken[at] = 0xFF;
        Extract(broken, 0, large, small);
    }
    EXPECT_EQ(Extract({}, 0, large, small), 0);
    EXPECT_EQ(Extract({'M', 'Z'}, 0, large, small), 0);
}

class TFileResourcesTest : public ::testing::Test {
protected:
    TTempMachine FMachine;
};

TEST_F(TFileResourcesTest, WindowsPathsReachTheFiles) {
    FMachine.MakeFolder("C:\\App");
    TPeBuilder pe = ThreeGroups(TPeBuilder::TFormat::Pe32);
    pe.SetVersion("5.4.3.2");
    pe.Write(FMachine.HostPath("C:\\App\\App.exe"));
    WriteIcoFile(FMachine.HostPath("C:\\App\\Installer.ico"), {TIconSpec{32, Green}});

    TIconImage large, small;
    EXPECT_EQ(ExtractIconPair("c:\\app\\APP.EXE", -7, large, small), 2);
    EXPECT_EQ(PixelAt(large, 31, 31), Blue);
    EXPECT_EQ(ExtractIconPair("C:\\App\\Installer.ico", 0, large, small), 2);
    EXPECT_EQ(PixelAt(small, 0, 0), Green);
    EXPECT_EQ(ExtractIconPair("C:\\App\\Missing.exe", 0, large, small), 0);
    EXPECT_EQ(ExtractIconPair("C:\\App", 0, large, small), 0);
    EXPECT_EQ(ExtractIconPair("App.exe", 0, large, small), 0);

    const uint32_t size = GetFileVersionInfoSize("C:\\App\\App.exe");
    EXPECT_GT(size, 0u);
    std::vector<uint8_t> block;
    ASSERT_TRUE(GetFileVersionInfo("C:\\App\\App.exe", block));
    EXPECT_EQ(block.size(), size);
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\FileVersion"), "5.4.3.2");
    EXPECT_EQ(GetFileVersionInfoSize("C:\\App\\Installer.ico"), 0u);
    EXPECT_FALSE(GetFileVersionInfo("C:\\App\\Missing.exe", block));
    EXPECT_TRUE(block.empty());
}

} // namespace

namespace {

// A native program built with korvane_add_resources: its icon is the icon file's, its version the one given.
TEST_F(TFileResourcesTest, NativeProgramCarriesItsIconAndVersion) {
    const std::string program = ToWindowsPath(KORVANE_RESOURCE_CARRIER);
    const std::string iconFile = ToWindowsPath(KORVANE_PROGRAM_ICON);
    TIconImage large, small, iconLarge, iconSmall;
    ASSERT_EQ(ExtractIconPair(program, 0, large, small), 2);
    ASSERT_EQ(ExtractIconPair(iconFile, 0, iconLarge, iconSmall), 2);
    EXPECT_EQ(large.Width, 32);
    EXPECT_EQ(large.Pixels, iconLarge.Pixels);
    EXPECT_EQ(small.Pixels, iconSmall.Pixels);
    EXPECT_EQ(ExtractIconPair(program, -1, large, small), 2);
    EXPECT_EQ(ExtractIconPair(program, 1, large, small), 0);

    std::vector<uint8_t> block;
    ASSERT_TRUE(GetFileVersionInfo(program, block));
    EXPECT_EQ(GetFileVersionInfoSize(program), block.size());
    std::vector<uint8_t> translation;
    ASSERT_TRUE(VerQueryValue(block, "\\VarFileInfo\\Translation", translation));
    EXPECT_EQ(translation, (std::vector<uint8_t>{0x09, 0x04, 0xB0, 0x04}));
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\FileVersion"), "1.2.3.4");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\ProductVersion"), "1.2.3.4");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\FileDescription"), "Resource carrier – test");
    EXPECT_EQ(QueryText(block, "\\StringFileInfo\\040904B0\\ProductName"), "Korvane");
}

} // namespace
