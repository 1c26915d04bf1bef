#include "common/publicFun.h"

#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/sysUtils.h"

#include <array>

namespace {

constexpr std::array<unsigned char, 5> InstallDayKey = {0x05, 0x02, 0x09, 0x03, 0x06};

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

// ---- Settings file ----

void WriteDefaultSettings(const std::string& fileName) {
    platform::TDateTime now = platform::Now();
    const std::string lines[] = {
        "[Settings]",
        "View Style=2",
        "Hidden RightTips=0",
        "Hidden Process=0",
        "Auto Update=0",
        "Delete Update=1",
        "Windows Startup=0",
        "Startup Minimize=0",
        "[Update Information]",
        "Last Time=" + platform::FormatDateTime(LastTimeFormat, now),
        "Install Day=" + EncodeSettingText(platform::FormatDateTime(InstallDayFormat, now)),
    };
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    if (!platform::WriteWholeFile(fileName, text))
        throw platform::EInOutError("Cannot write the file " + fileName);
}

std::string XorScramble(const std::string& s) {
    std::string result = s;
    for (size_t i = 0; i < result.size(); ++i) {
        // Character positions count from 1, key positions from 0.
        auto key = InstallDayKey[(i + 1) % InstallDayKey.size()];
        result[i] = static_cast<char>(static_cast<unsigned char>(result[i]) ^ key);
    }
    return result;
}

std::string StrToHex(const std::string& s) {
    std::string hex;
    hex.reserve(s.size() * 2);
    for (char c : s)
        hex += platform::IntToHex(static_cast<unsigned char>(c), 2);
    return hex;
}

std::string HexToStr(const std::string& hex) {
    std::string s;
    size_t p = 0;
    while (p < hex.size()) {
        while (p < hex.size() && HexDigitValue(hex[p]) < 0)
            ++p;
        if (p >= hex.size())
            break;
        int value = HexDigitValue(hex[p]);
        if (p + 1 < hex.size() && HexDigitValue(hex[p + 1]) >= 0)
            value = value * 16 + HexDigitValue(hex[p + 1]);
        s += static_cast<char>(value);
        p += 2;
    }
    return s;
}

std::string EncodeSettingText(const std::string& s) {
    return StrToHex(XorScramble(s));
}

std::string DecodeSettingText(const std::string& s) {
    return XorScramble(HexToStr(s));
}
