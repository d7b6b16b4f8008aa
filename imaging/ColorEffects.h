// Colour effects on the 24-bit pixels. The formulas are those documented with the entry points in
// Imaging.h; the caller restores the image's depth afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/Bitmap.h"

namespace imaging {

void MakeGreyscale(Bitmap& bitmap, int strength);
// Full-strength greyscale of `count` consecutive red, green, blue pixels: each channel becomes the
// BT.601 luma (299 R + 587 G + 114 B) / 1000, rounded. MakeGreyscale at strength 255 is exactly
// this.
void GreyscalePixels(std::uint8_t* pixels, std::size_t count);
void TintRgb(Bitmap& bitmap, int redPercent, int greenPercent, int bluePercent);
void ScaleRgb(Bitmap& bitmap, int redPerMille, int greenPerMille, int bluePerMille);
void AdjustClarityRgb(Bitmap& bitmap, int redAmount, int greenAmount, int blueAmount);
// tables: 768 bytes, red table, green table, blue table.
void ApplyLookupTables(Bitmap& bitmap, const std::uint8_t* tables);

}  // namespace imaging
