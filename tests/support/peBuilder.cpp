#include "support/peBuilder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <tuple>

namespace {

constexpr uint16_t ResourceIcon = 3;
constexpr uint16_t ResourceGroupIcon = 14;
constexpr uint16_t ResourceVersion = 16;

void Put8(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value));
}
void Put16(std::vector<uint8_t>& out, unsigned value) {
    Put8(out, value & 0xFF);
    Put8(out, (value >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
void Put64(std::vector<uint8_t>& out, uint64_t value) {
    Put32(out, static_cast<uint32_t>(value));
    Put32(out, static_cast<uint32_t>(value >> 32));
}
void Set16(std::vector<uint8_t>& out, size_t at, unsigned value) {
    out.at(at) = static_cast<uint8_t>(value & 0xFF);
    out.at(at + 1) = static_cast<uint8_t>((value >> 8) & 0xFF);
}
void Set32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    Set16(out, at, value & 0xFFFF);
    Set16(out, at + 2, value >> 16);
}
void Set64(std::vector<uint8_t>& out, size_t at, uint64_t value) {
    Set32(out, at, static_cast<uint32_t>(value));
    Set32(out, at + 4, static_cast<uint32_t>(value >> 32));
}
void PadTo(std::vector<uint8_t>& out, size_t alignment) {
    while (out.size() % alignment != 0)
        out.push_back(0);
}
void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        Put8(out, (value >> shift) & 0xFF);
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string result;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        uint32_t code = lead;
        size_t length = 1;
        if (lead >= 0xF0) {
            code = lead & 0x07u;
            length = 4;
        } else if (lead >= 0xE0) {
            code = lead & 0x0Fu;
            length = 3;
        } else if (lead >= 0xC0) {
            code = lead & 0x1Fu;
            length = 2;
        }
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(code));
        }
    }
    return result;
}

