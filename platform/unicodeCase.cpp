#include "platform/unicodeCase.h"

#include <cstdint>
#include <unicode/uchar.h>

namespace platform {

namespace {

// The unit that stands for a byte that is not part of valid UTF-8 (a lone low surrogate, which valid
// UTF-8 cannot carry).
constexpr uint32_t EscapedByteBase = 0xDC00;

// Appends one 16-bit unit in UTF-8's form, surrogates included: the byte order of the encoded units is the
// order of the units.
void AppendUnit(std::string& out, uint32_t unit) {
    if (unit < 0x80) {
        out += static_cast<char>(unit);
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | (unit >> 6));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (unit >> 12));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

uint32_t LowerUnit(uint32_t unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    auto lower = static_cast<uint32_t>(u_tolower(static_cast<UChar32>(unit)));
    // A simple mapping never leaves the basic plane for a unit of it; were it to, the unit stays.
    return lower <= 0xFFFF ? lower : unit;
}

// Decodes one code point of valid UTF-8 at Text[Pos] (shortest form, no surrogates, at most U+10FFFF);
// false for anything else, with Pos unchanged.
bool DecodeCodePoint(std::string_view text, size_t& pos, uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    size_t length = 0;
    uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return false;
    }
    if (pos + length > text.size())
        return false;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (next & 0x3F);
    }
    const bool shortest = (length == 3 && value >= 0x800) || (length == 4 && value >= 0x10000) || length == 2;
    if (!shortest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return false;
    pos += length;
    codePoint = value;
    return true;
}

} // namespace

std::string WineCaseKey(std::string_view utf8) {
    // Most names are ASCII: their key is the name with A to Z lowered, made in one copy.
    size_t pos = 0;
    while (pos < utf8.size() && static_cast<unsigned char>(utf8[pos]) < 0x80)
        ++pos;
    std::string key(utf8.substr(0, pos));
    for (char& c : key)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    if (pos == utf8.size())
        return key;
    key.reserve(utf8.size());
    while (pos < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[pos]);
        if (byte < 0x80) {
            key += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 0x20 : byte);
            ++pos;
            continue;
        }
        uint32_t codePoint = 0;
        if (!DecodeCodePoint(utf8, pos, codePoint)) {
            AppendUnit(key, EscapedByteBase + byte);
            ++pos;
        } else if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            AppendUnit(key, 0xD800 + (codePoint >> 10));
            AppendUnit(key, 0xDC00 + (codePoint & 0x3FF));
        } else {
            AppendUnit(key, LowerUnit(codePoint));
        }
    }
    return key;
}

} // namespace platform
