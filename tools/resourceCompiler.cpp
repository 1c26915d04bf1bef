// korvane_rc: turns a program's icon (.ico) and version into the resource block that the program carries,
// laid out as a Windows resource directory (RT_ICON images, one RT_GROUP_ICON, one RT_VERSION), with every
// data RVA counted from the block's start. It writes a C++ source that places the block in the ELF section
// ".rsrc"; the platform's icon and version readers find it there, as Windows finds a PE's .rsrc section.
//
//   korvane_rc --icon app.ico --version 1.6.0.12 [--string FileDescription=Korvane ...]
//              --output resources.cpp [--block resources.bin]

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint16_t ResourceIcon = 3;
constexpr uint16_t ResourceGroupIcon = 14;
constexpr uint16_t ResourceVersion = 16;
constexpr uint16_t LanguageUsEnglish = 0x0409;
constexpr uint16_t CodePageUnicode = 0x04B0;

using TBytes = std::vector<uint8_t>;

void Put16(TBytes& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}
void Put32(TBytes& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
void Set16(TBytes& out, size_t at, unsigned value) {
    out.at(at) = static_cast<uint8_t>(value & 0xFF);
    out.at(at + 1) = static_cast<uint8_t>((value >> 8) & 0xFF);
}
void Set32(TBytes& out, size_t at, uint32_t value) {
    Set16(out, at, value & 0xFFFF);
    Set16(out, at + 2, value >> 16);
}
uint16_t Get16(const TBytes& in, size_t at) {
    return static_cast<uint16_t>(in.at(at) | (in.at(at + 1) << 8));
}
uint32_t Get32(const TBytes& in, size_t at) {
    return Get16(in, at) | (static_cast<uint32_t>(Get16(in, at + 2)) << 16);
}
void PadTo(TBytes& out, size_t alignment) {
    while (out.size() % alignment != 0)
        out.push_back(0);
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string result;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        if (i + length > text.size())
            throw std::runtime_error("the text is not UTF-8: " + text);
        for (size_t k = 1; k < length; ++k)
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

void PutUtf16(TBytes& out, const std::u16string& text) {
    for (char16_t c : text)
        Put16(out, c);
    Put16(out, 0);
}

TBytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open " + path);
    return TBytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
    // Written beside and renamed, so an interrupted build never leaves half a source behind.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << content;
        if (!file)
            throw std::runtime_error("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path);
}

struct TResource {
    uint16_t Type = 0;
    uint16_t Id = 0;
    TBytes Data;
};

// The images of an .ico file become RT_ICON 1..n, its directory the group RT_GROUP_ICON 1.
void AddIcon(const TBytes& ico, std::vector<TResource>& resources) {
    if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1 || Get16(ico, 4) == 0)
        throw std::runtime_error("the icon file is not an .ico file");
    const unsigned count = Get16(ico, 4);
    if (ico.size() < 6 + 16 * size_t{count})
        throw std::runtime_error("the icon file's directory is cut off");
    TBytes group;
    Put16(group, 0);
    Put16(group, 1);
    Put16(group, count);
    for (unsigned i = 0; i < count; ++i) {
        const size_t entry = 6 + 16 * size_t{i};
        const uint32_t size = Get32(ico, entry + 8);
        const uint32_t offset = Get32(ico, entry + 12);
        if (size == 0 || offset > ico.size() || size > ico.size() - offset)
            throw std::runtime_error("an image of the icon file lies outside it");
        group.insert(group.end(), ico.begin() + static_cast<std::ptrdiff_t>(entry),
                     ico.begin() + static_cast<std::ptrdiff_t>(entry + 12));
        Put16(group, i + 1);
        resources.push_back({ResourceIcon, static_cast<uint16_t>(i + 1),
                             TBytes(ico.begin() + offset, ico.begin() + offset + size)});
    }
    resources.push_back({ResourceGroupIcon, 1, group});
}

TBytes VersionNode(const std::string& key, uint16_t type, const TBytes& value, uint16_t valueLength,
                   const std::vector<TBytes>& children) {
    TBytes node;
    Put16(node, 0);
    Put16(node, valueLength);
    Put16(node, type);
    PutUtf16(node, ToUtf16(key));
    PadTo(node, 4);
    node.insert(node.end(), value.begin(), value.end());
    for (const auto& child : children) {
        PadTo(node, 4);
        node.insert(node.end(), child.begin(), child.end());
    }
    if (node.size() > 0xFFFF)
        throw std::runtime_error("the version resource is too large");
    Set16(node, 0, static_cast<unsigned>(node.size()));
    return node;
}

TBytes VersionResource(const std::string& version,
                       const std::vector<std::pair<std::string, std::string>>& strings) {
    uint16_t numbers[4] = {0, 0, 0, 0};
    size_t part = 0;
    std::string digits;
    for (size_t i = 0; i <= version.size(); ++i) {
        if (i == version.size() || version[i] == '.') {
            if (digits.empty() || digits.size() > 5 || std::stoul(digits) > 0xFFFF || part == 4)
                throw std::runtime_error("the version is not up to four numbers of 0 to 65535: " + version);
            numbers[part++] = static_cast<uint16_t>(std::stoul(digits));
            digits.clear();
        } else if (version[i] >= '0' && version[i] <= '9') {
            digits.push_back(version[i]);
        } else {
            throw std::runtime_error("the version is not up to four numbers of 0 to 65535: " + version);
        }
    }
    TBytes fixed;
    Put32(fixed, 0xFEEF04BD);
    Put32(fixed, 0x00010000);
    for (int twice = 0; twice < 2; ++twice) { // file version, then product version
        Put32(fixed, (uint32_t{numbers[0]} << 16) | numbers[1]);
        Put32(fixed, (uint32_t{numbers[2]} << 16) | numbers[3]);
    }
    Put32(fixed, 0x3F); // flags mask
    Put32(fixed, 0);    // flags
    Put32(fixed, 0x00040004);
    Put32(fixed, 1); // an application
    Put32(fixed, 0);
    Put32(fixed, 0);
    Put32(fixed, 0);

    std::vector<TBytes> stringNodes;
    for (const auto& [name, value] : strings) {
        TBytes text;
        const auto utf16 = ToUtf16(value);
        PutUtf16(text, utf16);
        stringNodes.push_back(VersionNode(name, 1, text, static_cast<uint16_t>(utf16.size() + 1), {}));
    }
    TBytes translation;
    Put16(translation, LanguageUsEnglish);
    Put16(translation, CodePageUnicode);
    const auto table = VersionNode("040904B0", 1, {}, 0, stringNodes);
    const auto stringInfo = VersionNode("StringFileInfo", 1, {}, 0, {table});
    const auto varInfo =
        VersionNode("VarFileInfo", 1, {}, 0, {VersionNode("Translation", 0, translation, 4, {})});
    return VersionNode("VS_VERSION_INFO", 0, fixed, static_cast<uint16_t>(fixed.size()),
                       {stringInfo, varInfo});
}

// The resource directory: types, then identifiers, then one language each, all in ascending order; the
// data follows the directories, each item aligned to 8 bytes.
TBytes ResourceBlock(const std::vector<TResource>& resources) {
    std::map<uint16_t, std::map<uint16_t, const TResource*>> tree;
    for (const auto& resource : resources)
        tree[resource.Type][resource.Id] = &resource;
    auto directorySize = [](size_t entries) { return 16 + 8 * entries; };
    size_t typeDirectories = 0, nameDirectories = 0;
    for (const auto& [type, ids] : tree) {
        typeDirectories += directorySize(ids.size());
        nameDirectories += directorySize(1) * ids.size();
    }
    const size_t dataEntries = directorySize(tree.size()) + typeDirectories + nameDirectories;
    TBytes out(dataEntries + 16 * resources.size(), 0);
    size_t nextType = directorySize(tree.size()), nextName = nextType + typeDirectories,
           nextData = dataEntries;
    std::vector<std::pair<size_t, const TResource*>> data;
    Set16(out, 14, static_cast<unsigned>(tree.size()));
    size_t rootEntry = 16;
    for (const auto& [type, ids] : tree) {
        Set32(out, rootEntry, type);
        Set32(out, rootEntry + 4, 0x80000000u | static_cast<uint32_t>(nextType));
        rootEntry += 8;
        Set16(out, nextType + 14, static_cast<unsigned>(ids.size()));
        size_t typeEntry = nextType + 16;
        nextType += directorySize(ids.size());
        for (const auto& [id, resource] : ids) {
            Set32(out, typeEntry, id);
            Set32(out, typeEntry + 4, 0x80000000u | static_cast<uint32_t>(nextName));
            typeEntry += 8;
            Set16(out, nextName + 14, 1);
            Set32(out, nextName + 16, LanguageUsEnglish);
            Set32(out, nextName + 20, static_cast<uint32_t>(nextData));
            nextName += directorySize(1);
            data.emplace_back(nextData, resource);
            nextData += 16;
        }
    }
    for (const auto& [entry, resource] : data) {
        PadTo(out, 8);
        Set32(out, entry, static_cast<uint32_t>(out.size()));
        Set32(out, entry + 4, static_cast<uint32_t>(resource->Data.size()));
        out.insert(out.end(), resource->Data.begin(), resource->Data.end());
    }
    PadTo(out, 8);
    return out;
}

std::string CppSource(const TBytes& block, const std::string& iconPath, const std::string& version) {
    std::string text = "// Generated by korvane_rc from " + iconPath + " and version " + version +
                       "; do not edit.\n"
                       "// The program's icon and version resources, found by the platform in the section "
                       "\".rsrc\".\n"
                       "extern const unsigned char korvaneResourceBlock[];\n"
                       "alignas(16) __attribute__((section(\".rsrc\"), used)) const unsigned char "
                       "korvaneResourceBlock[] = {";
    static const char* hex = "0123456789abcdef";
    for (size_t i = 0; i < block.size(); ++i) {
        text += (i % 16 == 0) ? "\n    " : " ";
        text += "0x";
        text += hex[block[i] >> 4];
        text += hex[block[i] & 0xF];
        text += ',';
    }
    text += "\n};\n";
    return text;
}

int Usage() {
    std::cerr << "usage: korvane_rc --icon <file.ico> --version <a.b.c.d> [--string Name=Value]... "
                 "--output <source.cpp> [--block <block.bin>]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string icon, version, output, blockPath;
    std::vector<std::pair<std::string, std::string>> strings;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const std::string value = argv[++i];
        if (option == "--icon") {
            icon = value;
        } else if (option == "--version") {
            version = value;
        } else if (option == "--output") {
            output = value;
        } else if (option == "--block") {
            blockPath = value;
        } else if (option == "--string" && value.find('=') != std::string::npos && value.find('=') > 0) {
            strings.emplace_back(value.substr(0, value.find('=')), value.substr(value.find('=') + 1));
        } else {
            return Usage();
        }
    }
    if (version.empty() || output.empty())
        return Usage();
    try {
        std::vector<TResource> resources;
        if (!icon.empty())
            AddIcon(ReadFile(icon), resources);
        // FileVersion comes first, as resource compilers write it, unless the caller gave one.
        if (std::none_of(strings.begin(), strings.end(),
                         [](const auto& s) { return s.first == "FileVersion"; }))
            strings.insert(strings.begin(), {"FileVersion", version});
        resources.push_back({ResourceVersion, 1, VersionResource(version, strings)});
        const TBytes block = ResourceBlock(resources);
        if (!blockPath.empty())
            WriteFile(blockPath, std::string(block.begin(), block.end()));
        WriteFile(output, CppSource(block, icon, version));
    } catch (const std::exception& error) {
        std::cerr << "korvane_rc: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