void PutUtf16(std::vector<uint8_t>& out, const std::u16string& text, bool terminate) {
    for (char16_t c : text)
        Put16(out, c);
    if (terminate)
        Put16(out, 0);
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Picture of a spec, top-down, 0xAARRGGBB.
uint32_t PixelAt(const TIconSpec& spec, int x, int y) {
    if (spec.Marker != 0 && x < spec.Size / 2 && y < spec.Size / 2)
        return spec.Marker;
    return spec.Color;
}

bool Transparent(uint32_t pixel) {
    return (pixel >> 24) == 0;
}

void CheckSpec(const TIconSpec& spec) {
    if (spec.Size < 1 || spec.Size > 256)
        throw std::invalid_argument("icon size out of range");
    if (spec.BitCount != 32 && spec.BitCount != 24 && spec.BitCount != 8 && spec.BitCount != 4 &&
        spec.BitCount != 1)
        throw std::invalid_argument("unsupported bit count");
}

uint32_t Crc32(const uint8_t* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void PutPngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBigEndian32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    PutBigEndian32(out, Crc32(typed.data(), typed.size()));
}

std::vector<uint8_t> BuildPng(const TIconSpec& spec) {
    // Row y uses filter y % 5, so that every PNG exercises all five filters of a reader.
    const size_t rowBytes = static_cast<size_t>(spec.Size) * 4;
    std::vector<uint8_t> previous(rowBytes, 0), raw;
    for (int y = 0; y < spec.Size; ++y) {
        std::vector<uint8_t> row;
        for (int x = 0; x < spec.Size; ++x) {
            const uint32_t p = PixelAt(spec, x, y);
            Put8(row, (p >> 16) & 0xFF);
            Put8(row, (p >> 8) & 0xFF);
            Put8(row, p & 0xFF);
            Put8(row, p >> 24);
        }
        const int filter = y % 5;
        raw.push_back(static_cast<uint8_t>(filter));
        for (size_t i = 0; i < rowBytes; ++i) {
            const int left = i >= 4 ? row[i - 4] : 0;
            const int up = previous[i];
            const int upLeft = i >= 4 ? previous[i - 4] : 0;
            int predictor = 0;
            if (filter == 1)
                predictor = left;
            else if (filter == 2)
                predictor = up;
            else if (filter == 3)
                predictor = (left + up) / 2;
            else if (filter == 4) {
                const int estimate = left + up - upLeft;
                const int a = std::abs(estimate - left), b = std::abs(estimate - up),
                          c = std::abs(estimate - upLeft);
                predictor = (a <= b && a <= c) ? left : (b <= c ? up : upLeft);
            }
            raw.push_back(static_cast<uint8_t>(row[i] - predictor));
        }
        previous = row;
    }
    // A zlib stream of stored (uncompressed) deflate blocks keeps the writer free of a compressor.
    std::vector<uint8_t> zlib{0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0;) {
        const size_t length = std::min<size_t>(raw.size() - at, 65535);
        const bool last = at + length >= raw.size();
        Put8(zlib, last ? 1 : 0);
        Put16(zlib, static_cast<unsigned>(length));
        Put16(zlib, static_cast<unsigned>(~length & 0xFFFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        if (last)
            break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian32(zlib, (b << 16) | a);

    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> header;
    PutBigEndian32(header, static_cast<uint32_t>(spec.Size));
    PutBigEndian32(header, static_cast<uint32_t>(spec.Size));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter set, no interlace
    PutPngChunk(png, "IHDR", header);
    PutPngChunk(png, "IDAT", zlib);
    PutPngChunk(png, "IEND", {});
    return png;
}

void PutIconDirectoryEntry(std::vector<uint8_t>& out, const TIconSpec& spec, size_t bytes) {
    Put8(out, spec.Size >= 256 ? 0 : static_cast<unsigned>(spec.Size));
    Put8(out, spec.Size >= 256 ? 0 : static_cast<unsigned>(spec.Size));
    Put8(out, spec.BitCount < 8 ? 1u << spec.BitCount : 0);
    Put8(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(spec.BitCount));
    Put32(out, static_cast<uint32_t>(bytes));
}

// A VS_VERSIONINFO node: header, key, value, then the children, each aligned to 4 bytes.
std::vector<uint8_t> VersionNode(const std::string& key, uint16_t type, const std::vector<uint8_t>& value,
                                 uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> node;
    Put16(node, 0);
    Put16(node, valueLength);
    Put16(node, type);
    PutUtf16(node, ToUtf16(key), true);
    PadTo(node, 4);
    node.insert(node.end(), value.begin(), value.end());
    for (const auto& child : children) {
        PadTo(node, 4);
        node.insert(node.end(), child.begin(), child.end());
    }
    Set16(node, 0, static_cast<unsigned>(node.size()));
    return node;
}

void ParseVersionNumbers(const std::string& text, std::array<uint16_t, 4>& numbers) {
    numbers = {0, 0, 0, 0};
    size_t part = 0;
    for (char c : text) {
        if (c == '.') {
            if (++part == 4)
                break;
        } else if (c >= '0' && c <= '9') {
            numbers[part] = static_cast<uint16_t>(numbers[part] * 10 + (c - '0'));
        } else {
            break;
        }
    }
}

} // namespace

std::vector<uint8_t> BuildIconImage(const TIconSpec& spec) {
    CheckSpec(spec);
    if (spec.Png)
        return BuildPng(spec);
    const int size = spec.Size;
    const int bits = spec.BitCount;
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, static_cast<uint32_t>(size * 2));
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(bits));
    Put32(out, 0); // BI_RGB
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);

    std::vector<uint32_t> palette;
    if (bits <= 8) {
        palette.assign(size_t{1} << bits, 0);
        palette[0] = spec.Color & 0xFFFFFF;
        if (palette.size() > 1)
            palette[1] = spec.Marker & 0xFFFFFF;
        for (uint32_t entry : palette)
            Put32(out, entry); // BGRx in memory is 0x00RRGGBB little-endian
    }
    const size_t stride = ((static_cast<size_t>(size) * bits + 31) / 32) * 4;
    for (int row = size - 1; row >= 0; --row) {
        std::vector<uint8_t> line(stride, 0);
        for (int x = 0; x < size; ++x) {
            const uint32_t p = PixelAt(spec, x, row);
            if (bits == 32 || bits == 24) {
                const size_t at = static_cast<size_t>(x) * (bits / 8);
                line[at] = static_cast<uint8_t>(p & 0xFF);
                line[at + 1] = static_cast<uint8_t>((p >> 8) & 0xFF);
                line[at + 2] = static_cast<uint8_t>((p >> 16) & 0xFF);
                if (bits == 32)
                    line[at + 3] = static_cast<uint8_t>(p >> 24);
            } else {
                const unsigned index = (spec.Marker != 0 && p == spec.Marker && palette.size() > 1) ? 1 : 0;
                const size_t bitOffset = static_cast<size_t>(x) * bits;
                const int shift = 8 - bits - static_cast<int>(bitOffset % 8);
                line[bitOffset / 8] = static_cast<uint8_t>(line[bitOffset / 8] | (index << shift));
            }
        }
        out.insert(out.end(), line.begin(), line.end());
    }
    const size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
    for (int row = size - 1; row >= 0; --row) {
        std::vector<uint8_t> line(maskStride, 0);
        for (int x = 0; x < size; ++x)
            if (Transparent(PixelAt(spec, x, row)))
                line[static_cast<size_t>(x) / 8] =
                    static_cast<uint8_t>(line[static_cast<size_t>(x) / 8] | (0x80u >> (x % 8)));
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

std::vector<uint8_t> BuildIcoFile(const std::vector<TIconSpec>& images) {
    std::vector<std::vector<uint8_t>> data;
    for (const auto& spec : images)
        data.push_back(BuildIconImage(spec));
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, static_cast<unsigned>(images.size()));
    size_t offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); ++i) {
        PutIconDirectoryEntry(out, images[i], data[i].size());
        Put32(out, static_cast<uint32_t>(offset));
        offset += data[i].size();
    }
    for (const auto& d : data)
        out.insert(out.end(), d.begin(), d.end());
    return out;
}

