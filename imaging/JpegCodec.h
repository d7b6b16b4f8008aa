// JPEG through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "imaging/Bitmap.h"

namespace imaging::jpeg {

// True when the bytes start like a JPEG file (SOI marker followed by another marker).
bool Sniff(std::span<const std::uint8_t> bytes);

// Decodes baseline, progressive, greyscale and CMYK files into a 24-bit bitmap; nothing on any
// error, beyond the size limits, or for a progressive file of more than kMaxJpegScans scans.
std::optional<Bitmap> Decode(std::span<const std::uint8_t> bytes);

// Writes the bitmap as a JFIF file of the given quality (0..100, clamped), progressive when asked.
// False on any library or write error.
bool Encode(const Bitmap& bitmap, int quality, bool progressive, std::FILE* out);

}  // namespace imaging::jpeg
