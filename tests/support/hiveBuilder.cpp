#include "support/hiveBuilder.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace {

// Fixed time stamps, so that a built file is the same on every run.
constexpr const char* KeyTime = "1796892292";
constexpr const char* FileTime = "#time=1dd8882b93480fc";

std::u16string ToUtf16(const std::string& text) {
    std::u16string result;
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        uint32_t code = 0xfffd;
        size_t length = 1;
        if (byte < 0x80) {
            code = byte;
        } else if ((byte & 0xe0) == 0xc0) {
            length = 2;
            code = byte & 0x1fu;
        } else if ((byte & 0xf0) == 0xe0) {
            length = 3;
            code = byte & 0x0fu;
        } else if ((byte & 0xf8) == 0xf0) {
            length = 4;
            code = byte & 0x07u;
        }
        if (length > 1) {
            if (i + length > text.size())
                throw std::invalid_argument("text is not UTF-8");
            for (size_t k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            result.push_back(static_cast<char16_t>(0xd800 + (code >> 10)));
            result.push_back(static_cast<char16_t>(0xdc00 + (code & 0x3ff)));
        } else {
            result.push_back(static_cast<char16_t>(code));
        }
    }
    return result;
}

const char* HexDigits = "0123456789abcdef";

std::string Hex(uint64_t value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), HexDigits[value & 0xf]);
        value >>= 4;
    } while (value != 0);
    return digits;
}

// Wine's escaping of strings, value names and (with KeyName) key names.
std::string Escape(const std::u16string& text, bool keyName) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        char16_t next = i + 1 < text.size() ? text[i + 1] : u'\0';
        bool nextIsOctal = next >= u'0' && next <= u'7';
        bool nextIsHex = (next >= u'0' && next <= u'9') || (next >= u'a' && next <= u'f') ||
                         (next >= u'A' && next <= u'F');
        switch (c) {
        case u'\\':
            out += "\\\\";
            continue;
        case u'\n':
            out += "\\n";
            continue;
        case u'\r':
            out += "\\r";
            continue;
        case u'\t':
            out += "\\t";
            continue;
        case u'\a':
            out += "\\a";
            continue;
        case u'\b':
            out += "\\b";
            continue;
        case u'\f':
            out += "\\f";
            continue;
        case u'\v':
            out += "\\v";
            continue;
        default:
            break;
        }
        if (c == u'"' && !keyName) {
            out += "\\\"";
        } else if ((c == u'[' || c == u']') && keyName) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            std::string octal;
            unsigned value = c;
            do {
                octal.insert(octal.begin(), static_cast<char>('0' + (value & 7)));
                value >>= 3;
            } while (value != 0);
            if (nextIsOctal)
                octal.insert(0, 3 - octal.size(), '0');
            out += '\\' + octal;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            std::string hex = Hex(c);
            if (nextIsHex)
                hex.insert(0, 4 - hex.size(), '0');
            out += "\\x" + hex;
        }
    }
    return out;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

char16_t Fold(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xc0 && c <= 0xde && c != 0xd7))
        return static_cast<char16_t>(c + 0x20);
    return c;
}

int CompareNames(const std::string& a, const std::string& b) {
    std::u16string x = ToUtf16(a), y = ToUtf16(b);
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        char16_t p = Fold(x[i]), q = Fold(y[i]);
        if (p != q)
            return p < q ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

bool SamePath(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (CompareNames(a[i], b[i]) != 0)
            return false;
    return true;
}

// Hex data as Wine wraps it: after a byte's comma, once the line is longer than 76 characters.
std::string HexData(const std::string& prefix, const std::vector<uint8_t>& data) {
    std::string out = prefix;
    size_t lineLength = prefix.size();
    for (size_t i = 0; i < data.size(); ++i) {
        out += HexDigits[data[i] >> 4];
        out += HexDigits[data[i] & 0xf];
        lineLength += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++lineLength;
            if (lineLength > 76) {
                out += "\\\n  ";
                lineLength = 2;
            }
        }
    }
    return out;
}

std::string QuotedName(const std::string& name) {
    return name.empty() ? "@" : "\"" + Escape(ToUtf16(name), false) + "\"";
}

} // namespace

THiveBuilder::THiveBuilder(TRoot root, bool win64) : FRoot(root), FWin64(win64) {}

THiveBuilder::TKey& THiveBuilder::Current() {
    if (FCurrent >= FKeys.size())
        throw std::logic_error("THiveBuilder: call Key before adding values");
    return FKeys[FCurrent];
}

THiveBuilder& THiveBuilder::Key(const std::string& path) {
    std::vector<std::string> parts = SplitPath(path);
    if (parts.empty())
        throw std::invalid_argument("THiveBuilder: empty key path");
    for (size_t i = 0; i < FKeys.size(); ++i) {
        if (SamePath(FKeys[i].Path, parts)) {
            FCurrent = i;
            return *this;
        }
    }
    FKeys.push_back({parts, false, {}, {}});
    FCurrent = FKeys.size() - 1;
    return *this;
}

