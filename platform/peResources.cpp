#include "platform/peResources.h"

#include "platform/fileDescriptor.h"
#include "platform/peImage.h"
#include "platform/winePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A regular file read with pread: the readers take only the few bytes they need, so a large installer
// with a payload in its resources costs no more than a small program.
class TFileSource : public TByteSource {
public:
    explicit TFileSource(const std::string& windowsPath) {
        const auto path = ResolvePath(windowsPath);
        if (!path)
            return;
        // Non-blocking, so that a FIFO met on the way does not hang us before the regular-file check.
        TFileDescriptor handle(::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        struct stat status {};
        if (handle.Valid() && ::fstat(handle.Get(), &status) == 0 && S_ISREG(status.st_mode)) {
            FHandle = std::move(handle);
            FSize = static_cast<uint64_t>(status.st_size);
        }
    }

    bool IsOpen() const { return FHandle.Valid(); }
    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t offset, void* buffer, size_t count) const override {
        if (!FHandle.Valid() || offset > FSize || count > FSize - offset)
            return false;
        return ReadAllAt(FHandle.Get(), offset, buffer, count);
    }

private:
    TFileDescriptor FHandle;
    uint64_t FSize = 0;
};

uint16_t Get16(const std::vector<uint8_t>& block, size_t at) {
    return static_cast<uint16_t>(block[at] | (block[at + 1] << 8));
}

size_t Align4(size_t offset) {
    return (offset + 3) & ~size_t{3};
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// UTF-16 text from Begin up to a zero or End, as UTF-8; lone surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::vector<uint8_t>& block, size_t begin, size_t end) {
    std::string out;
    for (size_t at = begin; at + 2 <= end; at += 2) {
        uint32_t code = Get16(block, at);
        if (code == 0)
            break;
        if (code >= 0xD800 && code < 0xDC00 && at + 4 <= end && Get16(block, at + 2) >= 0xDC00 &&
            Get16(block, at + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (Get16(block, at + 2) - 0xDC00u);
            at += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

bool SameAsciiText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// One node of a VS_VERSIONINFO tree: its key, its value's place, where its children start and where it
// ends, all inside the block (offsets count from the block's start, which is where alignment counts from).
struct TVersionNode {
    std::string Key;
    uint16_t Type = 0;
    size_t ValueBegin = 0;
    size_t ValueEnd = 0;
    size_t ChildrenBegin = 0;
    size_t End = 0;
};

bool ReadVersionNode(const std::vector<uint8_t>& block, size_t offset, size_t limit, TVersionNode& node) {
    if (offset > limit || limit - offset < 6)
        return false;
    const size_t length = Get16(block, offset);
    if (length < 6 || length > limit - offset)
        return false;
    node.End = offset + length;
    const size_t valueLength = Get16(block, offset + 2);
    node.Type = Get16(block, offset + 4);
    size_t keyEnd = offset + 6;
    while (keyEnd + 2 <= node.End && Get16(block, keyEnd) != 0)
        keyEnd += 2;
    if (keyEnd + 2 > node.End)
        return false;
    node.Key = Utf16ToUtf8(block, offset + 6, keyEnd);
    // A text value's length counts UTF-16 characters, any other value's bytes.
    node.ValueBegin = std::min(Align4(keyEnd + 2), node.End);
    const size_t valueBytes = node.Type == 1 ? valueLength * 2 : valueLength;
    node.ValueEnd = node.ValueBegin + std::min(valueBytes, node.End - node.ValueBegin);
    node.ChildrenBegin = std::min(Align4(node.ValueEnd), node.End);
    return true;
}

} // namespace

int ExtractIconPair(const std::string& windowsPath, int index, TIconImage& large, TIconImage& small) {
    large = {};
    small = {};
    const TFileSource file(windowsPath);
    if (!file.IsOpen())
        return 0;
    return ExtractIconPairFrom(file, index, large, small);
}

uint32_t GetFileVersionInfoSize(const std::string& windowsPath) {
    std::vector<uint8_t> block;
    return GetFileVersionInfo(windowsPath, block) ? static_cast<uint32_t>(block.size()) : 0;
}

bool GetFileVersionInfo(const std::string& windowsPath, std::vector<uint8_t>& block) {
    block.clear();
    const TFileSource file(windowsPath);
    return file.IsOpen() && ReadVersionBlock(file, block);
}

bool VerQueryValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                   std::vector<uint8_t>& value) {
    value.clear();
    TVersionNode node;
    if (!ReadVersionNode(block, 0, block.size(), node))
        return false;
    size_t start = 0;
    bool descended = false;
    while (start < subBlock.size()) {
        const size_t stop = std::min(subBlock.find('\\', start), subBlock.size());
        const std::string name = subBlock.substr(start, stop - start);
        start = stop + 1;
        if (name.empty())
            continue;
        bool found = false;
        for (size_t child = node.ChildrenBegin; child < node.End;) {
            TVersionNode candidate;
            if (!ReadVersionNode(block, child, node.End, candidate))
                break;
            if (SameAsciiText(candidate.Key, name)) {
                node = candidate;
                found = true;
                break;
            }
            child = Align4(candidate.End);
        }
        if (!found)
            return false;
        descended = true;
    }
    if (!descended) {
        // The root's value is the fixed file information, which starts with its signature.
        if (node.ValueEnd - node.ValueBegin < 52 || Get16(block, node.ValueBegin) != 0x04BD ||
            Get16(block, node.ValueBegin + 2) != 0xFEEF)
            return false;
    }
    if (node.Type == 1) {
        const std::string text = Utf16ToUtf8(block, node.ValueBegin, node.ValueEnd);
        value.assign(text.begin(), text.end());
    } else {
        value.assign(block.begin() + static_cast<std::ptrdiff_t>(node.ValueBegin),
                     block.begin() + static_cast<std::ptrdiff_t>(node.ValueEnd));
    }
    return true;
}

} // namespace platform
