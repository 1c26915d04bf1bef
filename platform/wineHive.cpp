#include "platform/wineHive.h"

#include "platform/unicodeCase.h"

#include <algorithm>
#include <cstring>
#include <ctime>

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

std::string_view Span(const std::string& source, size_t begin, size_t length) {
    return std::string_view(source).substr(begin, length);
}

bool WritesAsString(uint32_t type, const std::string& data) {
    if (type != 1 && type != 2 && type != 7)
        return false;
    return data.size() >= 2 && data.size() % 2 == 0 && data[data.size() - 1] == 0 &&
           data[data.size() - 2] == 0;
}

void WriteValue(const THiveValue& value, std::string& out) {
    size_t lineStart = out.size();
    if (value.Name.empty()) {
        out += '@';
    } else {
        out += '"';
        EscapeUtf8(value.Name, false, out);
        out += '"';
    }
    out += '=';
    if (WritesAsString(value.Type, value.Data)) {
        out += value.Type == 1 ? "\"" : (value.Type == 2 ? "str(2):\"" : "str(7):\"");
        std::u16string units((value.Data.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(value.Data[2 * i]) |
                                             (static_cast<unsigned char>(value.Data[2 * i + 1]) << 8));
        EscapeUnits(units.data(), units.size(), false, out);
        out += "\"\n";
        return;
    }
    if (value.Type == 4 && value.Data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.Data[static_cast<size_t>(i)]);
        out += "dword:";
        for (int shift = 28; shift >= 0; shift -= 4)
            out += HexDigits[(number >> shift) & 0xf];
        out += '\n';
        return;
    }
    if (value.Type == 3) {
        out += "hex:";
    } else {
        out += "hex(";
        AppendHex(out, value.Type);
        out += "):";
    }
    // Wine wraps after a byte's comma once the line is longer than 76 characters.
    for (size_t i = 0; i < value.Data.size(); ++i) {
        auto byte = static_cast<unsigned char>(value.Data[i]);
        out += HexDigits[byte >> 4];
        out += HexDigits[byte & 0xf];
        if (i + 1 < value.Data.size()) {
            out += ',';
            if (out.size() - lineStart > 76) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
    out += '\n';
}

int CompareFolded(const std::string& a, const std::string& b) {
    return a.compare(b);
}

} // namespace

std::string Utf16LeToUtf8(std::string_view bytes) {
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

// ---------------------------------------------------------------------------------------------- THiveKey

std::optional<std::string> THiveKey::LinkTarget() const {
    const THiveValue* value = FindValue("SymbolicLinkValue");
    if (value == nullptr || value->Type != 6)
        return std::nullopt;
    std::string target = Utf16LeToUtf8(value->Data);
    while (!target.empty() && target.back() == '\0')
        target.pop_back();
    return target;
}

THiveKey* THiveKey::FindChild(std::string_view name) const {
    return FindFoldedChild(FoldName(name));
}

THiveKey* THiveKey::FindFoldedChild(const std::string& folded) const {
    if (FChildren.size() > 8) {
        if (!FIndex) {
            FIndex = std::make_unique<std::unordered_map<std::string, THiveKey*>>();
            FIndex->reserve(FChildren.size() * 2);
            for (const auto& child : FChildren)
                FIndex->emplace(child->FFolded, child.get());
        }
        auto it = FIndex->find(folded);
        return it == FIndex->end() ? nullptr : it->second;
    }
    for (const auto& child : FChildren)
        if (child->FFolded == folded)
            return child.get();
    return nullptr;
}

size_t THiveKey::FindValueIndex(std::string_view name) const {
    // Most lookups name the value in its stored spelling; fold only when that fails.
    for (size_t i = 0; i < FValues.size(); ++i)
        if (FValues[i].Name == name)
            return i;
    std::string folded = FoldName(name);
    for (size_t i = 0; i < FValues.size(); ++i)
        if (FoldName(FValues[i].Name) == folded)
            return i;
    return FValues.size();
}

const THiveValue* THiveKey::FindValue(std::string_view name) const {
    size_t index = FindValueIndex(name);
    return index < FValues.size() ? &FValues[index] : nullptr;
}

THiveKey* THiveKey::AddChild(std::unique_ptr<THiveKey> child, size_t position) {
    child->FParent = this;
    THiveKey* raw = child.get();
    FChildren.insert(FChildren.begin() + static_cast<std::ptrdiff_t>(position), std::move(child));
    IndexChild(raw);
    return raw;
}

void THiveKey::IndexChild(THiveKey* child) {
    if (FIndex)
        FIndex->emplace(child->FFolded, child);
}

// ---------------------------------------------------------------------------------------------- parser

class THive::TParser {
public:
    explicit TParser(THive& hive) : FHive(hive), FText(hive.FSource.data()), FSize(hive.FSource.size()) {}

    void Run();

private:
    void Fail(const char* message) {
        if (FHive.FComplete) {
            FHive.FComplete = false;
            FHive.FProblem = "line " + std::to_string(FLineNumber) + ": " + message;
        }
    }
    // Sets FLineEnd (without a CR) and FNext (the start of the next line) for the line at FPos.
    void ScanLine() {
        const void* newline = std::memchr(FText + FPos, '\n', FSize - FPos);
        size_t end =
            newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - FText) : FSize;
        FNext = newline != nullptr ? end + 1 : FSize;
        if (end > FPos && FText[end - 1] == '\r')
            --end;
        FLineEnd = end;
    }
    void FinishBlock() {
        if (FCurrent != nullptr)
            FCurrent->FBlockEnd = FContentEnd;
        FCurrent = nullptr;
    }
    void KeyLine();
    void OptionLine();
    void ValueLine();
    bool HexBytes(const char*& p, std::string& data);
    void CheckOrder();

    THive& FHive;
    const char* FText;
    size_t FSize;
    size_t FPos = 0;
    size_t FLineEnd = 0;
    size_t FNext = 0;
    size_t FLineNumber = 0;
    size_t FContentEnd = 0; // end of the last line that is not a gap (blank or comment)
    bool FInBlocks = false;
    bool FSkipBlock = false; // the block's key line was not understood: its lines are skipped
    THiveKey* FCurrent = nullptr;
    uint32_t FOrder = 0;
    std::vector<THiveKey*> FChain;
    std::vector<std::string_view> FChainText;
    std::u16string FUnits;
    std::string FUtf8;
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

    const char* p = FText + lineStart + 1;
    const char* end = FText + FLineEnd;
    const char* close = p;
    while (close < end && *close != ']')
        close += *close == '\\' ? 2 : 1;
    if (close >= end) {
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

    // Components are split at the escaped separators. A component spelled as the previous block's at the same
    // depth is the same key, so a sorted file is walked without decoding most of its names again.
    THiveKey* key = FHive.FRoot.get();
    size_t depth = 0;
    const char* c = p;
    while (c < close) {
        const char* componentStart = c;
        while (c < close && !(c[0] == '\\' && c + 1 < close && c[1] == '\\'))
            c += *c == '\\' ? 2 : 1;
        std::string_view text(componentStart, static_cast<size_t>(c - componentStart));
        if (c < close)
            c += 2;
        if (text.empty())
            continue;
        if (depth < FChain.size() && FChainText[depth] == text) {
            key = FChain[depth++];
            continue;
        }
        FChain.resize(depth);
        FChainText.resize(depth);
        Unescape(text.data(), text.data() + text.size(), 0, FUnits);
        if (FUnits.find(u'\\') != std::u16string::npos) {
            FChain.clear();
            FChainText.clear();
            Fail("a key name holds a backslash");
            return;
        }
        UnitsToUtf8(FUnits.data(), FUnits.size(), FUtf8);
        std::string folded = FoldName(FUtf8);
        THiveKey* child = key->FindFoldedChild(folded);
        if (child == nullptr) {
            auto fresh = std::make_unique<THiveKey>();
            fresh->FName = FUtf8;
            fresh->FFolded = std::move(folded);
            child = key->AddChild(std::move(fresh), key->FChildren.size());
        }
        key = child;
        FChain.push_back(key);
        FChainText.push_back(text);
        ++depth;
    }
    FChain.resize(depth);
    FChainText.resize(depth);
    if (key->FHasBlock) {
        Fail("a key's block appears twice");
        return;
    }
    key->FHasBlock = true;
    key->FBlockBegin = blockBegin;
    key->FContentBegin = lineStart;
    key->FPathBegin = static_cast<size_t>(p - FText);
    key->FPathLength = static_cast<size_t>(close - p);
    key->FOrder = FOrder++;
    if (hasUnixTime)
        key->FTime = FileTimeUnixEpoch + unixTime * FileTimeTicksPerSecond;
    FCurrent = key;
    FSkipBlock = false;
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
        const char* begin = line.data() + 8;
        const char* close = Unescape(begin, line.data() + line.size(), '"', FUnits);
        if (close == nullptr || close + 1 != line.data() + line.size())
            Fail("bad #class");
        else
            FCurrent->FClass = std::string(begin, close);
    } else if (line == "#link") {
        FCurrent->FIsLink = true;
    } else {
        Fail("unknown option");
    }
}

bool THive::TParser::HexBytes(const char*& p, std::string& data) {
    const char* end = FText + FLineEnd;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p == end)
            return true;
        if (*p == '\\' && p + 1 == end) {
            // Continued on the next line, after its indentation.
            if (FNext >= FSize)
                return false;
            FPos = FNext;
            ++FLineNumber;
            ScanLine();
            p = FText + FPos;
            end = FText + FLineEnd;
            continue;
        }
        if (!IsHex(*p))
            return false;
        unsigned byte = HexValue(*p++);
        if (p < end && IsHex(*p))
            byte = byte * 16 + HexValue(*p++);
        data += static_cast<char>(byte);
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p < end && *p == ',')
            ++p;
        else if (p < end && !(*p == '\\' && p + 1 == end))
            return false;
    }
}

