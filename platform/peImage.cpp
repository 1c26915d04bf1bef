#include "platform/peImage.h"

#include "platform/pngImage.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace platform {

namespace {

constexpr uint16_t ResourceIcon = 3;
constexpr uint16_t ResourceGroupIcon = 14;
constexpr uint16_t ResourceVersion = 16;

// Bounds that no real file reaches; they keep a hostile file from making us read or decode without end.
constexpr uint32_t MaxSections = 4096;
constexpr uint32_t MaxIconBytes = 4u * 1024 * 1024;
constexpr uint32_t MaxGroupBytes = 6 + 14 * 0xFFFF;
constexpr int MaxIconSide = 1024;
constexpr size_t MaxImagesDecoded = 32;
constexpr size_t MaxImagesTried = 256;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t GetSigned32(const uint8_t* p) {
    return static_cast<int32_t>(Get32(p));
}

bool LocatePe(const TByteSource& file, TResourceBlock& block) {
    uint32_t peOffset = 0, signature = 0;
    if (!file.ReadU32(0x3C, peOffset) || !file.ReadU32(peOffset, signature) || signature != 0x00004550)
        return false;
    const uint64_t coff = uint64_t{peOffset} + 4;
    uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
    if (!file.ReadU16(coff + 2, sectionCount) || !file.ReadU16(coff + 16, optionalSize))
        return false;
    const uint64_t optional = coff + 20;
    if (!file.ReadU16(optional, magic))
        return false;
    uint64_t countField = 0, directories = 0;
    if (magic == 0x10B) {
        countField = optional + 92;
        directories = optional + 96;
    } else if (magic == 0x20B) {
        countField = optional + 108;
        directories = optional + 112;
    } else {
        return false;
    }
    uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
    if (!file.ReadU32(countField, directoryCount) || directoryCount < 3 ||
        directories + 3 * 8 > optional + optionalSize || !file.ReadU32(directories + 16, resourceRva) ||
        !file.ReadU32(directories + 20, resourceSize) || resourceRva == 0)
        return false;

    const uint64_t sections = optional + optionalSize;
    for (uint32_t i = 0; i < std::min<uint32_t>(sectionCount, MaxSections); ++i) {
        std::vector<uint8_t> header;
        if (!file.ReadBytes(sections + uint64_t{i} * 40, 40, header))
            return false;
        const uint32_t virtualSize = Get32(&header[8]);
        const uint32_t address = Get32(&header[12]);
        const uint32_t rawSize = Get32(&header[16]);
        const uint32_t rawPointer = Get32(&header[20]);
        // Bytes past the raw data exist only as zeros in memory; a resource there is not readable.
        const uint32_t available = virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize;
        if (resourceRva < address || resourceRva - address >= available)
            continue;
        const uint32_t delta = resourceRva - address;
        block.Offset = uint64_t{rawPointer} + delta;
        if (block.Offset >= file.Size())
            return false;
        block.Size = std::min<uint64_t>(available - delta, file.Size() - block.Offset);
        block.BaseRva = resourceRva;
        return true;
    }
    return false;
}

// Our native programs: the resource block in an ELF section named ".rsrc".
bool LocateElf(const TByteSource& file, TResourceBlock& block) {
    std::vector<uint8_t> ident;
    if (!file.ReadBytes(0, 16, ident) || ident[5] != 1) // little-endian only
        return false;
    const bool wide = ident[4] == 2;
    if (!wide && ident[4] != 1)
        return false;
    uint64_t tableOffset = 0;
    uint16_t entrySize = 0, count16 = 0, namesIndex16 = 0;
    if (wide) {
        if (!file.ReadU64(0x28, tableOffset) || !file.ReadU16(0x3A, entrySize) ||
            !file.ReadU16(0x3C, count16) || !file.ReadU16(0x3E, namesIndex16))
            return false;
    } else {
        uint32_t offset32 = 0;
        if (!file.ReadU32(0x20, offset32) || !file.ReadU16(0x2E, entrySize) || !file.ReadU16(0x30, count16) ||
            !file.ReadU16(0x32, namesIndex16))
            return false;
        tableOffset = offset32;
    }
    if (tableOffset == 0 || entrySize < (wide ? 64 : 40))
        return false;

    struct TSection {
        uint32_t Name = 0, Type = 0, Link = 0;
        uint64_t Offset = 0, Size = 0;
    };
    auto readSection = [&](uint64_t index, TSection& section) {
        std::vector<uint8_t> h;
        if (index > 0xFFFFFFFFu || !file.ReadBytes(tableOffset + index * entrySize, wide ? 64 : 40, h))
            return false;
        section.Name = Get32(&h[0]);
        section.Type = Get32(&h[4]);
        if (wide) {
            section.Offset = Get32(&h[0x18]) | (uint64_t{Get32(&h[0x1C])} << 32);
            section.Size = Get32(&h[0x20]) | (uint64_t{Get32(&h[0x24])} << 32);
            section.Link = Get32(&h[0x28]);
        } else {
            section.Offset = Get32(&h[0x10]);
            section.Size = Get32(&h[0x14]);
            section.Link = Get32(&h[0x18]);
        }
        return true;
    };
    // With many sections the real count and the names' index live in section 0.
    uint64_t count = count16, namesIndex = namesIndex16;
    TSection first;
    if (count == 0 || namesIndex == 0xFFFF) {
        if (!readSection(0, first))
            return false;
        if (count == 0)
            count = first.Size;
        if (namesIndex == 0xFFFF)
            namesIndex = first.Link;
    }
    TSection names;
    if (namesIndex >= count || !readSection(namesIndex, names) || names.Type != 3)
        return false;
    static constexpr char wanted[] = ".rsrc";
    for (uint64_t i = 1; i < std::min<uint64_t>(count, MaxSections); ++i) {
        TSection section;
        if (!readSection(i, section))
            return false;
        char name[sizeof wanted] = {};
        if (section.Type == 8 /* no bits */ || section.Name > names.Size ||
            names.Size - section.Name < sizeof wanted ||
            !file.Read(names.Offset + section.Name, name, sizeof wanted) ||
            std::memcmp(name, wanted, sizeof wanted) != 0)
            continue;
        if (section.Offset >= file.Size() || section.Size == 0)
            return false;
        block.Offset = section.Offset;
        block.Size = std::min(section.Size, file.Size() - section.Offset);
        block.BaseRva = 0;
        return true;
    }
    return false;
}

// One directory of the resource tree: its entries (name or id, offset) read at once.
struct TDirectoryEntry {
    uint32_t Name = 0;
    uint32_t Target = 0;
    bool IsNamed() const { return (Name & 0x80000000u) != 0; }
    bool IsDirectory() const { return (Target & 0x80000000u) != 0; }
    uint32_t TargetOffset() const { return Target & 0x7FFFFFFFu; }
};

bool ReadDirectory(const TByteSource& file, const TResourceBlock& block, uint32_t offset,
                   std::vector<TDirectoryEntry>& entries) {
    entries.clear();
    std::vector<uint8_t> header;
    if (uint64_t{offset} + 16 > block.Size || !file.ReadBytes(block.Offset + offset, 16, header))
        return false;
    const size_t count = size_t{Get16(&header[12])} + Get16(&header[14]);
    const uint64_t bytes = uint64_t{count} * 8;
    if (uint64_t{offset} + 16 + bytes > block.Size)
        return false;
    std::vector<uint8_t> raw;
    if (!file.ReadBytes(block.Offset + offset + 16, static_cast<size_t>(bytes), raw))
        return false;
    entries.resize(count);
    for (size_t i = 0; i < count; ++i) {
        entries[i].Name = Get32(&raw[i * 8]);
        entries[i].Target = Get32(&raw[i * 8 + 4]);
    }
    return true;
}

bool FindTypeDirectory(const TByteSource& file, const TResourceBlock& block, uint16_t type,
                       std::vector<TDirectoryEntry>& names) {
    std::vector<TDirectoryEntry> types;
    if (!ReadDirectory(file, block, 0, types))
        return false;
    for (const auto& entry : types)
        if (!entry.IsNamed() && entry.Name == type)
            return entry.IsDirectory() && ReadDirectory(file, block, entry.TargetOffset(), names);
    return false;
}

// The data of a name entry's first language; an entry that leads nowhere readable has no data.
void ResolveData(const TByteSource& file, const TResourceBlock& block, const TDirectoryEntry& nameEntry,
                 TResourceItem& item) {
    item.Offset = 0;
    item.Size = 0;
    std::vector<TDirectoryEntry> languages;
    if (!nameEntry.IsDirectory() || !ReadDirectory(file, block, nameEntry.TargetOffset(), languages))
        return;
    for (const auto& language : languages) {
        if (language.IsDirectory())
            continue;
        uint32_t rva = 0, size = 0;
        const uint64_t entry = language.TargetOffset();
        if (entry + 16 > block.Size || !file.ReadU32(block.Offset + entry, rva) ||
            !file.ReadU32(block.Offset + entry + 4, size))
            return;
        if (rva < block.BaseRva || rva - block.BaseRva > block.Size ||
            size > block.Size - (rva - block.BaseRva))
            return;
        item.Offset = block.Offset + (rva - block.BaseRva);
        item.Size = size;
        return;
    }
}

bool ReadItem(const TByteSource& file, const TResourceItem& item, uint32_t limit,
              std::vector<uint8_t>& data) {
    return item.Size != 0 && item.Size <= limit && file.ReadBytes(item.Offset, item.Size, data);
}

bool IsPng(std::span<const uint8_t> data) {
    static constexpr uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return data.size() >= sizeof signature &&
           std::equal(signature, signature + sizeof signature, data.begin());
}

uint32_t FromBgr(uint8_t blue, uint8_t green, uint8_t red, uint32_t alpha) {
    return (alpha << 24) | (uint32_t{red} << 16) | (uint32_t{green} << 8) | blue;
}

// The pictures of an icon directory (group or .ico): each entry's bytes come from Fetch.
// The pictures of an icon directory (group or .ico): each entry's bytes come from Fetch, the side its
// directory entry claims from Claimed (0 meaning 256). Entries that claim 16 or 32 pixels are decoded
// first, the others (a 256-pixel PNG, say) only when these leave a size without an image of its own.
template <typename TFetch, typename TClaimed>
int PicturesOf(size_t count, TFetch fetch, TClaimed claimed, TIconImage& large, TIconImage& small) {
    count = std::min(count, MaxImagesTried);
    std::vector<TDecodedIcon> decoded;
    std::vector<bool> tried(count, false);
    auto decode = [&](size_t i) {
        tried[i] = true;
        std::vector<uint8_t> data;
        TDecodedIcon icon;
        if (decoded.size() < MaxImagesDecoded && fetch(i, data) && DecodeIconImage(data, icon))
            decoded.push_back(std::move(icon));
    };
    for (size_t i = 0; i < count; ++i)
        if (claimed(i) == 16 || claimed(i) == 32)
            decode(i);
    auto hasSide = [&](int side) {
        return std::any_of(decoded.begin(), decoded.end(), [side](const TDecodedIcon& icon) {
            return icon.Image.Width == side && icon.Image.Height == side;
        });
    };
    if (!hasSide(16) || !hasSide(32))
        for (size_t i = 0; i < count; ++i)
            if (!tried[i])
                decode(i);
    large = ChooseIconPicture(decoded, 32);
    small = ChooseIconPicture(decoded, 16);
    return (large.Empty() ? 0 : 1) + (small.Empty() ? 0 : 1);
}

// The side an icon directory entry claims: its width and height bytes, 0 standing for 256; -1 when they
// differ.
int ClaimedSide(uint8_t width, uint8_t height) {
    if (width != height)
        return -1;
    return width == 0 ? 256 : width;
}

int ExtractFromIco(const TByteSource& file, int index, TIconImage& large, TIconImage& small) {
    uint16_t count = 0;
    if (index != 0 || !file.ReadU16(4, count))
        return 0;
    return PicturesOf(
        count,
        [&](size_t i, std::vector<uint8_t>& data) {
            uint32_t size = 0, offset = 0;
            const uint64_t entry = 6 + uint64_t{i} * 16;
            return file.ReadU32(entry + 8, size) && file.ReadU32(entry + 12, offset) &&
                   size <= MaxIconBytes && file.ReadBytes(offset, size, data);
        },
        [&](size_t i) {
            uint8_t side[2] = {};
            return file.Read(6 + uint64_t{i} * 16, side, 2) ? ClaimedSide(side[0], side[1]) : -1;
        },
        large, small);
}

int ExtractFromResources(const TByteSource& file, int index, TIconImage& large, TIconImage& small) {
    TResourceBlock block;
    if (!LocateResourceBlock(file, block))
        return 0;
    TResourceItem group;
    if (index >= 0) {
        // Only the chosen entry is resolved: libraries such as shell32.dll hold hundreds of groups.
        std::vector<TDirectoryEntry> groups;
        if (!FindTypeDirectory(file, block, ResourceGroupIcon, groups) ||
            static_cast<size_t>(index) >= groups.size())
            return 0;
        ResolveData(file, block, groups[static_cast<size_t>(index)], group);
    } else {
        const int64_t id = -int64_t{index};
        if (id > 0xFFFF || !FindResource(file, block, ResourceGroupIcon, static_cast<uint16_t>(id), group))
            return 0;
    }
    std::vector<uint8_t> directory;
    if (!ReadItem(file, group, MaxGroupBytes, directory) || directory.size() < 6 ||
        Get16(&directory[0]) != 0 || Get16(&directory[2]) != 1)
        return 0;
    const size_t count = std::min<size_t>(Get16(&directory[4]), (directory.size() - 6) / 14);
    // The icon directory is read once: a group may name many images.
    std::vector<TDirectoryEntry> icons;
    if (!FindTypeDirectory(file, block, ResourceIcon, icons))
        return 0;
    std::unordered_map<uint32_t, const TDirectoryEntry*> iconsById;
    for (const auto& entry : icons)
        if (!entry.IsNamed())
            iconsById.emplace(entry.Name, &entry);
    return PicturesOf(
        count,
        [&](size_t i, std::vector<uint8_t>& data) {
            const auto found = iconsById.find(Get16(&directory[6 + i * 14 + 12]));
            if (found == iconsById.end())
                return false;
            TResourceItem image;
            ResolveData(file, block, *found->second, image);
            return ReadItem(file, image, MaxIconBytes, data);
        },
        [&](size_t i) { return ClaimedSide(directory[6 + i * 14], directory[6 + i * 14 + 1]); }, large,
        small);
}

} // namespace

