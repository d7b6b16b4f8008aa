// PNG through libpng.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "imaging/Bitmap.h"

namespace imaging::png {

inline constexpr std::size_t kSignatureSize = 8;

// Encoder settings: zlib level 6 with libpng's per-row adaptive choice among all five filters
// (the PNG_ALL_FILTERS mask) and zlib's strategy for filtered data. See PngCodec.cpp for the
// measurements behind them.
inline constexpr int kCompressionLevel = 6;
inline constexpr int kFilterMask = 0xF8;

// True when the bytes start with the PNG signature.
bool Sniff(std::span<const std::uint8_t> bytes);

// Decodes any PNG (grey, palette, 16-bit, interlaced, with transparency composited onto white)
// into a 24-bit bitmap; nothing on any error or beyond the size limits.
std::optional<Bitmap> Decode(std::span<const std::uint8_t> bytes);

// Writes the bitmap as an 8-bit RGB PNG, Adam7-interlaced when asked. False on any error.
bool Encode(const Bitmap& bitmap, bool interlace, std::FILE* out);

}  // namespace imaging::png
