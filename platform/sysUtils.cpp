#include "platform/sysUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace platform {

namespace {
bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}
char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsPathDelimiter(char c) {
    return c == '\\' || c == ':';
}
} // namespace

std::string TrimLeft(const std::string& s) {
    size_t first = 0;
    while (first < s.size() && IsTrimmed(s[first]))
        ++first;
    return s.substr(first);
}

std::string TrimRight(const std::string& s) {
    size_t last = s.size();
    while (last > 0 && IsTrimmed(s[last - 1]))
        --last;
    return s.substr(0, last);
}

std::string Trim(const std::string& s) {
    size_t first = 0;
    size_t last = s.size();
    while (first < last && IsTrimmed(s[first]))
        ++first;
    while (last > first && IsTrimmed(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

std::string LowerCase(const std::string& s) {
    std::string result = s;
    for (char& c : result)
        c = AsciiLower(c);
    return result;
}

std::string UpperCase(const std::string& s) {
    std::string result = s;
    for (char& c : result)
        c = AsciiUpper(c);
    return result;
}

int CompareText(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
        auto cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

size_t FindText(const std::string& haystack, const std::string& needle) {
    return LowerCase(haystack).find(LowerCase(needle));
}

std::string IntToStr(long long value) {
    return std::to_string(value);
}

std::string IntToHex(unsigned long long value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), hex[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(text.size()) < digits)
        text.insert(text.begin(), '0');
    return text;
}

bool TryStrToInt(const std::string& s, int& value) {
    size_t pos = 0;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+'))
        negative = s[pos++] == '-';
    int base = 10;
    if (pos < s.size() && s[pos] == '$') {
        base = 16;
        ++pos;
    } else if (pos + 1 < s.size() && s[pos] == '0' && (s[pos + 1] == 'x' || s[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= s.size())
        return false;
    unsigned long long magnitude = 0;
    for (; pos < s.size(); ++pos) {
        char c = AsciiLower(s[pos]);
        int digit = (c >= '0' && c <= '9')                 ? c - '0'
                    : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                           : -1;
        if (digit < 0)
            return false;
        magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    if (base == 10) {
        long long signedValue =
            negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
        if (signedValue < INT_MIN || signedValue > INT_MAX)
            return false;
        value = static_cast<int>(signedValue);
    } else {
        // Hexadecimal text names the 32 bits of the number, as the class library reads it.
        auto bits = static_cast<unsigned int>(magnitude);
        // Negated in unsigned arithmetic: the lowest int ("-$80000000") has no positive counterpart.
        value = static_cast<int>(negative ? 0u - bits : bits);
    }
    return true;
}

int StrToIntDef(const std::string& s, int defaultValue) {
    int value = 0;
    return TryStrToInt(s, value) ? value : defaultValue;
}

std::string ExtractFilePath(const std::string& path) {
    size_t i = path.size();
    while (i > 0 && !IsPathDelimiter(path[i - 1]))
        --i;
    return path.substr(0, i);
}

std::string ExtractFileName(const std::string& path) {
    return path.substr(ExtractFilePath(path).size());
}

std::string ExtractFileExt(const std::string& path) {
    std::string name = ExtractFileName(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string IncludeTrailingBackslash(const std::string& path) {
    return (!path.empty() && path.back() == '\\') ? path : path + "\\";
}

std::string ExcludeTrailingBackslash(const std::string& path) {
    return (!path.empty() && path.back() == '\\') ? path.substr(0, path.size() - 1) : path;
}

std::string StringReplaceAll(const std::string& s, const std::string& from, const std::string& to) {
    if (from.empty())
        return s;
    std::string result;
    size_t start = 0;
    for (size_t hit = s.find(from); hit != std::string::npos; hit = s.find(from, start)) {
        result.append(s, start, hit - start);
        result += to;
        start = hit + from.size();
    }
    result.append(s, start, std::string::npos);
    return result;
}

} // namespace platform
