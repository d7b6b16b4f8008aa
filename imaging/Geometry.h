// Edits that change an image's size or orientation. They work on the 24-bit pixels only; the
// caller restores the image's depth afterwards.
#pragma once

#include <cstdint>
#include <optional>

#include "imaging/Bitmap.h"

namespace imaging {

// The part of the bitmap inside the rectangle, intersected with the bitmap; nothing when the
// intersection is empty or width or height is below 1. Coordinates may be anything, negative
// included, without overflow.
std::optional<Bitmap> Crop(const Bitmap& source, std::int64_t left, std::int64_t top,
                           std::int64_t width, std::int64_t height);

// Turns the bitmap clockwise by angleThousandths / 1000 degrees (any value; taken modulo 360°).
// The canvas grows to hold the whole turned image and the uncovered area takes `background`.
// Multiples of 90° move pixels exactly. False (bitmap unchanged) when the grown canvas would be
// beyond the size limits or memory runs out.
bool Rotate(Bitmap& bitmap, std::int64_t angleThousandths, Rgb background);

// Turns a bitmap stored in EXIF orientation 2 to 8 upright (2 mirrored, 3 upside down, 4 upside
// down and mirrored, 5 turned a quarter counter-clockwise and mirrored, 6 turned a quarter
// counter-clockwise, 7 turned a quarter clockwise and mirrored, 8 turned a quarter clockwise).
// Any other value leaves the bitmap. False (bitmap unchanged) when memory runs out.
bool Orient(Bitmap& bitmap, int orientation);

// Scales to exactly width × height: area averaging in a direction that shrinks, bilinear in one
// that enlarges. False (bitmap unchanged) for a size below 1 or beyond the limits.
bool Resize(Bitmap& bitmap, std::int64_t width, std::int64_t height);

}  // namespace imaging