bool TByteSource::ReadBytes(uint64_t offset, size_t count, std::vector<uint8_t>& bytes) const {
    if (offset > Size() || count > Size() - offset)
        return false;
    bytes.resize(count);
    return count == 0 || Read(offset, bytes.data(), count);
}

bool TByteSource::ReadU16(uint64_t offset, uint16_t& value) const {
    uint8_t raw[2];
    if (!Read(offset, raw, sizeof raw))
        return false;
    value = Get16(raw);
    return true;
}

bool TByteSource::ReadU32(uint64_t offset, uint32_t& value) const {
    uint8_t raw[4];
    if (!Read(offset, raw, sizeof raw))
        return false;
    value = Get32(raw);
    return true;
}

bool TByteSource::ReadU64(uint64_t offset, uint64_t& value) const {
    uint8_t raw[8];
    if (!Read(offset, raw, sizeof raw))
        return false;
    value = Get32(raw) | (uint64_t{Get32(raw + 4)} << 32);
    return true;
}

bool TBufferSource::Read(uint64_t offset, void* buffer, size_t count) const {
    if (offset > FBytes.size() || count > FBytes.size() - offset)
        return false;
    if (count != 0)
        std::memcpy(buffer, FBytes.data() + offset, count);
    return true;
}

bool LocateResourceBlock(const TByteSource& file, TResourceBlock& block) {
    uint8_t magic[4] = {};
    if (!file.Read(0, magic, sizeof magic))
        return false;
    if (magic[0] == 'M' && magic[1] == 'Z')
        return LocatePe(file, block);
    if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
        return LocateElf(file, block);
    return false;
}