void WriteIcoFile(const std::filesystem::path& path, const std::vector<TIconSpec>& images) {
    const auto bytes = BuildIcoFile(images);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
}

void TPeBuilder::AddIconGroup(uint16_t id, const std::vector<TIconSpec>& images) {
    AddGroup(false, id, {}, images);
}

void TPeBuilder::AddIconGroup(const std::string& name, const std::vector<TIconSpec>& images) {
    AddGroup(true, 0, UpperAscii(name), images);
}

void TPeBuilder::AddGroup(bool named, uint16_t id, const std::string& name,
                          const std::vector<TIconSpec>& images) {
    std::vector<uint8_t> group;
    Put16(group, 0);
    Put16(group, 1);
    Put16(group, static_cast<unsigned>(images.size()));
    for (const auto& spec : images) {
        const uint16_t iconId = FNextIconId++;
        TResource icon;
        icon.Type = ResourceIcon;
        icon.Id = iconId;
        icon.Data = BuildIconImage(spec);
        PutIconDirectoryEntry(group, spec, icon.Data.size());
        Put16(group, iconId);
        FResources.push_back(std::move(icon));
    }
    TResource resource;
    resource.Type = ResourceGroupIcon;
    resource.Named = named;
    resource.Id = id;
    resource.Name = name;
    resource.Data = std::move(group);
    FResources.push_back(std::move(resource));
}

void TPeBuilder::SetVersion(const std::string& fileVersion, uint16_t language, uint16_t codePage) {
    FHasVersion = true;
    FFileVersion = fileVersion;
    FLanguage = language;
    FCodePage = codePage;
}

void TPeBuilder::AddVersionString(const std::string& name, const std::string& value) {
    FStrings.emplace_back(name, value);
}

void TPeBuilder::AddResource(uint16_t type, uint16_t id, const std::vector<uint8_t>& data,
                             uint16_t language) {
    TResource resource;
    resource.Type = type;
    resource.Id = id;
    resource.Language = language;
    resource.Data = data;
    FResources.push_back(std::move(resource));
}

