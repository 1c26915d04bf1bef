#pragma once

#include "platform/peResources.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Random access to the bytes of a file or buffer. Every read is checked against Size(): the readers below
// never trust an offset, a size or a count that they found in the file.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Exactly Count bytes at Offset; false (Buffer undefined) when they are not all inside.
    virtual bool Read(uint64_t offset, void* buffer, size_t count) const = 0;

    bool ReadBytes(uint64_t offset, size_t count, std::vector<uint8_t>& bytes) const;
    bool ReadU16(uint64_t offset, uint16_t& value) const;
    bool ReadU32(uint64_t offset, uint32_t& value) const;
    bool ReadU64(uint64_t offset, uint64_t& value) const;
};

// A source over bytes in memory (which must outlive it).
class TBufferSource : public TByteSource {
public:
    explicit TBufferSource(std::span<const uint8_t> bytes) : FBytes(bytes) {}
    uint64_t Size() const override { return FBytes.size(); }
    bool Read(uint64_t offset, void* buffer, size_t count) const override;

private:
    std::span<const uint8_t> FBytes;
};

// Where a file keeps its resource directory: Offset and Size in the file, and the RVA that the directory's
// first byte has (the data entries give RVAs). A PE image has it in the section that holds its resource
// data directory; our own native ELF programs in their ".rsrc" section, with RVAs counted from its start.
struct TResourceBlock {
    uint64_t Offset = 0;
    uint64_t Size = 0;
    uint32_t BaseRva = 0;
};
bool LocateResourceBlock(const TByteSource& file, TResourceBlock& block);

// One resource of a type: its name or identifier and where its data lies in the file (first language).
struct TResourceItem {
    bool Named = false;
    uint16_t Id = 0;
    uint64_t Offset = 0;
    uint32_t Size = 0;
};
// The resources of Type in directory order (named entries first, then identifiers, as stored).
std::vector<TResourceItem> ListResources(const TByteSource& file, const TResourceBlock& block, uint16_t type);

// The resource of Type with identifier Id (first language); false when there is none.
bool FindResource(const TByteSource& file, const TResourceBlock& block, uint16_t type, uint16_t id,
                  TResourceItem& item);

// One decoded icon image and the bit depth it was stored with (which decides between images of one size).
struct TDecodedIcon {
    TIconImage Image;
    int BitCount = 0;
};

// Decodes one icon image as stored in an RT_ICON resource or an .ico file: a DIB of 1, 4, 8, 16, 24 or 32
// bits with its AND mask (32-bit images use their alpha unless it is all zero), or a PNG (counted as 32
// bits).
bool DecodeIconImage(std::span<const uint8_t> data, TDecodedIcon& icon);

// The picture of Size x Size pixels that the images offer best: the largest bit depth among those of that
// size, else the nearest larger image scaled down, else the largest smaller one scaled up. Empty when
// there are no images.
TIconImage ChooseIconPicture(const std::vector<TDecodedIcon>& images, int size);

// Box-filter scaling with premultiplied alpha, so transparent pixels do not darken the edges.
TIconImage ScaleIconImage(const TIconImage& image, int width, int height);

// ExtractIconEx with a count of one on a PE image, one of our ELF programs or an .ico file (see
// ExtractIconPair).
int ExtractIconPairFrom(const TByteSource& file, int index, TIconImage& large, TIconImage& small);

// The first version resource of the file, trimmed to the length its root node gives; false when there is
// none or its root is not a VS_VERSIONINFO node.
bool ReadVersionBlock(const TByteSource& file, std::vector<uint8_t>& block);

} // namespace platform
