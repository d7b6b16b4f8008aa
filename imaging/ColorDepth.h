// Colour-depth states of a bitmap: 24-bit, 16-bit 5-5-5, and 8-bit with a palette.
#pragma once

#include "imaging/Bitmap.h"

namespace imaging {

// Back to plain 24-bit colour (the pixels already hold the shown colours); drops palette, indices
// and the RLE switch.
void ExpandTo24(Bitmap& bitmap);

// 5 bits per channel: each channel keeps its top 5 bits, widened back to 8 bits for display.
void ReduceTo16(Bitmap& bitmap);

// At most 256 colours. A bitmap with at most 256 distinct colours keeps each exactly; any other
// gets a palette cut from the colour histogram (boxes split where they leave the least variance,
// then refined toward the mean of the colours nearest each entry) and each pixel its palette entry.
// The RLE switch is kept. False when memory runs out (bitmap unchanged).
bool ReduceTo8(Bitmap& bitmap);

// After an edit that worked on the 24-bit pixels of a bitmap that was at `depth`: brings the bitmap
// back to that depth, keeping its RLE switch (which only a BMP save of an 8-bit image uses).
void RestoreDepth(Bitmap& bitmap, ColorDepth depth, bool rleCompression);

}  // namespace imaging
