#pragma once

#include "platform/peResources.h"

#include <cstdint>
#include <span>

namespace platform {

// Decodes a PNG as icons store it (Windows keeps 256-pixel images, and some tools every size, as PNG): any
// colour type and bit depth, with a palette or a transparent colour, not interlaced, at most MaxSide
// pixels each way. False for anything else or for a damaged file.
bool DecodePng(std::span<const uint8_t> data, TIconImage& image, int maxSide = 1024);

} // namespace platform