THiveBuilder& THiveBuilder::SetValue(const std::string& name, std::string data) {
    TKey& key = Current();
    std::string line = QuotedName(name) + data;
    for (TValue& value : key.Values) {
        if (CompareNames(value.Name, name) == 0) {
            value.Line = line;
            return *this;
        }
    }
    key.Values.push_back({name, line});
    return *this;
}

THiveBuilder& THiveBuilder::String(const std::string& name, const std::string& value) {
    return SetValue(name, "=\"" + Escape(ToUtf16(value), false) + "\"");
}

THiveBuilder& THiveBuilder::ExpandString(const std::string& name, const std::string& value) {
    return SetValue(name, "=str(2):\"" + Escape(ToUtf16(value), false) + "\"");
}

THiveBuilder& THiveBuilder::Dword(const std::string& name, uint32_t value) {
    std::string hex = Hex(value);
    return SetValue(name, "=dword:" + std::string(8 - hex.size(), '0') + hex);
}

THiveBuilder& THiveBuilder::Qword(const std::string& name, uint64_t value) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 8; ++i)
        data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    std::string prefix = QuotedName(name) + "=hex(b):";
    return SetValue(name, HexData(prefix, data).substr(QuotedName(name).size()));
}

THiveBuilder& THiveBuilder::Binary(const std::string& name, const std::vector<uint8_t>& data) {
    std::string prefix = QuotedName(name) + "=hex:";
    return SetValue(name, HexData(prefix, data).substr(QuotedName(name).size()));
}

THiveBuilder& THiveBuilder::MultiString(const std::string& name, const std::vector<std::string>& strings) {
    std::u16string text;
    for (const std::string& s : strings) {
        text += ToUtf16(s);
        text += u'\0';
    }
    // The stored data ends in a double NUL; the file shows every unit but the last.
    return SetValue(name, "=str(7):\"" + Escape(text, false) + "\"");
}

THiveBuilder& THiveBuilder::Link(const std::string& targetNtPath) {
    Current().IsLink = true;
    std::vector<uint8_t> data;
    for (char16_t c : ToUtf16(targetNtPath)) {
        data.push_back(static_cast<uint8_t>(c & 0xff));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    std::string name = "SymbolicLinkValue";
    std::string prefix = QuotedName(name) + "=hex(6):";
    return SetValue(name, HexData(prefix, data).substr(QuotedName(name).size()));
}

THiveBuilder& THiveBuilder::RawLine(const std::string& line) {
    Current().RawLines.push_back(line);
    return *this;
}

std::string THiveBuilder::Text() const {
    static const char* const Roots[] = {"REGISTRY\\\\Machine", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
                                        "REGISTRY\\\\User\\\\.Default"};
    std::string out = "WINE REGISTRY Version 2\n;; All keys relative to ";
    out += Roots[FRoot];
    out += "\n\n#arch=";
    out += FWin64 ? "win64" : "win32";
    out += '\n';

    std::vector<const TKey*> keys;
    for (const TKey& key : FKeys)
        keys.push_back(&key);
    std::stable_sort(keys.begin(), keys.end(), [](const TKey* a, const TKey* b) {
        for (size_t i = 0; i < a->Path.size() && i < b->Path.size(); ++i) {
            int order = CompareNames(a->Path[i], b->Path[i]);
            if (order != 0)
                return order < 0;
        }
        return a->Path.size() < b->Path.size();
    });
    for (size_t k = 0; k < keys.size(); ++k) {
        const TKey& key = *keys[k];
        bool hasChild = k + 1 < keys.size() && keys[k + 1]->Path.size() > key.Path.size() &&
                        SamePath(std::vector<std::string>(keys[k + 1]->Path.begin(),
                                                          keys[k + 1]->Path.begin() +
                                                              static_cast<std::ptrdiff_t>(key.Path.size())),
                                 key.Path);
        if (hasChild && key.Values.empty() && key.RawLines.empty() && !key.IsLink)
            continue;
        out += "\n[";
        for (size_t i = 0; i < key.Path.size(); ++i) {
            if (i > 0)
                out += "\\\\";
            out += Escape(ToUtf16(key.Path[i]), true);
        }
        out += "] ";
        out += KeyTime;
        out += '\n';
        out += FileTime;
        out += '\n';
        if (key.IsLink)
            out += "#link\n";
        std::vector<const TValue*> values;
        for (const TValue& value : key.Values)
            values.push_back(&value);
        std::stable_sort(values.begin(), values.end(),
                         [](const TValue* a, const TValue* b) { return CompareNames(a->Name, b->Name) < 0; });
        for (const TValue* value : values)
            out += value->Line + '\n';
        for (const std::string& line : key.RawLines)
            out += line + '\n';
    }
    return out;
}

std::map<std::string, std::vector<std::string>> HiveKeyBlocks(const std::string& text) {
    std::map<std::string, std::vector<std::string>> blocks;
    std::istringstream in(text);
    std::string line;
    std::string current;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            size_t end = line.rfind(']');
            current = line.substr(1, end - 1);
            blocks[current];
        } else if (!current.empty() && !line.empty() && line.rfind("#time=", 0) != 0) {
            blocks[current].push_back(line);
        }
    }
    return blocks;
}