std::vector<uint8_t> TPeBuilder::VersionBlock() const {
    std::array<uint16_t, 4> n{};
    ParseVersionNumbers(FFileVersion, n);
    std::vector<uint8_t> fixed;
    Put32(fixed, 0xFEEF04BD);
    Put32(fixed, 0x00010000);
    Put32(fixed, (uint32_t{n[0]} << 16) | n[1]);
    Put32(fixed, (uint32_t{n[2]} << 16) | n[3]);
    Put32(fixed, (uint32_t{n[0]} << 16) | n[1]);
    Put32(fixed, (uint32_t{n[2]} << 16) | n[3]);
    Put32(fixed, 0x3F);
    Put32(fixed, 0);
    Put32(fixed, 0x00040004); // VOS_NT_WINDOWS32
    Put32(fixed, 1);          // VFT_APP
    Put32(fixed, 0);
    Put32(fixed, 0);
    Put32(fixed, 0);

    std::vector<std::pair<std::string, std::string>> strings{{"FileVersion", FFileVersion}};
    strings.insert(strings.end(), FStrings.begin(), FStrings.end());
    std::vector<std::vector<uint8_t>> stringNodes;
    for (const auto& [name, value] : strings) {
        std::vector<uint8_t> text;
        const auto utf16 = ToUtf16(value);
        PutUtf16(text, utf16, true);
        stringNodes.push_back(VersionNode(name, 1, text, static_cast<uint16_t>(utf16.size() + 1), {}));
    }
    static const char* digits = "0123456789ABCDEF";
    std::string tableName;
    const uint32_t pair = (uint32_t{FLanguage} << 16) | FCodePage;
    for (int shift = 28; shift >= 0; shift -= 4)
        tableName.push_back(digits[(pair >> shift) & 0xF]);
    const auto table = VersionNode(tableName, 1, {}, 0, stringNodes);
    const auto stringInfo = VersionNode("StringFileInfo", 1, {}, 0, {table});
    std::vector<uint8_t> translation;
    Put16(translation, FLanguage);
    Put16(translation, FCodePage);
    const auto var = VersionNode("Translation", 0, translation, 4, {});
    const auto varInfo = VersionNode("VarFileInfo", 1, {}, 0, {var});
    return VersionNode("VS_VERSION_INFO", 0, fixed, static_cast<uint16_t>(fixed.size()),
                       {stringInfo, varInfo});
}

