#include "platform/wineHive.h"

#include "platform/fileDescriptor.h"
#include "platform/unicodeCase.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

namespace platform {

namespace {

constexpr uint64_t FileTimeUnixEpoch = 116444736000000000ULL; // 1970-01-01 as a file time
constexpr uint64_t FileTimeTicksPerSecond = 10000000ULL;
constexpr const char* HexDigits = "0123456789abcdef";

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// Decodes one UTF-8 sequence at Text[I]; advances I. Malformed input gives U+FFFD and consumes one byte.
uint32_t DecodeUtf8(std::string_view text, size_t& i) {
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    size_t length = 0;
    uint32_t code = 0;
    uint32_t minimum = 0;
    if ((lead & 0xe0) == 0xc0) {
        length = 2, code = lead & 0x1fu, minimum = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3, code = lead & 0x0fu, minimum = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4, code = lead & 0x07u, minimum = 0x10000;
    } else {
        ++i;
        return 0xfffd;
    }
    if (i + length > text.size()) {
        ++i;
        return 0xfffd;
    }
    for (size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0) != 0x80) {
            ++i;
            return 0xfffd;
        }
        code = (code << 6) | (next & 0x3fu);
    }
    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        ++i;
        return 0xfffd;
    }
    i += length;
    return code;
}

void AppendUnit(std::u16string& out, uint32_t code) {
    if (code >= 0x10000) {
        code -= 0x10000;
        out += static_cast<char16_t>(0xd800 + (code >> 10));
        out += static_cast<char16_t>(0xdc00 + (code & 0x3ff));
    } else {
        out += static_cast<char16_t>(code);
    }
}

void Utf8ToUnits(std::string_view text, std::u16string& out) {
    out.clear();
    size_t i = 0;
    while (i < text.size())
        AppendUnit(out, DecodeUtf8(text, i));
}

void UnitsToUtf8(const char16_t* units, size_t count, std::string& out) {
    out.resize(count);
    size_t i = 0;
    // Names and strings are mostly ASCII: copy that run directly, then take the general way.
    for (; i < count && units[i] < 0x80; ++i)
        out[i] = static_cast<char>(units[i]);
    if (i == count)
        return;
    out.resize(i);
    for (; i < count; ++i) {
        uint32_t c = units[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0xd800 && c <= 0xdbff && i + 1 < count && units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
            c = 0x10000 + ((c - 0xd800) << 10) + (units[i + 1] - 0xdc00u);
            ++i;
        } else if (c >= 0xd800 && c <= 0xdfff) {
            c = 0xfffd;
        }
        AppendUtf8(out, c);
    }
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    return static_cast<unsigned>(c - 'A' + 10);
}

