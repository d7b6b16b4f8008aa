// BMP: the Windows and OS/2 bitmap file format.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <utility>

#include "imaging/Bitmap.h"
#include "imaging/ByteSource.h"
#include "imaging/Failure.h"

namespace imaging::bmp {

inline constexpr std::uint16_t kSignature = 0x4D42;  // "BM", little-endian
inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::uint32_t kCoreHeaderSize = 12;    // OS/2 1.x BITMAPCOREHEADER
inline constexpr std::uint32_t kOs2v2HeaderSize = 64;   // OS/2 2.x
inline constexpr std::uint32_t kInfoHeaderSize = 40;    // BITMAPINFOHEADER
inline constexpr std::uint32_t kV2InfoHeaderSize = 52;  // with RGB masks
inline constexpr std::uint32_t kV3InfoHeaderSize = 56;  // with RGBA masks
inline constexpr std::uint32_t kV4HeaderSize = 108;
inline constexpr std::uint32_t kV5HeaderSize = 124;

inline constexpr std::uint32_t kCompressionRgb = 0;
inline constexpr std::uint32_t kCompressionRle8 = 1;
inline constexpr std::uint32_t kCompressionRle4 = 2;
inline constexpr std::uint32_t kCompressionBitFields = 3;
inline constexpr std::uint32_t kCompressionJpeg = 4;
inline constexpr std::uint32_t kCompressionPng = 5;
inline constexpr std::uint32_t kCompressionAlphaBitFields = 6;

// True when the bytes start like a BMP file.
bool Sniff(std::span<const std::uint8_t> bytes);

// The width and height Decode would give, from the headers alone; a failure exactly when Decode
// refuses the file for its content, with the same reason (Decode can fail beyond that only for
// want of memory).
Result<std::pair<int, int>> ReadSize(const ByteSource& source);
Result<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> bytes);

// Decodes a whole BMP file into a 24-bit bitmap; a failure for anything malformed, truncated, or
// beyond the size limits. With `greyscale` every row is turned grey as it is decoded, exactly as
// the full greyscale effect (GreyscalePixels) turns the decoded bitmap, and the bitmap is marked
// grey. Uncompressed rows are read from the source a block at a time.
Result<Bitmap> Decode(const ByteSource& source, bool greyscale = false);
Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, bool greyscale = false);

// Writes the bitmap as a BMP file at its depth: 24-bit, 16-bit (5-5-5) or 8-bit with a palette,
// RLE8-compressed when the bitmap's rleCompression switch is on. False on a write error.
bool Encode(const Bitmap& bitmap, std::FILE* out);

}  // namespace imaging::bmp