std::vector<uint8_t> TPeBuilder::BuildResourceBlock(uint32_t baseRva) const {
    std::vector<TResource> resources = FResources;
    if (FHasVersion) {
        TResource version;
        version.Type = ResourceVersion;
        version.Id = 1;
        version.Language = FLanguage;
        version.Data = VersionBlock();
        resources.push_back(std::move(version));
    }
    if (resources.empty())
        return {};

    // type -> (name or id) -> language -> resource; named entries sort before identifiers.
    using TNameKey = std::tuple<int, std::string, uint16_t>;
    std::map<uint16_t, std::map<TNameKey, std::map<uint16_t, const TResource*>>> tree;
    for (const auto& r : resources)
        tree[r.Type][TNameKey{r.Named ? 0 : 1, r.Named ? UpperAscii(r.Name) : std::string(), r.Id}]
            [r.Language] = &r;

    auto directorySize = [](size_t entries) { return 16 + 8 * entries; };
    size_t typeDirectories = 0, nameDirectories = 0, dataEntries = 0;
    for (const auto& [type, names] : tree) {
        typeDirectories += directorySize(names.size());
        for (const auto& [key, languages] : names) {
            nameDirectories += directorySize(languages.size());
            dataEntries += languages.size();
        }
    }
    std::vector<uint8_t> out(
        directorySize(tree.size()) + typeDirectories + nameDirectories + 16 * dataEntries, 0);
    size_t nextTypeDirectory = directorySize(tree.size());
    size_t nextNameDirectory = nextTypeDirectory + typeDirectories;
    size_t nextDataEntry = nextNameDirectory + nameDirectories;
    std::vector<std::pair<size_t, const TResource*>> dataToPlace;
    std::vector<std::pair<size_t, std::string>> namesToPlace;

    auto writeDirectoryHeader = [&](size_t at, size_t named, size_t ids) {
        Set16(out, at + 12, static_cast<unsigned>(named));
        Set16(out, at + 14, static_cast<unsigned>(ids));
    };
    writeDirectoryHeader(0, 0, tree.size());
    size_t rootEntry = 16;
    for (const auto& [type, names] : tree) {
        Set32(out, rootEntry, type);
        Set32(out, rootEntry + 4, 0x80000000u | static_cast<uint32_t>(nextTypeDirectory));
        rootEntry += 8;
        const size_t typeDirectory = nextTypeDirectory;
        nextTypeDirectory += directorySize(names.size());
        const size_t named = static_cast<size_t>(std::count_if(
            names.begin(), names.end(), [](const auto& n) { return std::get<0>(n.first) == 0; }));
        writeDirectoryHeader(typeDirectory, named, names.size() - named);
        size_t typeEntry = typeDirectory + 16;
        for (const auto& [key, languages] : names) {
            if (std::get<0>(key) == 0)
                namesToPlace.emplace_back(typeEntry, std::get<1>(key));
            else
                Set32(out, typeEntry, std::get<2>(key));
            Set32(out, typeEntry + 4, 0x80000000u | static_cast<uint32_t>(nextNameDirectory));
            typeEntry += 8;
            const size_t nameDirectory = nextNameDirectory;
            nextNameDirectory += directorySize(languages.size());
            writeDirectoryHeader(nameDirectory, 0, languages.size());
            size_t languageEntry = nameDirectory + 16;
            for (const auto& [language, resource] : languages) {
                Set32(out, languageEntry, language);
                Set32(out, languageEntry + 4, static_cast<uint32_t>(nextDataEntry));
                languageEntry += 8;
                dataToPlace.emplace_back(nextDataEntry, resource);
                nextDataEntry += 16;
            }
        }
    }
    for (const auto& [entry, name] : namesToPlace) {
        PadTo(out, 2);
        Set32(out, entry, 0x80000000u | static_cast<uint32_t>(out.size()));
        const auto utf16 = ToUtf16(name);
        Put16(out, static_cast<unsigned>(utf16.size()));
        PutUtf16(out, utf16, false);
    }
    for (const auto& [entry, resource] : dataToPlace) {
        PadTo(out, 8);
        Set32(out, entry, baseRva + static_cast<uint32_t>(out.size()));
        Set32(out, entry + 4, static_cast<uint32_t>(resource->Data.size()));
        out.insert(out.end(), resource->Data.begin(), resource->Data.end());
    }
    PadTo(out, 8);
    return out;
}

std::vector<uint8_t> TPeBuilder::Build() const {
    if (FFormat == TFormat::Elf64)
        return BuildElf(BuildResourceBlock(0));
    return BuildPe(BuildResourceBlock(0x2000), FFormat == TFormat::Pe32Plus);
}

