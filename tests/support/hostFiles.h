#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// Small helpers of the tests that look at a machine's files from the Linux side.

// The whole content of a file on the Linux side, or empty text when it cannot be read.
inline std::string ReadHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// One message box as a test's handler received it.
struct TRecordedBox {
    std::string Text, Caption;
    uint32_t Flags = 0;
};
