// Colour effects on the 24-bit pixels. The formulas are those documented with the entry points in
// Imaging.h; the caller restores the image's depth afterwards.
#pragma once

#include <cstdint>

#include "imaging/Bitmap.h"

namespace imaging {

void MakeGreyscale(Bitmap& bitmap, int strength);
void TintRgb(Bitmap& bitmap, int redPercent, int greenPercent, int bluePercent);
void ScaleRgb(Bitmap& bitmap, int redPerMille, int greenPerMille, int bluePerMille);
void AdjustClarityRgb(Bitmap& bitmap, int redAmount, int greenAmount, int blueAmount);
// tables: 768 bytes, red table, green table, blue table.
void ApplyLookupTables(Bitmap& bitmap, const std::uint8_t* tables);

}  // namespace imaging