std::vector<TResourceItem> ListResources(const TByteSource& file, const TResourceBlock& block,
                                         uint16_t type) {
    std::vector<TResourceItem> items;
    std::vector<TDirectoryEntry> names;
    if (!FindTypeDirectory(file, block, type, names))
        return items;
    for (const auto& entry : names) {
        TResourceItem item;
        item.Named = entry.IsNamed();
        item.Id = item.Named ? 0 : static_cast<uint16_t>(entry.Name & 0xFFFF);
        ResolveData(file, block, entry, item);
        items.push_back(item);
    }
    return items;
}

bool FindResource(const TByteSource& file, const TResourceBlock& block, uint16_t type, uint16_t id,
                  TResourceItem& item) {
    std::vector<TDirectoryEntry> names;
    if (!FindTypeDirectory(file, block, type, names))
        return false;
    for (const auto& entry : names) {
        if (entry.IsNamed() || entry.Name != id)
            continue;
        item.Named = false;
        item.Id = id;
        ResolveData(file, block, entry, item);
        return item.Size != 0;
    }
    return false;
}

bool DecodeIconImage(std::span<const uint8_t> data, TDecodedIcon& icon) {
    icon = {};
    if (IsPng(data)) {
        icon.BitCount = 32;
        return DecodePng(data, icon.Image, MaxIconSide);
    }
    if (data.size() < 40)
        return false;
    const uint32_t headerSize = Get32(&data[0]);
    const int32_t width = GetSigned32(&data[4]);
    const int32_t doubledHeight = GetSigned32(&data[8]);
    const uint16_t bits = Get16(&data[14]);
    const uint32_t compression = Get32(&data[16]);
    const uint32_t colorsUsed = Get32(&data[32]);
    if (headerSize < 40 || headerSize > data.size() || width <= 0 || width > MaxIconSide ||
        doubledHeight < 2 || doubledHeight / 2 > MaxIconSide || compression != 0)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    const int height = doubledHeight / 2;
    uint64_t paletteCount = colorsUsed;
    if (bits <= 8) {
        if (paletteCount == 0)
            paletteCount = uint64_t{1} << bits;
        if (paletteCount > 256)
            return false;
    }
    const uint64_t paletteOffset = headerSize;
    const uint64_t pixelOffset = paletteOffset + paletteCount * 4;
    const uint64_t stride = ((uint64_t{static_cast<uint32_t>(width)} * bits + 31) / 32) * 4;
    const uint64_t maskStride = ((uint64_t{static_cast<uint32_t>(width)} + 31) / 32) * 4;
    const uint64_t maskOffset = pixelOffset + stride * static_cast<uint64_t>(height);
    if (maskOffset > data.size())
        return false;
    // Some writers leave the mask out; then every pixel is opaque (32-bit images keep their alpha).
    const bool hasMask = maskStride * static_cast<uint64_t>(height) <= data.size() - maskOffset;

    TIconImage& image = icon.Image;
    image.Width = width;
    image.Height = height;
    image.Pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = data.data() + pixelOffset + stride * static_cast<uint64_t>(height - 1 - y);
        const uint8_t* maskRow =
            hasMask ? data.data() + maskOffset + maskStride * static_cast<uint64_t>(height - 1 - y) : nullptr;
        for (int x = 0; x < width; ++x) {
            const bool masked = maskRow != nullptr && (maskRow[x / 8] & (0x80 >> (x % 8))) != 0;
            uint32_t pixel = 0;
            switch (bits) {
            case 32: {
                const uint8_t* p = row + x * 4;
                pixel = FromBgr(p[0], p[1], p[2], p[3]);
                anyAlpha = anyAlpha || p[3] != 0;
                break;
            }
            case 24: {
                const uint8_t* p = row + x * 3;
                pixel = FromBgr(p[0], p[1], p[2], 0xFF);
                break;
            }
            case 16: {
                const unsigned value = Get16(row + x * 2);
                auto expand = [](unsigned five) { return static_cast<uint8_t>((five << 3) | (five >> 2)); };
                pixel =
                    FromBgr(expand(value & 31), expand((value >> 5) & 31), expand((value >> 10) & 31), 0xFF);
                break;
            }
            default: {
                const size_t bitOffset = static_cast<size_t>(x) * bits;
                const unsigned index =
                    (row[bitOffset / 8] >> (8 - bits - bitOffset % 8)) & ((1u << bits) - 1);
                if (index < paletteCount) {
                    const uint8_t* p = data.data() + paletteOffset + uint64_t{index} * 4;
                    pixel = FromBgr(p[0], p[1], p[2], 0xFF);
                } else {
                    pixel = 0xFF000000u;
                }
                break;
            }
            }
            if (bits != 32 && masked)
                pixel = 0;
            image.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                pixel;
        }
    }
    // A 32-bit image without any alpha is an old one that relies on its mask, like the smaller depths.
    if (bits == 32 && !anyAlpha) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* maskRow =
                hasMask ? data.data() + maskOffset + maskStride * static_cast<uint64_t>(height - 1 - y)
                        : nullptr;
            for (int x = 0; x < width; ++x) {
                uint32_t& pixel =
                    image
                        .Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
                const bool masked = maskRow != nullptr && (maskRow[x / 8] & (0x80 >> (x % 8))) != 0;
                pixel = masked ? 0 : (pixel | 0xFF000000u);
            }
        }
    }
    icon.BitCount = bits;
    return true;
}

