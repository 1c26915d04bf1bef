#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// A decoded JPEG picture: rows of red, green and blue bytes, top row first.
struct TJpegImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb;
};

// The largest picture a window's JPEG may be, a guard against a header that claims a huge one.
inline constexpr int MaxJpegSide = 4096;

// Decodes JPEG data with libjpeg-turbo; false (and Image empty) when the data is not a JPEG it can decode
// or the picture is larger than MaxJpegSide on a side.
bool DecodeJpeg(std::string_view data, TJpegImage& image);
