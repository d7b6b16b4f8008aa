// PNG through libpng.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <utility>

#include "imaging/Bitmap.h"
#include "imaging/ByteSource.h"
#include "imaging/EncodedOutput.h"
#include "imaging/Failure.h"
#include "imaging/PhotoMetadata.h"

namespace imaging::png {

inline constexpr std::size_t kSignatureSize = 8;

// Encoder settings, chosen per image by what it is (see PngCodec.cpp for the measurements behind
// them). An image counts as flat graphics when, on rows sampled across it, more than half of the
// pixels equal their left neighbour (screenshots and line art score 0.75 and more, photos below
// 0.15). The image data is compressed in one piece by libdeflate when its filtered rows take at
// most kWholeImageBytes and no interlacing is asked for; otherwise libpng streams it through zlib.
struct DeflateSettings {
  int filter;       // a libpng PNG_FILTER_* mask: the filter of every row
  int wholeLevel;   // libdeflate's compression level
  int streamLevel;  // zlib's compression level
};
// Photos: every row filtered by its difference to the row above, or by the filter ChooseSettings
// finds best for the image.
inline constexpr DeflateSettings kPhotoSettings{0x20, 2, 3};
// Photos with sensor noise: each row's filter chosen for it, and libdeflate's thorough search.
inline constexpr DeflateSettings kNoisyPhotoSettings{0xF8, 10, 7};
// A photo whose best filter leaves residuals above this mean (per byte) counts as noisy: clean
// photos measure 2 to 5, photos with visible sensor noise 10 and more, and 7 lies between.
inline constexpr std::uint64_t kNoisyMeanResidual = 7;
// Flat graphics: rows unfiltered.
inline constexpr DeflateSettings kFlatSettings{0x08, 6, 6};
inline constexpr std::size_t kWholeImageBytes = std::size_t{32} << 20;
DeflateSettings ChooseSettings(const Bitmap& bitmap);

// True when the bytes start with the PNG signature.
bool Sniff(std::span<const std::uint8_t> bytes);

// The width and height from the headers up to the image data; a failure when they are refused or
// the size is beyond the limits. (Only the decode itself checks the image data.)
// With `metadata` given, it receives the colour profile (iCCP), the EXIF data (eXIf) and the XMP
// packet (iTXt "XML:com.adobe.xmp") of the chunks before the image data, unchecked.
Result<std::pair<int, int>> ReadSize(const ByteSource& source, PhotoMetadata* metadata = nullptr);
Result<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> bytes);

// Decodes any PNG (grey, palette, 16-bit, interlaced, with transparency composited onto white)
// into a 24-bit bitmap; a failure with libpng's message on any error, or beyond the size limits.
// The file is read from its source a block at a time.
Result<Bitmap> Decode(const ByteSource& source, PhotoMetadata* metadata = nullptr);
Result<Bitmap> Decode(std::span<const std::uint8_t> bytes);

// Writes the bitmap as an 8-bit RGB PNG, Adam7-interlaced when asked, with the metadata in iCCP,
// eXIf and iTXt chunks after the header. False on any error.
bool Encode(const Bitmap& bitmap, bool interlace, EncodedOutput& out,
            const PhotoMetadata& metadata = {});
bool Encode(const Bitmap& bitmap, bool interlace, std::FILE* out);

}  // namespace imaging::png
