// WebP through libwebp: lossy (VP8), lossless (VP8L) and extended (VP8X) files, of an animation
// the first frame.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "imaging/Bitmap.h"
#include "imaging/Failure.h"
#include "imaging/PhotoMetadata.h"

namespace imaging::webp {

// "RIFF", the 32-bit little-endian size of what follows, "WEBP", then the first chunk's type.
inline constexpr std::size_t kRiffHeaderSize = 12;
inline constexpr std::size_t kSniffBytes = 16;
// A WebP's EXIF chunk holds the TIFF structure; some writers put JPEG's "Exif\0\0" before it.
inline constexpr std::size_t kExifPrefixSize = 6;

// The leading bytes ReadSize is given: enough for the canvas of an extended file and the frame
// header of a simple one.
inline constexpr std::size_t kHeaderProbeBytes = 4096;

// True when the bytes start as a WebP file whose first chunk is VP8, VP8L or VP8X.
bool Sniff(std::span<const std::uint8_t> bytes);

// The canvas size from the leading bytes of a file (kHeaderProbeBytes or the whole file, if
// shorter); refused, with the reason, when the headers do not read or the size is beyond the
// limits.
Result<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> leadingBytes);

// Decodes the still image, or the first frame of an animation drawn on its canvas, into a 24-bit
// bitmap, alpha composited onto white. Refused, with the reason, for a damaged file or one beyond
// the size limits (checked from the headers before any pixel is decoded). With `metadata` given, it receives the
// EXIF (from its TIFF header on), XMP and ICCP chunks.
Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, PhotoMetadata* metadata = nullptr);

}  // namespace imaging::webp
