#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The class library's text helpers. Case changes and comparisons touch only the ASCII letters, byte by byte.

// Leading and trailing characters of code 0 to 32 removed.
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
std::string LowerCase(const std::string& s);
std::string UpperCase(const std::string& s);
// <0, 0 or >0 ignoring ASCII case.
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
// Case-insensitive search of Needle in Haystack (ASCII); npos when absent.
size_t FindText(const std::string& haystack, const std::string& needle);

std::string IntToStr(long long value);
// Upper-case hexadecimal with at least Digits digits.
std::string IntToHex(unsigned long long value, int digits);
// Decimal, or hexadecimal with a 0x, 0X or $ prefix, an optional sign before either; anything else (blanks,
// trailing characters, overflow of 32 bits) gives Default.
int StrToIntDef(const std::string& s, int defaultValue);
bool TryStrToInt(const std::string& s, int& value);

// Windows path pieces. ExtractFilePath keeps the trailing backslash (or colon); ExtractFileName is what
// follows it.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);
std::string IncludeTrailingBackslash(const std::string& path);
std::string ExcludeTrailingBackslash(const std::string& path);

// Replaces every occurrence of From in S, left to right, without searching replaced text again.
std::string StringReplaceAll(const std::string& s, const std::string& from, const std::string& to);

} // namespace platform

namespace platform {

// The class library's input/output error, raised by whole-file text writes that fail.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace platform
