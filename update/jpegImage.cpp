#include "update/jpegImage.h"

#include <memory>
#include <turbojpeg.h>

bool DecodeJpeg(std::string_view data, TJpegImage& image) {
    image = TJpegImage{};
    std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    if (!decoder || data.empty())
        return false;
    auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const auto size = static_cast<unsigned long>(data.size());
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourSpace = 0;
    if (tjDecompressHeader3(decoder.get(), bytes, size, &width, &height, &subsampling, &colourSpace) != 0)
        return false;
    if (width <= 0 || height <= 0 || width > MaxJpegSide || height > MaxJpegSide)
        return false;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    // A warning (damaged but decodable data) still gives a whole picture.
    if (tjDecompress2(decoder.get(), bytes, size, rgb.data(), width, 0, height, TJPF_RGB,
                      TJFLAG_ACCURATEDCT) != 0 &&
        tjGetErrorCode(decoder.get()) != TJERR_WARNING)
        return false;
    image.Width = width;
    image.Height = height;
    image.Rgb = std::move(rgb);
    return true;
}