std::vector<uint8_t> TPeBuilder::BuildPe(const std::vector<uint8_t>& section, bool plus) const {
    const bool hasResources = !section.empty();
    const uint32_t rawResourceSize = static_cast<uint32_t>((section.size() + 0x1FF) & ~size_t{0x1FF});
    std::vector<uint8_t> out;
    Put16(out, 0x5A4D); // MZ
    out.resize(0x3C, 0);
    Put32(out, 0x80);
    out.resize(0x80, 0);
    Put32(out, 0x00004550); // PE\0\0
    Put16(out, plus ? 0x8664 : 0x014C);
    Put16(out, hasResources ? 2 : 1);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put16(out, plus ? 240 : 224);
    Put16(out, plus ? 0x0022 : 0x0102);
    // Optional header.
    Put16(out, plus ? 0x020B : 0x010B);
    Put8(out, 14);
    Put8(out, 0);
    Put32(out, 0x200);                              // SizeOfCode
    Put32(out, hasResources ? rawResourceSize : 0); // SizeOfInitializedData
    Put32(out, 0);                                  // SizeOfUninitializedData
    Put32(out, 0x1000);                             // AddressOfEntryPoint
    Put32(out, 0x1000);                             // BaseOfCode
    if (!plus)
        Put32(out, 0x2000); // BaseOfData
    if (plus)
        Put64(out, 0x140000000ull);
    else
        Put32(out, 0x400000);
    Put32(out, 0x1000); // SectionAlignment
    Put32(out, 0x200);  // FileAlignment
    Put16(out, 6);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 6);
    Put16(out, 0);
    Put32(out, 0);
    const uint32_t imageSize = 0x2000 + ((static_cast<uint32_t>(section.size()) + 0xFFF) & ~0xFFFu);
    Put32(out, imageSize);
    Put32(out, 0x200); // SizeOfHeaders
    Put32(out, 0);
    Put16(out, 2); // GUI
    Put16(out, 0);
    for (int i = 0; i < 4; ++i) {
        if (plus)
            Put64(out, 0x100000);
        else
            Put32(out, 0x100000);
    }
    Put32(out, 0);
    Put32(out, 16);
    for (int i = 0; i < 16; ++i) {
        const bool resourceEntry = i == 2 && hasResources;
        Put32(out, resourceEntry ? 0x2000 : 0);
        Put32(out, resourceEntry ? static_cast<uint32_t>(section.size()) : 0);
    }
    auto putSection = [&](const char* name, uint32_t virtualSize, uint32_t address, uint32_t rawSize,
                          uint32_t rawPointer, uint32_t characteristics) {
        std::vector<uint8_t> field(8, 0);
        std::copy(name, name + std::char_traits<char>::length(name), field.begin());
        out.insert(out.end(), field.begin(), field.end());
        Put32(out, virtualSize);
        Put32(out, address);
        Put32(out, rawSize);
        Put32(out, rawPointer);
        Put32(out, 0);
        Put32(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, characteristics);
    };
    putSection(".text", 0x10, 0x1000, 0x200, 0x200, 0x60000020);
    if (hasResources)
        putSection(".rsrc", static_cast<uint32_t>(section.size()), 0x2000, rawResourceSize,
                   ResourceFileOffset, 0x40000040);
    out.resize(0x200, 0);
    Put8(out, 0xC3); // ret
    out.resize(ResourceFileOffset, 0);
    if (hasResources) {
        out.insert(out.end(), section.begin(), section.end());
        out.resize(ResourceFileOffset + rawResourceSize, 0);
    }
    return out;
}

std::vector<uint8_t> TPeBuilder::BuildElf(const std::vector<uint8_t>& section) const {
    const bool hasResources = !section.empty();
    const std::string names = std::string("\0.text\0.rsrc\0.shstrtab\0", 24);
    std::vector<uint8_t> out{0x7F, 'E', 'L', 'F', 2, 1, 1, 0};
    out.resize(16, 0);
    Put16(out, 2);  // ET_EXEC
    Put16(out, 62); // x86-64
    Put32(out, 1);
    Put64(out, 0x401000);
    Put64(out, 0);
    const size_t sectionHeaderField = out.size();
    Put64(out, 0); // e_shoff, set below
    Put32(out, 0);
    Put16(out, 64);
    Put16(out, 56);
    Put16(out, 0);
    Put16(out, 64);
    const unsigned sectionCount = hasResources ? 4 : 3;
    Put16(out, sectionCount);
    Put16(out, sectionCount - 1);
    const size_t textOffset = out.size();
    Put8(out, 0xC3);
    out.resize(ResourceFileOffset, 0);
    const size_t resourceOffset = out.size();
    out.insert(out.end(), section.begin(), section.end());
    const size_t namesOffset = out.size();
    out.insert(out.end(), names.begin(), names.end());
    PadTo(out, 8);
    Set64(out, sectionHeaderField, out.size());
    auto putSection = [&](uint32_t name, uint32_t type, uint64_t flags, uint64_t offset, uint64_t size) {
        Put32(out, name);
        Put32(out, type);
        Put64(out, flags);
        Put64(out, 0);
        Put64(out, offset);
        Put64(out, size);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, 1);
        Put64(out, 0);
    };
    putSection(0, 0, 0, 0, 0);
    putSection(1, 1, 6, textOffset, 1); // PROGBITS, alloc + exec
    if (hasResources)
        putSection(7, 1, 2, resourceOffset, section.size());
    putSection(13, 3, 0, namesOffset, names.size());
    return out;
}

void TPeBuilder::Write(const std::filesystem::path& path) const {
    const auto bytes = Build();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
}
