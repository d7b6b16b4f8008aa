// Palette choice for images with more colours than an 8-bit palette holds.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/Bitmap.h"

namespace imaging {

// Chooses at most 256 colours for the bitmap's pixels and fills `indices` (one per pixel, already
// sized to the pixel count) with the index of each pixel's nearest chosen colour. Every returned
// colour is used by some pixel. Meant for bitmaps with more than 256 distinct colours; throws
// std::bad_alloc when memory runs out, which the caller turns into its failure value.
std::vector<Rgb> QuantizeColors(const Bitmap& bitmap, std::vector<std::uint8_t>& indices);

}  // namespace imaging
