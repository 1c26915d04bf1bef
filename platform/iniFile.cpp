#include "platform/iniFile.h"

#include "platform/profileFile.h"
#include "platform/sysUtils.h"

namespace platform {

namespace {
// The class library reads every key into a buffer of this many characters.
constexpr size_t ReadBufferSize = 2048;
} // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    return GetPrivateProfileString(section, key, defaultValue, FFileName, ReadBufferSize);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const {
    return StrToIntDef(ReadString(section, key, ""), defaultValue);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    if (!WritePrivateProfileString(section, key, value, FFileName))
        throw EIniFileException("Unable to write to " + FFileName);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

} // namespace platform