void THive::TParser::ValueLine() {
    size_t lineStart = FPos;
    const char* p = FText + FPos;
    const char* end = FText + FLineEnd;
    THiveValue value;
    bool understood = false;
    if (*p == '@') {
        ++p;
        understood = true;
    } else {
        const char* close = Unescape(p + 1, end, '"', FUnits);
        if (close != nullptr) {
            UnitsToUtf8(FUnits.data(), FUnits.size(), value.Name);
            p = close + 1;
            understood = true;
        }
    }
    understood = understood && p < end && *p == '=';
    if (understood) {
        ++p;
        std::string_view rest(p, static_cast<size_t>(end - p));
        auto stringData = [&](uint32_t type, size_t skip) {
            const char* close = Unescape(p + skip, end, '"', FUnits);
            if (close == nullptr)
                return false;
            value.Type = type;
            value.Data.resize(FUnits.size() * 2 + 2);
            for (size_t i = 0; i < FUnits.size(); ++i) {
                value.Data[2 * i] = static_cast<char>(FUnits[i] & 0xff);
                value.Data[2 * i + 1] = static_cast<char>(FUnits[i] >> 8);
            }
            value.Data[value.Data.size() - 2] = value.Data[value.Data.size() - 1] = '\0';
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
            value.Type = 4;
            value.Data.resize(4);
            for (size_t b = 0; b < 4; ++b)
                value.Data[b] = static_cast<char>((number >> (8 * b)) & 0xff);
            p += i;
        } else if (rest.substr(0, 4) == "hex:") {
            value.Type = 3;
            p += 4;
            understood = HexBytes(p, value.Data);
            end = FText + FLineEnd;
        } else if (rest.substr(0, 4) == "hex(" && typeNumber(4, type, length)) {
            value.Type = type;
            p += length;
            understood = HexBytes(p, value.Data);
            end = FText + FLineEnd;
        } else {
            understood = false;
        }
        while (understood && p < end && (*p == ' ' || *p == '\t'))
            ++p;
        understood = understood && p == end;
    }
    FContentEnd = FNext;
    FPos = FNext;
    if (!understood) {
        Fail("value line not understood");
        return;
    }
    if (FSkipBlock)
        return;
    if (FCurrent == nullptr) {
        Fail("value outside a key");
        return;
    }
    if (FCurrent->FindValueIndex(value.Name) < FCurrent->FValues.size()) {
        Fail("a value appears twice in its key");
        return;
    }
    value.SourceBegin = lineStart;
    value.SourceLength = FNext - lineStart;
    FCurrent->FValues.push_back(std::move(value));
}