// Reads Wine's escaped text from P up to (not including) an unescaped Terminator, or to End when Terminator
// is 0. Returns the position of the terminator, or nullptr when it is missing. Writes through a pointer into
// a buffer sized for the worst case: this runs for every name and string of a hive.
const char* Unescape(const char* p, const char* end, char terminator, std::u16string& out) {
    out.resize(static_cast<size_t>(end - p));
    char16_t* o = out.data();
    const char* result = terminator == 0 ? end : nullptr;
    while (p < end) {
        char c = *p;
        if (c == terminator && terminator != 0) {
            result = p;
            break;
        }
        if (c != '\\' && static_cast<unsigned char>(c) < 0x80) {
            *o++ = static_cast<char16_t>(c);
            ++p;
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::string_view rest(p, static_cast<size_t>(end - p));
            size_t i = 0;
            uint32_t code = DecodeUtf8(rest, i);
            p += i;
            if (code >= 0x10000) {
                code -= 0x10000;
                *o++ = static_cast<char16_t>(0xd800 + (code >> 10));
                *o++ = static_cast<char16_t>(0xdc00 + (code & 0x3ff));
            } else {
                *o++ = static_cast<char16_t>(code);
            }
            continue;
        }
        if (p + 1 >= end) {
            *o++ = u'\\';
            ++p;
            continue;
        }
        char e = p[1];
        p += 2;
        switch (e) {
        case 'a':
            *o++ = u'\a';
            break;
        case 'b':
            *o++ = u'\b';
            break;
        case 't':
            *o++ = u'\t';
            break;
        case 'n':
            *o++ = u'\n';
            break;
        case 'v':
            *o++ = u'\v';
            break;
        case 'f':
            *o++ = u'\f';
            break;
        case 'r':
            *o++ = u'\r';
            break;
        case 'x': {
            unsigned value = 0;
            int digits = 0;
            while (digits < 4 && p < end && IsHex(*p)) {
                value = value * 16 + HexValue(*p++);
                ++digits;
            }
            *o++ = digits == 0 ? u'x' : static_cast<char16_t>(value);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned value = static_cast<unsigned>(e - '0');
                for (int digits = 1; digits < 3 && p < end && *p >= '0' && *p <= '7'; ++digits)
                    value = value * 8 + static_cast<unsigned>(*p++ - '0');
                *o++ = static_cast<char16_t>(value);
            } else {
                *o++ = static_cast<char16_t>(static_cast<unsigned char>(e));
            }
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return result;
}

void AppendHex(std::string& out, uint64_t value) {
    char digits[16];
    int count = 0;
    do {
        digits[count++] = HexDigits[value & 0xf];
        value >>= 4;
    } while (value != 0);
    while (count > 0)
        out += digits[--count];
}

// Wine's escaping of names and string data, per UTF-16 unit.
void EscapeUnits(const char16_t* units, size_t count, bool keyName, std::string& out) {
    for (size_t i = 0; i < count; ++i) {
        char16_t c = units[i];
        if (c >= 0x20 && c < 0x80 && c != '\\' && c != '"' && c != '[' && c != ']') {
            out += static_cast<char>(c);
            continue;
        }
        char16_t next = i + 1 < count ? units[i + 1] : u'\0';
        switch (c) {
        case u'\\':
            out += "\\\\";
            continue;
        case u'"':
            out += keyName ? "\"" : "\\\"";
            continue;
        case u'[':
            out += keyName ? "\\[" : "[";
            continue;
        case u']':
            out += keyName ? "\\]" : "]";
            continue;
        case u'\a':
            out += "\\a";
            continue;
        case u'\b':
            out += "\\b";
            continue;
        case u'\t':
            out += "\\t";
            continue;
        case u'\n':
            out += "\\n";
            continue;
        case u'\v':
            out += "\\v";
            continue;
        case u'\f':
            out += "\\f";
            continue;
        case u'\r':
            out += "\\r";
            continue;
        default:
            break;
        }
        if (c < 0x20) {
            out += '\\';
            bool pad = next >= u'0' && next <= u'7';
            if (pad || c >= 8) {
                if (pad || c >= 64)
                    out += static_cast<char>('0' + ((c >> 6) & 7));
                out += static_cast<char>('0' + ((c >> 3) & 7));
            }
            out += static_cast<char>('0' + (c & 7));
            continue;
        }
        out += "\\x";
        bool pad = next < 0x80 && IsHex(static_cast<char>(next));
        if (pad && c < 0x1000) {
            if (c < 0x100)
                out += '0';
            out += '0';
        }
        AppendHex(out, c);
    }
}

void EscapeUtf8(std::string_view text, bool keyName, std::string& out) {
    std::u16string units;
    Utf8ToUnits(text, units);
    EscapeUnits(units.data(), units.size(), keyName, out);
}

// Names and strings that are plain ASCII without escapes read as they stand: the hive keeps a view of
// their text instead of a decoded copy.
bool IsPlainAscii(std::string_view text) {
    for (char c : text)
        if (c == '\\' || static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The unescaped Terminator of Wine's escaped text from P, where Unescape would stop; nullptr when missing.
// A terminator is escaped exactly when an odd run of backslashes comes before it.
const char* SkipEscaped(const char* p, const char* end, char terminator) {
    const char* from = p;
    while (from < end) {
        const auto* found =
            static_cast<const char*>(std::memchr(from, terminator, static_cast<size_t>(end - from)));
        if (found == nullptr)
            return nullptr;
        const char* run = found;
        while (run > p && run[-1] == '\\')
            --run;
        if ((found - run) % 2 == 0)
            return found;
        from = found + 1;
    }
    return nullptr;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
}

// Eight ASCII bytes with A to Z lowered: a byte from A to Z is the one that reaches 0x80 when 0x3f is added
// but not when 0x25 is (no byte carries into the next, all being below 0x80).
uint64_t LowerAsciiWord(uint64_t bytes) {
    constexpr uint64_t Ones = 0x0101010101010101ULL;
    const uint64_t upper = ((bytes + Ones * 0x3f) ^ (bytes + Ones * 0x25)) & (Ones * 0x80);
    return bytes | (upper >> 2);
}

// Compares an ASCII name's folded form (A to Z lowered, as FoldName makes it) with Folded, byte by byte.
int CompareAsciiFolded(std::string_view name, std::string_view folded) {
    const size_t common = std::min(name.size(), folded.size());
    size_t i = 0;
    // Eight bytes at a time while they agree: siblings such as class IDs share long beginnings.
    for (; i + 8 <= common; i += 8) {
        uint64_t x = 0;
        uint64_t y = 0;
        std::memcpy(&x, name.data() + i, 8);
        std::memcpy(&y, folded.data() + i, 8);
        if (LowerAsciiWord(x) != y)
            break;
    }
    for (; i < common; ++i) {
        auto a = static_cast<unsigned char>(LowerAscii(name[i]));
        auto b = static_cast<unsigned char>(folded[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return name.size() < folded.size() ? -1 : (name.size() > folded.size() ? 1 : 0);
}

// Compares two ASCII names in folded order.
int CompareAsciiNames(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        auto x = static_cast<unsigned char>(LowerAscii(a[i]));
        auto y = static_cast<unsigned char>(LowerAscii(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Compares any name's folded form with Folded.
int CompareNameFolded(std::string_view name, std::string_view folded) {
    if (IsAscii(name))
        return CompareAsciiFolded(name, folded);
    return std::string_view(FoldName(name)).compare(folded);
}

void FoldInto(std::string_view name, std::string& folded) {
    if (!IsAscii(name)) {
        folded = FoldName(name);
        return;
    }
    folded.resize(name.size());
    for (size_t i = 0; i < name.size(); ++i)
        folded[i] = LowerAscii(name[i]);
}

// The next separator of a key path (two backslashes) from P, or End; a backslash before anything else
// escapes that character.
const char* NextSeparator(const char* p, const char* end) {
    while (p < end) {
        const auto* slash = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
        if (slash == nullptr)
            return end;
        if (slash + 1 < end && slash[1] == '\\')
            return slash;
        p = slash + 2;
    }
    return end;
}

// How many bytes A and B share at their start.
size_t CommonLength(std::string_view a, std::string_view b) {
    const size_t limit = std::min(a.size(), b.size());
    size_t common = 0;
    while (common + 8 <= limit) {
        uint64_t x = 0;
        uint64_t y = 0;
        std::memcpy(&x, a.data() + common, 8);
        std::memcpy(&y, b.data() + common, 8);
        if (x != y)
            break;
        common += 8;
    }
    while (common < limit && a[common] == b[common])
        ++common;
    return common;
}

// The end of the line at Pos (without a CR) and the start of the line after it.
void LineAt(const char* text, size_t size, size_t pos, size_t& lineEnd, size_t& next) {
    const void* newline = std::memchr(text + pos, '\n', size - pos);
    size_t end = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - text) : size;
    next = newline != nullptr ? end + 1 : size;
    if (end > pos && text[end - 1] == '\r')
        --end;
    lineEnd = end;
}

// One value's lines as read from the text: what the parser checks and what a value decodes on demand.
struct TValueLines {
    bool Understood = false;
    const char* NameBegin = nullptr; // the escaped name between its quotes (empty for "@")
    const char* NameEnd = nullptr;
    uint32_t Type = 0;
    size_t Next = 0;      // the start of the line after the value
    size_t Continued = 0; // continuation lines of hex data
};

// Hex bytes from P, continued over lines that end in a backslash; appended to Data when it is given.
bool ReadHexBytes(const char* text, size_t size, const char*& p, size_t& lineEnd, TValueLines& read,
                  std::string* data) {
    const char* end = text + lineEnd;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p == end)
            return true;
        if (*p == '\\' && p + 1 == end) {
            // Continued on the next line, after its indentation.
            if (read.Next >= size)
                return false;
            const size_t pos = read.Next;
            ++read.Continued;
            LineAt(text, size, pos, lineEnd, read.Next);
            p = text + pos;
            end = text + lineEnd;
            continue;
        }
        if (!IsHex(*p))
            return false;
        unsigned byte = HexValue(*p++);
        if (p < end && IsHex(*p))
            byte = byte * 16 + HexValue(*p++);
        if (data != nullptr)
            *data += static_cast<char>(byte);
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p < end && *p == ',')
            ++p;
        else if (p < end && !(*p == '\\' && p + 1 == end))
            return false;
    }
}

// Reads the value whose line starts at Pos (with '@' or '"') and ends at LineEnd, the next line at Next.
// Without Data it only checks the text.
TValueLines ReadValueLines(const char* text, size_t size, size_t pos, size_t lineEnd, size_t next,
                           std::string* data, std::u16string& units) {
    TValueLines read;
    read.Next = next;
    const char* p = text + pos;
    const char* end = text + lineEnd;
    bool understood = false;
    if (*p == '@') {
        ++p;
        read.NameBegin = read.NameEnd = p;
        understood = true;
    } else if (const char* close = SkipEscaped(p + 1, end, '"')) {
        read.NameBegin = p + 1;
        read.NameEnd = close;
        p = close + 1;
        understood = true;
    }
    understood = understood && p < end && *p == '=';
    if (understood) {
        ++p;
        std::string_view rest(p, static_cast<size_t>(end - p));
        auto stringData = [&](uint32_t type, size_t skip) {
            const char* close = SkipEscaped(p + skip, end, '"');
            if (close == nullptr)
                return false;
            read.Type = type;
            const std::string_view plain(p + skip, static_cast<size_t>(close - (p + skip)));
            if (data != nullptr && IsPlainAscii(plain)) {
                // Most strings are plain ASCII: each byte is its own unit.
                data->assign(plain.size() * 2 + 2, '\0');
                for (size_t i = 0; i < plain.size(); ++i)
                    (*data)[2 * i] = plain[i];
            } else if (data != nullptr) {
                Unescape(p + skip, end, '"', units);
                data->resize(units.size() * 2 + 2);
                for (size_t i = 0; i < units.size(); ++i) {
                    (*data)[2 * i] = static_cast<char>(units[i] & 0xff);
                    (*data)[2 * i + 1] = static_cast<char>(units[i] >> 8);
                }
                (*data)[data->size() - 2] = (*data)[data->size() - 1] = '\0';
            }
            p = close + 1;
            return true;
        };
        auto typeNumber = [&](size_t from, uint32_t& type, size_t& length) {
            size_t i = from;
            uint64_t number = 0;
            while (i < rest.size() && IsHex(rest[i]) && i - from < 8)
                number = number * 16 + HexValue(rest[i++]);
            if (i == from || rest.substr(i, 2) != "):")
                return false;
            type = static_cast<uint32_t>(number);
            length = i + 2;
            return true;
        };
        uint32_t type = 0;
        size_t length = 0;
        if (rest.substr(0, 1) == "\"") {
            understood = stringData(1, 1);
        } else if (rest.substr(0, 5) == "str:\"") {
            understood = stringData(1, 5);
        } else if (rest.substr(0, 4) == "str(" && typeNumber(4, type, length) &&
                   rest.substr(length, 1) == "\"") {
            understood = stringData(type, length + 1);
        } else if (rest.substr(0, 6) == "dword:") {
            size_t i = 6;
            uint32_t number = 0;
            while (i < rest.size() && IsHex(rest[i]) && i < 14)
                number = number * 16 + HexValue(rest[i++]);
            understood = i > 6;
            read.Type = 4;
            if (data != nullptr) {
                data->resize(4);
                for (size_t b = 0; b < 4; ++b)
                    (*data)[b] = static_cast<char>((number >> (8 * b)) & 0xff);
            }
            p += i;
        } else if (rest.substr(0, 4) == "hex:") {
            read.Type = 3;
            p += 4;
            understood = ReadHexBytes(text, size, p, lineEnd, read, data);
            end = text + lineEnd;
        } else if (rest.substr(0, 4) == "hex(" && typeNumber(4, type, length)) {
            read.Type = type;
            p += length;
            understood = ReadHexBytes(text, size, p, lineEnd, read, data);
            end = text + lineEnd;
        } else {
            understood = false;
        }
        while (understood && p < end && (*p == ' ' || *p == '\t'))
            ++p;
        understood = understood && p == end;
    }
    read.Understood = understood;
    return read;
}

bool WritesAsString(uint32_t type, std::string_view data) {
    if (type != 1 && type != 2 && type != 7)
        return false;
    return data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 &&
           data[data.size() - 2] == 0;
}

void WriteValue(std::string_view name, uint32_t type, std::string_view data, std::string& out) {
    size_t lineStart = out.size();
    if (name.empty()) {
        out += '@';
    } else {
        out += '"';
        EscapeUtf8(name, false, out);
        out += '"';
    }
    out += '=';
    if (WritesAsString(type, data)) {
        out += type == 1 ? "\"" : (type == 2 ? "str(2):\"" : "str(7):\"");
        std::u16string units((data.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                                             (static_cast<unsigned char>(data[2 * i + 1]) << 8));
        EscapeUnits(units.data(), units.size(), false, out);
        out += "\"\n";
        return;
    }
    if (type == 4 && data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4)
            out += HexDigits[(number >> shift) & 0xf];
        out += '\n';
        return;
    }
    if (type == 3) {
        out += "hex:";
    } else {
        out += "hex(";
        AppendHex(out, type);
        out += "):";
    }
    // Wine wraps after a byte's comma once the line is longer than 76 characters.
    for (size_t i = 0; i < data.size(); ++i) {
        auto byte = static_cast<unsigned char>(data[i]);
        out += HexDigits[byte >> 4];
        out += HexDigits[byte & 0xf];
        if (i + 1 < data.size()) {
            out += ',';
            if (out.size() - lineStart > 76) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
    out += '\n';
}

} // namespace

std::string Utf16LeToUtf8(std::string_view bytes) {
    // Text of ASCII units only (the common case) is its low bytes, with no pass through UTF-16.
    bool ascii = true;
    for (size_t i = 0; ascii && i + 1 < bytes.size(); i += 2)
        ascii = static_cast<unsigned char>(bytes[i]) < 0x80 && bytes[i + 1] == '\0';
    if (ascii) {
        std::string out(bytes.size() / 2, '\0');
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = bytes[2 * i];
        return out;
    }
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    std::string out;
    UnitsToUtf8(units.data(), units.size(), out);
    return out;
}

std::string Utf8ToUtf16Le(std::string_view text) {
    std::u16string units;
    Utf8ToUnits(text, units);
    std::string out(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        out[2 * i] = static_cast<char>(units[i] & 0xff);
        out[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return out;
}

std::string FoldName(std::string_view name) {
    return WineCaseKey(name);
}

uint64_t CurrentFileTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return FileTimeUnixEpoch + static_cast<uint64_t>(now.tv_sec) * FileTimeTicksPerSecond +
           static_cast<uint64_t>(now.tv_nsec) / 100;
}

// ---------------------------------------------------------------------------------------------- THiveValue

std::string_view THiveValue::Name() const {
    // A name as written in the lines follows the opening quote ('@' for the default value, length 0).
    return {FPlace == TPlace::Lines ? FText + 1 : FText, FNameLength};
}

std::string_view THiveValue::Bytes() const {
    return {FPlace == TPlace::Lines ? FText : FText + FNameLength, FBytesLength};
}

std::string THiveValue::Data() const {
    const std::string_view bytes = Bytes();
    if (FPlace == TPlace::Set)
        return std::string(bytes);
    size_t lineEnd = 0;
    size_t next = 0;
    LineAt(bytes.data(), bytes.size(), 0, lineEnd, next);
    std::string data;
    std::u16string units;
    ReadValueLines(bytes.data(), bytes.size(), 0, lineEnd, next, &data, units);
    return data;
}

bool THiveValue::PlainText(std::string& text) const {
    if (FPlace == TPlace::Set)
        return false;
    const std::string_view bytes = Bytes();
    size_t lineEnd = 0;
    size_t next = 0;
    LineAt(bytes.data(), bytes.size(), 0, lineEnd, next);
    const char* p = bytes.data();
    const char* end = p + lineEnd;
    if (p < end && *p == '"')
        p = SkipEscaped(p + 1, end, '"');
    if (p == nullptr || p >= end || ++p >= end || *p++ != '=')
        return false;
    // The data as the three quoted forms write it: "text", str:"text" and str(type):"text".
    const std::string_view rest(p, static_cast<size_t>(end - p));
    if (rest.starts_with("str:\"")) {
        p += 5;
    } else if (rest.starts_with("str(")) {
        size_t i = 4;
        while (i < rest.size() && IsHex(rest[i]))
            ++i;
        if (i == 4 || rest.substr(i, 3) != "):\"")
            return false;
        p += i + 3;
    } else if (rest.starts_with('"')) {
        p += 1;
    } else {
        return false;
    }
    const char* close = SkipEscaped(p, end, '"');
    if (close == nullptr)
        return false;
    const std::string_view plain(p, static_cast<size_t>(close - p));
    if (!IsPlainAscii(plain) || plain.find('\0') != std::string_view::npos)
        return false;
    text.assign(plain);
    return true;
}

// ---------------------------------------------------------------------------------------------- THiveKey

std::optional<std::string> THiveKey::LinkTarget() const {
    const THiveValue* value = FindValue("SymbolicLinkValue");
    if (value == nullptr || value->Type() != 6)
        return std::nullopt;
    std::string target = Utf16LeToUtf8(value->Data());
    while (!target.empty() && target.back() == '\0')
        target.pop_back();
    return target;
}

std::string_view THiveKey::StoredFolded() const {
    uint32_t length = 0;
    std::memcpy(&length, FName - sizeof length, sizeof length);
    return {FName + FNameLength, length};
}

std::string THiveKey::Folded() const {
    return FAsciiName ? FoldName(Name()) : std::string(StoredFolded());
}

int THiveKey::CompareFolded(std::string_view folded) const {
    if (FAsciiName)
        return CompareAsciiFolded(Name(), folded);
    return StoredFolded().compare(folded);
}

THiveKey* THiveKey::FindChild(std::string_view name) const {
    // Most names are short and ASCII: they fold on the stack, without an allocation.
    static constexpr size_t StackFolded = 128;
    if (name.size() <= StackFolded && IsAscii(name)) {
        char folded[StackFolded];
        for (size_t i = 0; i < name.size(); ++i)
            folded[i] = LowerAscii(name[i]);
        return FindFoldedChild({folded, name.size()});
    }
    return FindFoldedChild(FoldName(name));
}

size_t THiveKey::LowerBound(std::string_view folded) const {
    size_t low = 0;
    size_t high = FChildren.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (FChildren[middle]->CompareFolded(folded) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

THiveKey* THiveKey::FindFoldedChild(std::string_view folded) const {
    static constexpr size_t IndexedChildren = 9;
    if (FChildren.size() >= IndexedChildren) {
        if (!FIndex) {
            FIndex = std::make_unique<TFoldedIndex>();
            FIndex->reserve(FChildren.size());
            for (THiveKey* child : FChildren)
                FIndex->emplace(child->Folded(), child);
        }
        auto it = FIndex->find(folded);
        return it == FIndex->end() ? nullptr : it->second;
    }
    if (FChildrenSorted) {
        const size_t index = LowerBound(folded);
        return index < FChildren.size() && FChildren[index]->CompareFolded(folded) == 0 ? FChildren[index]
                                                                                        : nullptr;
    }
    for (THiveKey* child : FChildren)
        if (child->CompareFolded(folded) == 0)
            return child;
    return nullptr;
}

void THiveKey::ReadPendingValues() const {
    // Keys live in their hive's store, never as const objects: the const here is the caller's view. A key
    // with values to read is in the tree, below the root (a deleted key has none left to read).
    const THiveKey* root = this;
    while (root->FParent != nullptr)
        root = root->FParent;
    static_cast<const THive::TRootKey*>(root)->Hive->ReadValues(const_cast<THiveKey&>(*this));
}

size_t THiveKey::FindValueIndex(std::string_view name) const {
    if (FValuesPending)
        ReadPendingValues();
    // Most lookups name the value in its stored spelling; fold only when that fails.
    for (size_t i = 0; i < FValues.size(); ++i)
        if (FValues[i].Name() == name)
            return i;
    std::string folded = FoldName(name);
    for (size_t i = 0; i < FValues.size(); ++i)
        if (CompareNameFolded(FValues[i].Name(), folded) == 0)
            return i;
    return FValues.size();
}

const THiveValue* THiveKey::FindValue(std::string_view name) const {
    size_t index = FindValueIndex(name);
    return index < FValues.size() ? &FValues[index] : nullptr;
}

// ---------------------------------------------------------------------------------------------- parser

class THive::TParser {
public:
    explicit TParser(THive& hive) : FHive(hive), FText(hive.FSource.data()), FSize(hive.FSource.size()) {}

    void Run();
    // Reads the value lines of Key's block, which Run stepped over.
    void ReadBlock(THiveKey& key);

private:
    void Fail(const char* message) {
        // A block read on its own counts its lines from the line where the failing value begins.
        const size_t line = FLineStart != 0 ? LineNumberAt(FLineStart) + FLineNumber : FLineNumber;
        FHive.Report(line, "line " + std::to_string(line) + ": " + message);
    }
    size_t LineNumberAt(size_t pos) const {
        return 1 + static_cast<size_t>(std::count(FText, FText + pos, '\n'));
    }
    // Sets FLineEnd (without a CR) and FNext (the start of the next line) for the line at FPos.
    void ScanLine() { LineAt(FText, FSize, FPos, FLineEnd, FNext); }
    void FinishBlock() {
        if (FCurrent != nullptr) {
            FCurrent->FBlockEnd = static_cast<uint32_t>(FContentEnd);
            FCurrent->FValues.shrink_to_fit();
        }
        FCurrent = nullptr;
    }
    void KeyLine();
    THiveKey* Component(THiveKey& parent, std::string_view text);
    void OptionLine();
    void ValueLine();
    void StepOverValue();
    void CheckOrder();

    THive& FHive;
    const char* FText;
    size_t FSize;
    size_t FPos = 0;
    size_t FLineEnd = 0;
    size_t FNext = 0;
    size_t FLineNumber = 0;
    size_t FLineStart = 0;  // in a block read on its own: where the value begins; FLineNumber counts from it
    size_t FContentEnd = 0; // end of the last line that is not a gap (blank or comment)
    bool FInBlocks = false;
    bool FSkipBlock = false;   // the block's key line was not understood: its lines are skipped
    bool FValuesSorted = true; // the current block's values so far in folded order
    THiveKey* FCurrent = nullptr;
    // The keys of the previous key line's path, and where each one's text ends in that path.
    std::vector<THiveKey*> FChain;
    std::vector<size_t> FChainEnd;
    std::string_view FPreviousPath;
    std::string_view FLastValueName;
    bool FLastValueAscii = true;
    std::u16string FUnits;
    std::string FUtf8;
    std::string FFolded;
};

void THive::TParser::Run() {
    static constexpr std::string_view Signature = "WINE REGISTRY Version 2";
    static constexpr std::string_view RelativeTo = ";; All keys relative to ";
    if (FSize == 0) {
        FLineNumber = 1;
        Fail("empty file");
        return;
    }
    ScanLine();
    FLineNumber = 1;
    if (std::string_view(FText, FLineEnd) != Signature) {
        Fail("not a registry file");
        FHive.FHeaderEnd = FHive.FTailBegin = FSize;
        return;
    }
    if (FSize > UINT32_MAX) {
        // Places in the text are kept in 32 bits.
        Fail("file too large");
        FHive.FHeaderEnd = FHive.FTailBegin = FSize;
        return;
    }
    FPos = FNext;
    FContentEnd = FPos;
    while (FPos < FSize) {
        ++FLineNumber;
        ScanLine();
        std::string_view line(FText + FPos, FLineEnd - FPos);
        if (line.empty() || line[0] == ';') {
            if (!FInBlocks && line.substr(0, RelativeTo.size()) == RelativeTo) {
                FHive.FRelativeTo = std::string(line.substr(RelativeTo.size()));
                FContentEnd = FNext;
            }
            FPos = FNext;
            continue;
        }
        switch (line[0]) {
        case '[':
            KeyLine();
            break;
        case '#':
            OptionLine();
            break;
        case '@':
        case '"':
            if (FCurrent != nullptr)
                StepOverValue();
            else
                ValueLine();
            break;
        default:
            Fail("line not understood");
            FContentEnd = FNext;
            FPos = FNext;
        }
    }
    FinishBlock();
    if (!FInBlocks)
        FHive.FHeaderEnd = FContentEnd;
    FHive.FTailBegin = FContentEnd;
    CheckOrder();
}

void THive::TParser::KeyLine() {
    if (!FInBlocks) {
        FInBlocks = true;
        FHive.FHeaderEnd = FContentEnd;
    }
    FinishBlock();
    size_t blockBegin = FContentEnd;
    size_t lineStart = FPos;
    FContentEnd = FNext;
    FPos = FNext;
    FSkipBlock = true;
    FValuesSorted = true;

    // The path's components are split at the escaped separators. Those that this path shares with the
    // previous one (the same text up to where each ends) are the same keys: a sorted file is walked without
    // splitting and decoding most of its names again.
    const char* p = FText + lineStart + 1;
    const char* end = FText + FLineEnd;
    const size_t common = CommonLength(std::string_view(p, static_cast<size_t>(end - p)), FPreviousPath);
    size_t reused = 0;
    while (reused < FChainEnd.size() && FChainEnd[reused] <= common)
        ++reused;
    // The closing bracket is the first one not escaped; the search may start where a component ends.
    const char* close = SkipEscaped(p + (reused > 0 ? FChainEnd[reused - 1] : 0), end, ']');
    if (close == nullptr) {
        Fail("key line without ']'");
        return;
    }
    uint64_t unixTime = 0;
    bool hasUnixTime = false;
    const char* q = close + 1;
    while (q < end && (*q == ' ' || *q == '\t'))
        ++q;
    while (q < end && *q >= '0' && *q <= '9') {
        unixTime = unixTime * 10 + static_cast<uint64_t>(*q++ - '0');
        hasUnixTime = true;
    }
    while (q < end && (*q == ' ' || *q == '\t'))
        ++q;
    if (q != end) {
        Fail("text after the key's time");
        return;
    }
    // The last shared component is the same key only if it ends here as well.
    if (reused > 0) {
        const char* componentEnd = p + FChainEnd[reused - 1];
        if (componentEnd != close &&
            !(componentEnd + 1 < close && componentEnd[0] == '\\' && componentEnd[1] == '\\'))
            --reused;
    }
    FChain.resize(reused);
    FChainEnd.resize(reused);
    THiveKey* key = reused > 0 ? FChain.back() : FHive.FRoot;
    const char* c = reused > 0 ? std::min(p + FChainEnd.back() + 2, close) : p;
    while (c < close) {
        const char* componentStart = c;
        c = NextSeparator(c, close);
        std::string_view text(componentStart, static_cast<size_t>(c - componentStart));
        const auto componentEnd = static_cast<size_t>(c - p);
        if (c < close)
            c += 2;
        if (text.empty())
            continue;
        key = Component(*key, text);
        if (key == nullptr) {
            FChain.clear();
            FChainEnd.clear();
            FPreviousPath = {};
            Fail("a key name holds a backslash");
            return;
        }
        FChain.push_back(key);
        FChainEnd.push_back(componentEnd);
    }
    FPreviousPath = std::string_view(p, static_cast<size_t>(close - p));
    if (key->FHasBlock) {
        Fail("a key's block appears twice");
        return;
    }
    key->FHasBlock = true;
    key->FBlockBegin = static_cast<uint32_t>(blockBegin);
    key->FContentBegin = static_cast<uint32_t>(lineStart);
    if (hasUnixTime)
        key->FTime = FileTimeUnixEpoch + unixTime * FileTimeTicksPerSecond;
    FCurrent = key;
    FSkipBlock = false;
}

// The child of Parent that the escaped component Text names, added at the end when it is new; nullptr when
// the name holds a backslash. A plain name stays a view of the text.
THiveKey* THive::TParser::Component(THiveKey& parent, std::string_view text) {
    const bool plain = IsPlainAscii(text);
    std::string_view name = text;
    if (!plain) {
        Unescape(text.data(), text.data() + text.size(), 0, FUnits);
        if (FUnits.find(u'\\') != std::u16string::npos)
            return nullptr;
        UnitsToUtf8(FUnits.data(), FUnits.size(), FUtf8);
        name = FUtf8;
    }
    std::vector<THiveKey*>& children = parent.FChildren;
    // Wine writes siblings in folded order: a name after the last sibling is new.
    bool folded = false;
    bool after = children.empty();
    if (!after && children.back()->FAsciiName && (plain || IsAscii(name))) {
        after = CompareAsciiNames(children.back()->Name(), name) < 0;
    } else if (!after) {
        FoldInto(name, FFolded);
        folded = true;
        after = children.back()->CompareFolded(FFolded) < 0;
    }
    if (!after || !parent.FChildrenSorted) {
        if (!folded)
            FoldInto(name, FFolded);
        if (THiveKey* existing = parent.FindFoldedChild(FFolded))
            return existing;
    }
    THiveKey& child = FHive.NewKey();
    if (plain) {
        child.FName = text.data();
        child.FNameLength = static_cast<uint32_t>(text.size());
    } else {
        FHive.SetName(child, name);
    }
    child.FParent = &parent;
    children.push_back(&child);
    if (parent.FIndex)
        parent.FIndex->emplace(child.Folded(), &child);
    if (!after)
        parent.FChildrenSorted = false;
    return &child;
}

void THive::TParser::OptionLine() {
    std::string_view line(FText + FPos, FLineEnd - FPos);
    FContentEnd = FNext;
    FPos = FNext;
    if (!FInBlocks) {
        if (line.substr(0, 6) != "#arch=")
            Fail("unknown option");
        return;
    }
    if (FSkipBlock)
        return;
    if (FCurrent == nullptr) {
        Fail("option outside a key");
        return;
    }
    if (line.substr(0, 6) == "#time=") {
        uint64_t time = 0;
        size_t i = 6;
        for (; i < line.size() && IsHex(line[i]); ++i)
            time = time * 16 + HexValue(line[i]);
        if (i == 6 || i != line.size())
            Fail("bad #time");
        else
            FCurrent->FTime = time;
    } else if (line.substr(0, 8) == "#class=\"") {
        const char* close = SkipEscaped(line.data() + 8, line.data() + line.size(), '"');
        if (close == nullptr || close + 1 != line.data() + line.size())
            Fail("bad #class");
        else
            FCurrent->FHasClass = true;
    } else if (line == "#link") {
        FCurrent->FIsLink = true;
    } else {
        Fail("unknown option");
    }
}

// A value of the current block, read when its key's values are first used. Only hex data continued over
// lines (a line ending in a backslash) is read now, to find where the value ends: a continuation line may
// start as a key line does.
void THive::TParser::StepOverValue() {
    FCurrent->FValuesPending = true;
    FHive.FAllValuesRead = false;
    size_t next = FNext;
    if (FText[FLineEnd - 1] == '\\') {
        const TValueLines read = ReadValueLines(FText, FSize, FPos, FLineEnd, FNext, nullptr, FUnits);
        FLineNumber += read.Continued;
        next = read.Next;
    }
    FContentEnd = next;
    FPos = next;
}

void THive::TParser::ReadBlock(THiveKey& key) {
    FInBlocks = true;
    FCurrent = &key;
    FPos = key.FContentBegin;
    ScanLine();
    FPos = FNext;
    while (FPos < key.FBlockEnd) {
        ScanLine();
        const char first = FLineEnd > FPos ? FText[FPos] : '\0';
        if (first == '@' || first == '"') {
            FLineStart = FPos;
            FLineNumber = 0;
            ValueLine();
        } else {
            FPos = FNext;
        }
    }
    key.FValues.shrink_to_fit();
}

void THive::TParser::ValueLine() {
    const size_t lineStart = FPos;
    const TValueLines read = ReadValueLines(FText, FSize, FPos, FLineEnd, FNext, nullptr, FUnits);
    FLineNumber += read.Continued;
    FContentEnd = read.Next;
    FPos = read.Next;
    if (!read.Understood) {
        Fail("value line not understood");
        return;
    }
    if (FSkipBlock)
        return;
    if (FCurrent == nullptr) {
        Fail("value outside a key");
        return;
    }
    THiveValue value;
    const std::string_view lines(FText + lineStart, read.Next - lineStart);
    std::string_view escaped(read.NameBegin, static_cast<size_t>(read.NameEnd - read.NameBegin));
    if (IsPlainAscii(escaped)) {
        value.FText = lines.data();
        value.FNameLength = static_cast<uint32_t>(escaped.size());
    } else {
        Unescape(escaped.data(), escaped.data() + escaped.size(), 0, FUnits);
        UnitsToUtf8(FUnits.data(), FUnits.size(), FUtf8);
        value.FText = FHive.Store(FUtf8, lines);
        value.FNameLength = static_cast<uint32_t>(FUtf8.size());
        value.FPlace = THiveValue::TPlace::NamedLines;
    }
    value.FBytesLength = static_cast<uint32_t>(lines.size());
    value.FType = read.Type;
    // Wine writes a key's values in folded order: a name after the last one cannot repeat an earlier one.
    const bool ascii = value.FPlace == THiveValue::TPlace::Lines || IsAscii(value.Name());
    bool after = FCurrent->FValues.empty();
    if (!after && ascii && FLastValueAscii)
        after = CompareAsciiNames(FLastValueName, value.Name()) < 0;
    else if (!after)
        after = FoldName(FLastValueName) < FoldName(value.Name());
    if (!after || !FValuesSorted) {
        if (FCurrent->FindValueIndex(value.Name()) < FCurrent->FValues.size()) {
            Fail("a value appears twice in its key");
            return;
        }
        FValuesSorted = false;
    }
    FLastValueName = value.Name();
    FLastValueAscii = ascii;
    FCurrent->FValues.push_back(value);
}

void THive::TParser::CheckOrder() {
    // Blocks are written in tree order; a file whose blocks lie otherwise could not be written back as it
    // was. The walk also gives back what the children's lists grew beyond their size.
    uint32_t last = 0;
    bool first = true;
    bool ordered = true;
    std::vector<THiveKey*> stack{FHive.FRoot};
    while (!stack.empty()) {
        THiveKey* key = stack.back();
        stack.pop_back();
        if (key->FHasBlock) {
            ordered = ordered && (first || key->FContentBegin > last);
            last = key->FContentBegin;
            first = false;
        }
        key->FChildren.shrink_to_fit();
        for (auto it = key->FChildren.rbegin(); it != key->FChildren.rend(); ++it)
            stack.push_back(*it);
    }
    if (!ordered)
        FHive.Report(OrderProblemLine, "line 0: blocks are not in tree order");
}

// ---------------------------------------------------------------------------------------------- THive

THive::THive() = default;

THive::TKeyBlock::TKeyBlock(size_t count) : Keys(std::allocator<THiveKey>().allocate(count)), Count(count) {
    static constexpr size_t PopulatedKeys = 1024;
    if (count >= PopulatedKeys)
        PopulatePages(Keys, count * sizeof(THiveKey));
    std::uninitialized_value_construct_n(Keys, count);
}

THive::TKeyBlock::~TKeyBlock() {
    if (Keys == nullptr)
        return;
    std::destroy_n(Keys, Count);
    std::allocator<THiveKey>().deallocate(Keys, Count);
}

THiveKey& THive::NewKey() {
    static constexpr size_t FirstBlockKeys = 64;
    static constexpr size_t LargestBlockKeys = 8192;
    if (FKeysLeft == 0) {
        FKeys.emplace_back(FKeys.empty() ? FirstBlockKeys
                                         : std::min(FKeys.back().Count * 2, LargestBlockKeys));
        FKeysLeft = FKeys.back().Count;
    }
    const TKeyBlock& block = FKeys.back();
    return block.Keys[block.Count - FKeysLeft--];
}

bool THive::Complete() const {
    ReadAllValues();
    return FComplete;
}

const std::string& THive::Problem() const {
    ReadAllValues();
    return FProblem;
}

void THive::Report(size_t line, const std::string& problem) {
    if (FComplete || line < FProblemLine) {
        FComplete = false;
        FProblem = problem;
        FProblemLine = line;
    }
}

void THive::ReadValues(THiveKey& key) {
    key.FValuesPending = false;
    TParser parser(*this);
    parser.ReadBlock(key);
}

void THive::ReadAllValues() const {
    if (FAllValuesRead)
        return;
    // A hive is never a const object: the const here is the caller's view of it.
    auto& hive = const_cast<THive&>(*this);
    hive.FAllValuesRead = true;
    if (FRoot->FValuesPending)
        hive.ReadValues(*FRoot);
    for (const TKeyBlock& block : FKeys)
        for (size_t i = 0; i < block.Count; ++i)
            if (block.Keys[i].FValuesPending)
                hive.ReadValues(block.Keys[i]);
}

const char* THive::Store(std::string_view first, std::string_view second) {
    static constexpr size_t ChunkSize = 64 * 1024;
    const size_t size = first.size() + second.size();
    if (size == 0)
        return "";
    char* place = nullptr;
    if (size > ChunkSize / 4) {
        // A large text gets a block of its own, so that the current block's rest stays in use.
        FArena.push_back(std::make_unique<char[]>(size));
        place = FArena.back().get();
    } else {
        if (size > FArenaLeft) {
            FArena.push_back(std::make_unique<char[]>(ChunkSize));
            FArenaNext = FArena.back().get();
            FArenaLeft = ChunkSize;
        }
        place = FArenaNext;
        FArenaNext += size;
        FArenaLeft -= size;
    }
    std::memcpy(place, first.data(), first.size());
    if (!second.empty())
        std::memcpy(place + first.size(), second.data(), second.size());
    return place;
}

void THive::SetName(THiveKey& key, std::string_view name) {
    key.FNameLength = static_cast<uint32_t>(name.size());
    key.FAsciiName = IsAscii(name);
    if (key.FAsciiName) {
        key.FName = Store(name);
        return;
    }
    std::string stored = FoldName(name);
    const auto length = static_cast<uint32_t>(stored.size());
    stored.insert(0, name);
    stored.insert(0, reinterpret_cast<const char*>(&length), sizeof length);
    key.FName = Store(stored) + sizeof length;
}

std::unique_ptr<THive> THive::Parse(std::string text) {
    auto hive = std::make_unique<THive>();
    hive->FSource = std::move(text);
    TParser parser(*hive);
    parser.Run();
    return hive;
}

std::string THive::Text() const {
    std::string out;
    out.reserve(FSource.size() + 4096);
    out.append(FSource, 0, FHeaderEnd);
    WriteKey(*FRoot, out);
    if (FTailBegin < FSource.size()) {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out.append(FSource, FTailBegin, std::string::npos);
    }
    return out;
}

void THive::WriteKey(const THiveKey& key, std::string& out) const {
    bool root = &key == FRoot;
    // Like Wine: a key with values, without subkeys, a link or a class has a block; others exist through
    // their subkeys. A block that the file had stays.
    bool block = key.FHasBlock || !key.FValues.empty() ||
                 (!root && (key.FChildren.empty() || key.FIsLink || key.FHasClass));
    if (block)
        WriteBlock(key, out);
    for (const THiveKey* child : key.FChildren)
        WriteKey(*child, out);
}

void THive::WriteBlock(const THiveKey& key, std::string& out) const {
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    if (key.FHasBlock && !key.FDirty) {
        out.append(FSource, key.FBlockBegin, key.FBlockEnd - key.FBlockBegin);
        return;
    }
    if (key.FValuesPending)
        key.ReadPendingValues();
    if (key.FHasBlock)
        out.append(FSource, key.FBlockBegin, key.FContentBegin - key.FBlockBegin);
    else
        out += '\n';
    out += '[';
    if (key.FHasBlock) {
        // The escaped path as the key line gave it, up to its closing bracket.
        const char* path = FSource.data() + key.FContentBegin + 1;
        const char* close = path;
        while (*close != ']')
            close += *close == '\\' ? 2 : 1;
        out.append(path, close);
    } else {
        std::vector<const THiveKey*> path;
        for (const THiveKey* k = &key; k != FRoot && k != nullptr; k = k->FParent)
            path.push_back(k);
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (it != path.rbegin())
                out += "\\\\";
            EscapeUtf8((*it)->Name(), true, out);
        }
    }
    out += "] ";
    uint64_t unixSeconds =
        key.FTime > FileTimeUnixEpoch ? (key.FTime - FileTimeUnixEpoch) / FileTimeTicksPerSecond : 0;
    out += std::to_string(unixSeconds);
    out += "\n#time=";
    AppendHex(out, key.FTime);
    out += '\n';
    if (key.FHasClass)
        WriteClass(key, out);
    if (key.FIsLink)
        out += "#link\n";
    for (const THiveValue& value : key.FValues) {
        if (value.FromSource()) {
            out += value.Bytes();
            if (out.back() != '\n')
                out += '\n';
        } else {
            WriteValue(value.Name(), value.Type(), value.Bytes(), out);
        }
    }
}

// The class line as the key's block in the file gave it (the last one, when it gave several).
void THive::WriteClass(const THiveKey& key, std::string& out) const {
    static constexpr std::string_view Option = "#class=\"";
    std::string_view line;
    size_t pos = key.FContentBegin;
    while (pos < key.FBlockEnd) {
        size_t lineEnd = 0;
        size_t next = 0;
        LineAt(FSource.data(), key.FBlockEnd, pos, lineEnd, next);
        std::string_view candidate(FSource.data() + pos, lineEnd - pos);
        if (candidate.substr(0, Option.size()) == Option)
            line = candidate;
        pos = next;
    }
    out += line;
    out += '\n';
}

void THive::Touch(THiveKey& key, uint64_t time) {
    key.FTime = time != 0 ? time : CurrentFileTime();
}

THiveKey& THive::CreateKey(THiveKey& parent, const std::string& name, uint64_t time) {
    if (THiveKey* existing = parent.FindChild(name))
        return *existing;
    THiveKey& key = NewKey();
    SetName(key, name);
    key.FParent = &parent;
    key.FDirty = true;
    Touch(key, time);
    Touch(parent, time);
    const std::string folded = FoldName(name);
    std::vector<THiveKey*>& children = parent.FChildren;
    size_t position = 0;
    if (parent.FChildrenSorted) {
        position = parent.LowerBound(folded);
    } else {
        auto later = std::find_if(children.begin(), children.end(),
                                  [&](const THiveKey* child) { return child->CompareFolded(folded) > 0; });
        position = static_cast<size_t>(later - children.begin());
    }
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(position), &key);
    if (parent.FIndex)
        parent.FIndex->emplace(folded, &key);
    return key;
}

bool THive::DeleteKey(THiveKey& key, uint64_t time) {
    THiveKey* parent = key.FParent;
    if (parent == nullptr)
        return false;
    auto it = std::find(parent->FChildren.begin(), parent->FChildren.end(), &key);
    if (it == parent->FChildren.end())
        return false;
    parent->FChildren.erase(it);
    if (parent->FIndex)
        parent->FIndex->erase(key.Folded());
    Touch(*parent, time);
    // The keys stay in the hive's store; what they hold goes now.
    std::vector<THiveKey*> removed{&key};
    while (!removed.empty()) {
        THiveKey* gone = removed.back();
        removed.pop_back();
        removed.insert(removed.end(), gone->FChildren.begin(), gone->FChildren.end());
        std::vector<THiveKey*>().swap(gone->FChildren);
        std::vector<THiveValue>().swap(gone->FValues);
        gone->FValuesPending = false;
        gone->FIndex.reset();
        gone->FParent = nullptr;
    }
    return true;
}

void THive::SetValue(THiveKey& key, const std::string& name, uint32_t type, std::string data, uint64_t time) {
    size_t index = key.FindValueIndex(name);
    const bool exists = index < key.FValues.size();
    // The value keeps the spelling of its name that it had.
    const std::string spelling = exists ? std::string(key.FValues[index].Name()) : name;
    THiveValue value;
    value.FText = Store(spelling, data);
    value.FNameLength = static_cast<uint32_t>(spelling.size());
    value.FBytesLength = static_cast<uint32_t>(data.size());
    value.FType = type;
    value.FPlace = THiveValue::TPlace::Set;
    if (exists) {
        key.FValues[index] = value;
    } else {
        // The default value comes first, the others sorted without regard to case.
        std::string folded = FoldName(name);
        auto position = key.FValues.begin();
        if (!name.empty())
            position = std::find_if(key.FValues.begin(), key.FValues.end(), [&](const THiveValue& other) {
                return !other.Name().empty() && CompareNameFolded(other.Name(), folded) > 0;
            });
        key.FValues.insert(position, value);
    }
    key.FDirty = true;
    Touch(key, time);
}

bool THive::DeleteValue(THiveKey& key, const std::string& name, uint64_t time) {
    size_t index = key.FindValueIndex(name);
    if (index >= key.FValues.size())
        return false;
    key.FValues.erase(key.FValues.begin() + static_cast<std::ptrdiff_t>(index));
    key.FDirty = true;
    Touch(key, time);
    return true;
}

} // namespace platform
