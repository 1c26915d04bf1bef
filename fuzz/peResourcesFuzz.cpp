// Any bytes as a PE image, an ELF program, an .ico file, an icon image and a version block: the readers
// must give a sound answer or none, and never read outside what they were given.
#include "platform/peImage.h"
#include "platform/peResources.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace platform;
    const std::span<const uint8_t> bytes(data, size);
    const TBufferSource source(bytes);
    for (int index : {0, 1, -1, -2}) {
        TIconImage large, small;
        const int found = ExtractIconPairFrom(source, index, large, small);
        if (found != (large.Empty() ? 0 : 1) + (small.Empty() ? 0 : 1))
            __builtin_trap();
        if (!large.Empty() && (large.Width != 32 || large.Pixels.size() != 32 * 32))
            __builtin_trap();
        if (!small.Empty() && (small.Width != 16 || small.Pixels.size() != 16 * 16))
            __builtin_trap();
    }
    std::vector<uint8_t> block, value;
    if (ReadVersionBlock(source, block)) {
        VerQueryValue(block, "\\", value);
        VerQueryValue(block, "\\VarFileInfo\\Translation", value);
        VerQueryValue(block, "\\StringFileInfo\\040904B0\\FileVersion", value);
    }
    const std::vector<uint8_t> raw(bytes.begin(), bytes.end());
    VerQueryValue(raw, "\\StringFileInfo\\040904B0\\FileVersion", value);
    VerQueryValue(raw, "\\", value);
    TDecodedIcon icon;
    if (DecodeIconImage(bytes, icon)) {
        const auto& image = icon.Image;
        if (image.Pixels.size() != static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height))
            __builtin_trap();
        ScaleIconImage(image, 32, 32);
    }
    return 0;
}
