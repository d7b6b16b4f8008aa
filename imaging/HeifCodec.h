// HEIF (HEVC-coded, the HEIC of phone photos) and AVIF (AV1-coded) through libheif: the primary
// image of the file, tiled grids decoded whole.
#pragma once

#include <cstdint>
#include <span>
#include <utility>

#include "imaging/Bitmap.h"
#include "imaging/ByteSource.h"
#include "imaging/Failure.h"
#include "imaging/PhotoMetadata.h"

namespace imaging::heif {

// The file-type box that opens every HEIF file: its size, "ftyp", the major brand and a minor
// version, then the compatible brands, four bytes each.
inline constexpr std::size_t kFtypHeaderSize = 16;
inline constexpr std::size_t kBrandSize = 4;
// A box header: a 32-bit size and a four-character type; a size of 1 puts a 64-bit size after it.
inline constexpr std::size_t kBoxHeaderSize = 8;
inline constexpr std::size_t kLargeBoxHeaderSize = 16;
// The 'meta' box read to learn the primary image's codec is held to this size.
inline constexpr std::uint64_t kMaxMetaBoxBytes = std::uint64_t{16} << 20;
// libheif's own limit on either side of an image, set explicitly so that no build of the library
// allows more; it is below kMaxImageSide.
inline constexpr int kLibraryMaxSide = 32768;
// An EXIF or XMP item claiming more than this is not read (a JPEG output carries 64 KB of each).
inline constexpr std::size_t kMaxMetadataItemBytes = std::size_t{16} << 20;
// The EXIF item starts with the 32-bit offset of the TIFF header that follows it.
inline constexpr std::size_t kExifOffsetSize = 4;

// The coding a file's brands name: HEVC (heic, heix, heim, heis, hevc, hevx), AV1 (avif, avis),
// or, for the codec-neutral brands mif1 and msf1 alone, whatever codes the primary image.
enum class Codec { kNone, kHevc, kAv1, kByPrimaryImage };

// The codec the file-type box at the start of the bytes names, major brand first, then the
// compatible brands in order.
Codec Sniff(std::span<const std::uint8_t> bytes);

// The codec of the primary image, from the item that 'pitm' names in the 'meta' box (for a grid or
// another derived image, the first coded item); kNone when the boxes do not say.
Codec PrimaryImageCodec(const ByteSource& source);

// The width and height of the primary image as Decode gives it (turned and cut), from the boxes
// alone; refused, with libheif's reason or the limit's, for a file without a primary still image,
// one whose boxes do not read, or one beyond the size limits, among them the pictures its coded
// streams, grids and overlays claim, each held to its item's size.
Result<std::pair<int, int>> ReadSize(const ByteSource& source);

// Decodes the primary image into a 24-bit bitmap, turned by its rotation and mirror properties
// (irot, imir) and cut by its clean aperture unless `storedOrientation`: 10- and 12-bit samples
// rounded to 8 bits, alpha composited onto white, a monochrome image marked grey. Refused, with
// the reason, for a file without a primary still image, a damaged one, or one beyond the size
// limits (checked from the headers before any pixel is decoded). With `metadata` given, it receives the image's EXIF
// data (from its TIFF header on), XMP packet and ICC profile; a colour described by an nclx box
// gives no profile.
Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, bool storedOrientation = false,
                      PhotoMetadata* metadata = nullptr);

}  // namespace imaging::heif