TIconImage ChooseIconPicture(const std::vector<TDecodedIcon>& images, int size) {
    const TDecodedIcon* exact = nullptr;
    const TDecodedIcon* larger = nullptr;
    const TDecodedIcon* largest = nullptr;
    auto area = [](const TDecodedIcon& icon) { return int64_t{icon.Image.Width} * icon.Image.Height; };
    for (const auto& icon : images) {
        const auto& image = icon.Image;
        if (image.Empty())
            continue;
        if (image.Width == size && image.Height == size) {
            if (exact == nullptr || icon.BitCount > exact->BitCount)
                exact = &icon;
        } else if (image.Width >= size && image.Height >= size) {
            if (larger == nullptr || area(icon) < area(*larger) ||
                (area(icon) == area(*larger) && icon.BitCount > larger->BitCount))
                larger = &icon;
        }
        if (largest == nullptr || area(icon) > area(*largest) ||
            (area(icon) == area(*largest) && icon.BitCount > largest->BitCount))
            largest = &icon;
    }
    if (exact != nullptr)
        return exact->Image;
    const TDecodedIcon* source = larger != nullptr ? larger : largest;
    if (source == nullptr)
        return {};
    return ScaleIconImage(source->Image, size, size);
}

TIconImage ScaleIconImage(const TIconImage& image, int width, int height) {
    TIconImage result;
    if (image.Empty() || width <= 0 || height <= 0 ||
        image.Pixels.size() != static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height))
        return result;
    result.Width = width;
    result.Height = height;
    result.Pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const int64_t y0 = int64_t{y} * image.Height / height;
        const int64_t y1 = std::max(y0 + 1, int64_t{y + 1} * image.Height / height);
        for (int x = 0; x < width; ++x) {
            const int64_t x0 = int64_t{x} * image.Width / width;
            const int64_t x1 = std::max(x0 + 1, int64_t{x + 1} * image.Width / width);
            uint64_t alpha = 0, red = 0, green = 0, blue = 0, count = 0;
            for (int64_t sy = y0; sy < y1; ++sy)
                for (int64_t sx = x0; sx < x1; ++sx) {
                    const uint32_t p = image.Pixels[static_cast<size_t>(sy * image.Width + sx)];
                    const uint64_t a = p >> 24;
                    alpha += a;
                    red += ((p >> 16) & 0xFF) * a;
                    green += ((p >> 8) & 0xFF) * a;
                    blue += (p & 0xFF) * a;
                    ++count;
                }
            uint32_t pixel = 0;
            if (alpha != 0) {
                auto channel = [&](uint64_t sum) { return static_cast<uint32_t>((sum + alpha / 2) / alpha); };
                pixel = (static_cast<uint32_t>((alpha + count / 2) / count) << 24) | (channel(red) << 16) |
                        (channel(green) << 8) | channel(blue);
            }
            result.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                pixel;
        }
    }
    return result;
}