void THive::TParser::CheckOrder() {
    // Blocks are written in tree order; a file whose blocks lie otherwise could not be written back as it
    // was.
    uint32_t last = 0;
    bool first = true;
    bool ordered = true;
    std::vector<const THiveKey*> stack{FHive.FRoot.get()};
    while (!stack.empty() && ordered) {
        const THiveKey* key = stack.back();
        stack.pop_back();
        if (key->FHasBlock) {
            ordered = first || key->FOrder > last;
            last = key->FOrder;
            first = false;
        }
        for (auto it = key->FChildren.rbegin(); it != key->FChildren.rend(); ++it)
            stack.push_back(it->get());
    }
    if (!ordered) {
        FLineNumber = 0;
        Fail("blocks are not in tree order");
    }
}

// ---------------------------------------------------------------------------------------------- THive

THive::THive() : FRoot(std::make_unique<THiveKey>()) {}

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
    bool root = &key == FRoot.get();
    // Like Wine: a key with values, without subkeys, a link or a class has a block; others exist through
    // their subkeys. A block that the file had stays.
    bool block = key.FHasBlock || !key.FValues.empty() ||
                 (!root && (key.FChildren.empty() || key.FIsLink || key.FClass.has_value()));
    if (block)
        WriteBlock(key, out);
    for (const auto& child : key.FChildren)
        WriteKey(*child, out);
}

