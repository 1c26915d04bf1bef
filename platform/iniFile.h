#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

// The INI class's error: "Unable to write to %s".
class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The class library's INI-file class over the profile functions: one key per call, nothing cached.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

    const std::string& FileName() const { return FFileName; }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Decimal, or hexadecimal with a 0x or $ prefix; anything else gives Default.
    int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    // Throws EIniFileException "Unable to write to <file>" when the write fails.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

private:
    std::string FFileName;
};

} // namespace platform