int ExtractIconPairFrom(const TByteSource& file, int index, TIconImage& large, TIconImage& small) {
    large = {};
    small = {};
    uint16_t reserved = 0, kind = 0;
    if (file.ReadU16(0, reserved) && file.ReadU16(2, kind) && reserved == 0 && kind == 1)
        return ExtractFromIco(file, index, large, small);
    return ExtractFromResources(file, index, large, small);
}

bool ReadVersionBlock(const TByteSource& file, std::vector<uint8_t>& block) {
    block.clear();
    TResourceBlock resources;
    if (!LocateResourceBlock(file, resources))
        return false;
    for (const auto& item : ListResources(file, resources, ResourceVersion)) {
        std::vector<uint8_t> data;
        TResourceItem limited = item;
        limited.Size = std::min<uint32_t>(item.Size, 0xFFFF);
        if (!ReadItem(file, limited, 0xFFFF, data) || data.size() < 6 + 32)
            continue;
        const uint16_t length = Get16(&data[0]);
        static constexpr char16_t key[] = u"VS_VERSION_INFO";
        bool keyMatches = true;
        for (size_t i = 0; i < 16; ++i)
            keyMatches = keyMatches && Get16(&data[6 + i * 2]) == key[i];
        if (length < 6 + 32 || !keyMatches)
            continue;
        data.resize(std::min<size_t>(length, data.size()));
        block = std::move(data);
        return true;
    }
    return false;
}

} // namespace platform
