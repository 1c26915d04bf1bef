#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One picture of an icon: Width x Height pixels, row by row from the top, each 0xAARRGGBB.
struct TIconImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;
    bool Empty() const { return Width == 0 || Height == 0; }
};

// ExtractIconEx with a count of one: icon number Index of the icon groups of a PE file (.exe, .dll), or of an
// .ico file (which holds one icon, number 0); a negative Index names the icon group whose resource
// identifier is -Index. Large is the 32x32 picture, Small the 16x16 one (the group's best image of each size,
// scaled when it has none of that size). The programs' own native files carry their icon as a resource too.
// Returns how many of the two pictures were found (0 when the file or the icon does not exist, or is
// corrupt).
int ExtractIconPair(const std::string& windowsPath, int index, TIconImage& large, TIconImage& small);

// The version resource (VS_VERSIONINFO) of a PE file or of the programs' own native files: its size (0 when
// there is none) and its block.
uint32_t GetFileVersionInfoSize(const std::string& windowsPath);
bool GetFileVersionInfo(const std::string& windowsPath, std::vector<uint8_t>& block);
// VerQueryValue on such a block. "\" gives the fixed file information, "\VarFileInfo\Translation" the raw
// language and code page pairs, "\StringFileInfo\<8 hex digits>\<name>" the text (UTF-8, without the
// terminating zero). False when the block holds no such entry.
bool VerQueryValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                   std::vector<uint8_t>& value);

} // namespace platform
