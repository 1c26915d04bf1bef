#pragma once

#include <string>

namespace platform {

// The Windows profile (INI) file functions over a file given by its full Windows path. Sections and keys
// are found without regard to case; blanks around a value are dropped; a read is cut to BufferSize - 1
// characters. A new key is appended to its section, a new section to the end of the file; lines end with
// CR LF. A write replaces the file atomically, and writers of one file are serialised, so that two programs
// writing different keys at once lose neither.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName,
                                    size_t bufferSize = 2048);
// False when the file cannot be written.
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName);

} // namespace platform
