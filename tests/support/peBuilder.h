#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Test files for the icon and version readers, written from a readable description.
//
//   TPeBuilder pe;
//   pe.AddIconGroup(1, {TIconSpec{32, 0xFF0000FF}, TIconSpec{16, 0xFF00FF00}});
//   pe.SetVersion("1.2.3.4");
//   pe.Write(path);                                   // a PE32 .exe/.dll
//   WriteIcoFile(path, {TIconSpec{48, 0xFFFF0000}});  // an .ico file
//
// Every picture is filled with Color; when Marker is not 0 its top-left quarter (Size/2 x Size/2 pixels) is
// painted with Marker, so a test can see that the picture came out upright and scaled in the right place.
// Colours are 0xAARRGGBB; images of fewer than 32 bits keep only the RGB part (alpha 0xFF). A colour with
// alpha 0 is transparent: the AND mask marks its pixels, and a reader gives them alpha 0 (compare only the
// alpha of transparent pixels).

// One picture of an icon.
struct TIconSpec {
    int Size = 32;       // width and height in pixels (1 to 256)
    uint32_t Color = 0;  // fill colour, 0xAARRGGBB
    int BitCount = 32;   // bits per pixel of the image: 32 (with alpha), 24, 8, 4 or 1 (palette)
    uint32_t Marker = 0; // colour of the top-left quarter, 0 for none
    bool Png = false;    // stored as a PNG (RGBA, every row filter, stored deflate blocks) instead of a DIB
};

// The bytes of one icon image as stored in an RT_ICON resource or an .ico file (a DIB: BITMAPINFOHEADER
// with the doubled height, palette for 8 bits or fewer, bottom-up XOR rows, AND mask; or a PNG).
std::vector<uint8_t> BuildIconImage(const TIconSpec& spec);

// An .ico file holding the given pictures in this order.
std::vector<uint8_t> BuildIcoFile(const std::vector<TIconSpec>& images);
void WriteIcoFile(const std::filesystem::path& path, const std::vector<TIconSpec>& images);

// A PE image (or one of our native ELF programs) with a resource section holding the icon groups, the
// version resource and any raw resources that were added. Without any of them it has no resource section,
// as a plain program without resources. The resource directory lists named entries first (sorted ignoring
// case) and identifiers in ascending order, as resource compilers write it.
class TPeBuilder {
public:
    enum class TFormat {
        Pe32,     // 32-bit PE (i386), resources in a .rsrc section behind a .text section
        Pe32Plus, // 64-bit PE (x86-64), same layout
        Elf64,    // a 64-bit ELF file whose ".rsrc" section holds the resource block (RVAs from its start)
    };

    explicit TPeBuilder(TFormat format = TFormat::Pe32) : FFormat(format) {}

    // An RT_GROUP_ICON resource with identifier Id (or a name), its images stored as RT_ICON resources
    // numbered from 1 in the order they are added.
    void AddIconGroup(uint16_t id, const std::vector<TIconSpec>& images);
    void AddIconGroup(const std::string& name, const std::vector<TIconSpec>& images);

    // The version resource (RT_VERSION 1): VS_FIXEDFILEINFO from FileVersion's four numbers, a string
    // table "<language><code page>" (e.g. "040904B0") with "FileVersion" and the extra strings, and
    // "\VarFileInfo\Translation" with the one pair.
    void SetVersion(const std::string& fileVersion, uint16_t language = 0x0409, uint16_t codePage = 0x04B0);
    void AddVersionString(const std::string& name, const std::string& value);

    // Any resource, as given: for broken groups, images and version blocks.
    void AddResource(uint16_t type, uint16_t id, const std::vector<uint8_t>& data,
                     uint16_t language = 0x0409);

    // The resource block alone (the root directory first; data RVAs count from BaseRva).
    std::vector<uint8_t> BuildResourceBlock(uint32_t baseRva) const;
    std::vector<uint8_t> Build() const;
    void Write(const std::filesystem::path& path) const;

    // Where the resource section lies in what Build() gives (for tests that break it on purpose); 0 when
    // there is none.
    static constexpr uint32_t ResourceFileOffset = 0x400;

private:
    struct TResource {
        uint16_t Type = 0;
        bool Named = false;
        uint16_t Id = 0;
        std::string Name;
        uint16_t Language = 0x0409;
        std::vector<uint8_t> Data;
    };
    void AddGroup(bool named, uint16_t id, const std::string& name, const std::vector<TIconSpec>& images);
    std::vector<uint8_t> VersionBlock() const;
    std::vector<uint8_t> BuildPe(const std::vector<uint8_t>& section, bool plus) const;
    std::vector<uint8_t> BuildElf(const std::vector<uint8_t>& section) const;

    TFormat FFormat;
    std::vector<TResource> FResources;
    uint16_t FNextIconId = 1;
    bool FHasVersion = false;
    std::string FFileVersion;
    uint16_t FLanguage = 0x0409;
    uint16_t FCodePage = 0x04B0;
    std::vector<std::pair<std::string, std::string>> FStrings;
};