void THive::WriteBlock(const THiveKey& key, std::string& out) const {
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    if (key.FHasBlock && !key.FDirty) {
        out.append(FSource, key.FBlockBegin, key.FBlockEnd - key.FBlockBegin);
        return;
    }
    if (key.FHasBlock)
        out.append(FSource, key.FBlockBegin, key.FContentBegin - key.FBlockBegin);
    else
        out += '\n';
    out += '[';
    if (key.FHasBlock) {
        out += Span(FSource, key.FPathBegin, key.FPathLength);
    } else {
        std::vector<const THiveKey*> path;
        for (const THiveKey* k = &key; k != FRoot.get() && k != nullptr; k = k->FParent)
            path.push_back(k);
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (it != path.rbegin())
                out += "\\\\";
            EscapeUtf8((*it)->FName, true, out);
        }
    }
    out += "] ";
    uint64_t unixSeconds =
        key.FTime > FileTimeUnixEpoch ? (key.FTime - FileTimeUnixEpoch) / FileTimeTicksPerSecond : 0;
    out += std::to_string(unixSeconds);
    out += "\n#time=";
    AppendHex(out, key.FTime);
    out += '\n';
    if (key.FClass) {
        out += "#class=\"";
        out += *key.FClass;
        out += "\"\n";
    }
    if (key.FIsLink)
        out += "#link\n";
    for (const THiveValue& value : key.FValues) {
        if (value.SourceLength > 0) {
            out += Span(FSource, value.SourceBegin, value.SourceLength);
            if (out.back() != '\n')
                out += '\n';
        } else {
            WriteValue(value, out);
        }
    }
}

void THive::Touch(THiveKey& key, uint64_t time) {
    key.FTime = time != 0 ? time : CurrentFileTime();
}

THiveKey& THive::CreateKey(THiveKey& parent, const std::string& name, uint64_t time) {
    if (THiveKey* existing = parent.FindChild(name))
        return *existing;
    auto key = std::make_unique<THiveKey>();
    key->FName = name;
    key->FFolded = FoldName(name);
    key->FDirty = true;
    Touch(*key, time);
    Touch(parent, time);
    auto position = std::find_if(parent.FChildren.begin(), parent.FChildren.end(), [&](const auto& child) {
        return CompareFolded(child->FFolded, key->FFolded) > 0;
    });
    return *parent.AddChild(std::move(key), static_cast<size_t>(position - parent.FChildren.begin()));
}

bool THive::DeleteKey(THiveKey& key, uint64_t time) {
    THiveKey* parent = key.FParent;
    if (parent == nullptr)
        return false;
    auto it = std::find_if(parent->FChildren.begin(), parent->FChildren.end(),
                           [&](const auto& child) { return child.get() == &key; });
    if (it == parent->FChildren.end())
        return false;
    if (parent->FIndex)
        parent->FIndex->erase(key.FFolded);
    parent->FChildren.erase(it);
    Touch(*parent, time);
    return true;
}

void THive::SetValue(THiveKey& key, const std::string& name, uint32_t type, std::string data, uint64_t time) {
    size_t index = key.FindValueIndex(name);
    if (index < key.FValues.size()) {
        THiveValue& value = key.FValues[index];
        value.Type = type;
        value.Data = std::move(data);
        value.SourceLength = 0;
    } else {
        THiveValue value;
        value.Name = name;
        value.Type = type;
        value.Data = std::move(data);
        // The default value comes first, the others sorted without regard to case.
        std::string folded = FoldName(name);
        auto position = key.FValues.begin();
        if (!name.empty())
            position = std::find_if(key.FValues.begin(), key.FValues.end(), [&](const THiveValue& other) {
                return !other.Name.empty() && CompareFolded(FoldName(other.Name), folded) > 0;
            });
        key.FValues.insert(position, std::move(value));
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
