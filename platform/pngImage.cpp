#include "platform/pngImage.h"

#include <algorithm>
#include <cstdlib>
#include <vector>
#include <zlib.h>

namespace platform {

namespace {

uint32_t GetBig32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
unsigned GetBig16(const uint8_t* p) {
    return (unsigned{p[0]} << 8) | p[1];
}

// Inflates exactly Expected bytes; a stream that gives fewer is damaged, one that gives more is cut off at
// the size the header promises (as decoders do).
bool Inflate(const std::vector<uint8_t>& compressed, size_t expected, std::vector<uint8_t>& out) {
    out.assign(expected, 0);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(expected);
    int result = Z_OK;
    while (result == Z_OK && stream.avail_out > 0)
        result = inflate(&stream, Z_NO_FLUSH);
    const bool complete = stream.avail_out == 0 && (result == Z_OK || result == Z_STREAM_END);
    inflateEnd(&stream);
    return complete;
}

uint8_t Paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left), toUp = std::abs(estimate - up),
              toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft)
        return static_cast<uint8_t>(left);
    return static_cast<uint8_t>(toUp <= toUpLeft ? up : upLeft);
}

bool Unfilter(std::vector<uint8_t>& raw, size_t rows, size_t rowBytes, size_t pixelBytes) {
    const size_t stride = rowBytes + 1;
    for (size_t y = 0; y < rows; ++y) {
        uint8_t* row = raw.data() + y * stride + 1;
        const uint8_t* previous = y > 0 ? raw.data() + (y - 1) * stride + 1 : nullptr;
        const uint8_t filter = row[-1];
        for (size_t i = 0; i < rowBytes; ++i) {
            const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
            const int up = previous != nullptr ? previous[i] : 0;
            const int upLeft = previous != nullptr && i >= pixelBytes ? previous[i - pixelBytes] : 0;
            int predictor = 0;
            switch (filter) {
            case 0:
                break;
            case 1:
                predictor = left;
                break;
            case 2:
                predictor = up;
                break;
            case 3:
                predictor = (left + up) / 2;
                break;
            case 4:
                predictor = Paeth(left, up, upLeft);
                break;
            default:
                return false;
            }
            row[i] = static_cast<uint8_t>(row[i] + predictor);
        }
    }
    return true;
}

} // namespace

bool DecodePng(std::span<const uint8_t> data, TIconImage& image, int maxSide) {
    image = {};
    static constexpr uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (data.size() < 8 || !std::equal(signature, signature + 8, data.begin()))
        return false;
    uint32_t width = 0, height = 0;
    unsigned depth = 0, colorType = 0;
    bool haveHeader = false;
    std::vector<uint8_t> compressed, palette, transparency;
    for (size_t at = 8; at + 12 <= data.size();) {
        const uint32_t length = GetBig32(&data[at]);
        if (length > data.size() - at - 12)
            return false;
        const uint8_t* type = &data[at + 4];
        const uint8_t* body = &data[at + 8];
        auto is = [&](const char* name) { return std::equal(type, type + 4, name); };
        if (is("IHDR")) {
            if (length < 13)
                return false;
            width = GetBig32(body);
            height = GetBig32(body + 4);
            depth = body[8];
            colorType = body[9];
            if (body[10] != 0 || body[11] != 0 || body[12] != 0) // deflate, standard filters, not interlaced
                return false;
            haveHeader = true;
        } else if (is("PLTE")) {
            palette.assign(body, body + length);
        } else if (is("tRNS")) {
            transparency.assign(body, body + length);
        } else if (is("IDAT")) {
            compressed.insert(compressed.end(), body, body + length);
        } else if (is("IEND")) {
            break;
        }
        at += size_t{length} + 12;
    }
    if (!haveHeader || width == 0 || height == 0 || width > static_cast<uint32_t>(maxSide) ||
        height > static_cast<uint32_t>(maxSide))
        return false;
    unsigned channels = 0;
    switch (colorType) {
    case 0:
        channels = 1;
        break;
    case 2:
        channels = 3;
        break;
    case 3:
        channels = 1;
        break;
    case 4:
        channels = 2;
        break;
    case 6:
        channels = 4;
        break;
    default:
        return false;
    }
    const bool depthValid = colorType == 0
                                ? (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)
                            : colorType == 3 ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                                             : (depth == 8 || depth == 16);
    if (!depthValid || (colorType == 3 && (palette.empty() || palette.size() % 3 != 0)))
        return false;

    const size_t rowBytes = (size_t{width} * channels * depth + 7) / 8;
    const size_t pixelBytes = std::max<size_t>(1, channels * depth / 8);
    std::vector<uint8_t> raw;
    if (!Inflate(compressed, (rowBytes + 1) * height, raw) || !Unfilter(raw, height, rowBytes, pixelBytes))
        return false;

    // Samples at the stored depth, so that a transparent colour compares as the file gives it.
    auto sample = [&](const uint8_t* row, size_t index) -> unsigned {
        if (depth == 16)
            return GetBig16(row + index * 2);
        if (depth == 8)
            return row[index];
        const size_t bit = index * depth;
        return (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
    };
    auto to8 = [&](unsigned value) -> uint32_t {
        switch (depth) {
        case 16:
            return value >> 8;
        case 8:
            return value;
        default:
            return value * 255 / ((1u << depth) - 1);
        }
    };
    image.Width = static_cast<int>(width);
    image.Height = static_cast<int>(height);
    image.Pixels.assign(size_t{width} * height, 0);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = raw.data() + y * (rowBytes + 1) + 1;
        for (size_t x = 0; x < width; ++x) {
            uint32_t red = 0, green = 0, blue = 0, alpha = 255;
            if (colorType == 3) {
                const unsigned index = sample(row, x);
                if (size_t{index} * 3 + 2 < palette.size()) {
                    red = palette[index * 3];
                    green = palette[index * 3 + 1];
                    blue = palette[index * 3 + 2];
                }
                alpha = index < transparency.size() ? transparency[index] : 255;
            } else if (colorType == 0 || colorType == 4) {
                const unsigned gray = sample(row, x * channels);
                red = green = blue = to8(gray);
                if (colorType == 4)
                    alpha = to8(sample(row, x * channels + 1));
                else if (transparency.size() >= 2 && gray == GetBig16(transparency.data()))
                    alpha = 0;
            } else {
                const unsigned r = sample(row, x * channels), g = sample(row, x * channels + 1),
                               b = sample(row, x * channels + 2);
                red = to8(r);
                green = to8(g);
                blue = to8(b);
                if (colorType == 6)
                    alpha = to8(sample(row, x * channels + 3));
                else if (transparency.size() >= 6 && r == GetBig16(transparency.data()) &&
                         g == GetBig16(transparency.data() + 2) && b == GetBig16(transparency.data() + 4))
                    alpha = 0;
            }
            image.Pixels[y * width + x] = (alpha << 24) | (red << 16) | (green << 8) | blue;
        }
    }
    return true;
}

} // namespace platform
