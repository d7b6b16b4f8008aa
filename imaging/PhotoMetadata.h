// What a photo carries beside its pixels: its EXIF data, its XMP packet and its ICC colour
// profile. The codecs only hand over the raw JPEG segments and PNG chunks that hold them; reading,
// checking and rewriting the metadata happens here, in one place for every format.
//
// Metadata are untrusted input, read with every offset and count checked against the bytes that
// are there. What does not parse is dropped; the photo still converts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace imaging {

// The largest payload of a JPEG APP segment (its length field counts itself).
inline constexpr std::size_t kMaxSegmentBytes = 65533;
// The largest colour profile kept, however it is stored.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{16} << 20;

// How a load treats what a photo (JPEG or PNG) carries beside its pixels.
struct PhotoHandling {
  // A photo whose EXIF orientation is 2 to 8 is turned upright as it loads, and every later call
  // sees the upright image; its saves say orientation 1. Otherwise the pixels stay as stored and
  // the orientation tag as it is.
  bool autoOrient = true;
  // JPEG and PNG saves write the photo's EXIF data, XMP packet and colour profile (BMP saves
  // never do). The EXIF pixel size gives the saved size, and a thumbnail is dropped once the
  // pixels are no longer those stored; a profile of another colour space than the output's (a
  // CMYK profile, a grey one for colour output) is left out.
  bool keepMetadata = true;
  // The output cannot carry the photo's RGB colour profile (a BMP or table-art output, or one
  // written without metadata): a photo whose profile is not sRGB has its pixels converted from
  // it to sRGB as they decode (ColorProfile.h). A CMYK JPEG's profile, which no output carries,
  // is converted through whatever this says.
  bool convertToSrgb = false;
  friend bool operator==(const PhotoHandling&, const PhotoHandling&) = default;
};

// JPEG markers of the segments that carry metadata.
inline constexpr int kMarkerApp1 = 0xE1;  // EXIF and XMP
inline constexpr int kMarkerApp2 = 0xE2;  // the colour profile, split into numbered chunks

// The iTXt keyword under which PNG files keep their XMP packet.
inline constexpr std::string_view kPngXmpKeyword = "XML:com.adobe.xmp";

// One APP segment of a JPEG file: its marker and its payload (what follows the length field).
struct JpegSegment {
  int marker = 0;
  std::vector<std::uint8_t> payload;
};

// The colour space a profile describes, as far as an output cares.
enum class ProfileSpace { kNone, kRgb, kGrey, kOther };

struct PhotoMetadata {
  // The TIFF structure of the EXIF data (from its byte-order mark on), as PNG's eXIf chunk holds
  // it and as a JPEG's APP1 segment holds it after "Exif\0\0".
  std::vector<std::uint8_t> exif;
  // The XMP packet.
  std::vector<std::uint8_t> xmp;
  // The whole ICC profile.
  std::vector<std::uint8_t> icc;

  bool Empty() const { return exif.empty() && xmp.empty() && icc.empty(); }
};

// The metadata of a JPEG file from its APP1 and APP2 segments in file order: the first EXIF and
// the first XMP segment, and the profile reassembled from every ICC chunk (dropped when a chunk is
// missing, repeated or numbered inconsistently). Then checked as CheckedMetadata does.
PhotoMetadata MetadataFromJpegSegments(std::span<const JpegSegment> segments);

// Keeps what parses and fits: EXIF whose first directory reads within its bytes, an ICC profile
// whose header is sound and whose declared size is its size, at most kMaxProfileBytes; anything
// else is emptied.
void CheckMetadata(PhotoMetadata& metadata);

// The EXIF orientation, 1 to 8: 1 when the data, the tag or its value is missing, malformed or
// out of range.
int ExifOrientation(std::span<const std::uint8_t> exif);

// The colour space named in a profile's header.
ProfileSpace ProfileSpaceOf(std::span<const std::uint8_t> icc);

// What happened to an image between its load and its save, as far as its metadata care.
struct OutputFacts {
  int width = 0;
  int height = 0;
  // The pixels were turned upright at load: the orientation tags say 1 now.
  bool turnedUpright = false;
  // The pixels are still exactly those the file stored: an embedded thumbnail still matches.
  bool pixelsAsStored = true;
  // The colour space the output is written in (kRgb or kGrey); a profile of another space is not
  // attached.
  ProfileSpace space = ProfileSpace::kRgb;
};

// The metadata a save writes for an image loaded with `source`: the EXIF pixel-dimension tags give
// the output size, the orientation tags say 1 when the image was turned upright, the thumbnail is
// dropped unless the pixels are as stored, and a profile of the wrong colour space is left out.
PhotoMetadata MetadataForOutput(const PhotoMetadata& source, const OutputFacts& facts);

// The APP segments a JPEG output carries for the metadata: EXIF, then XMP (each left out when it
// does not fit one segment), then the profile in as many ICC chunks as it needs, in order.
std::vector<JpegSegment> JpegSegmentsFor(const PhotoMetadata& metadata);

// The EXIF data with the changes asked for, or nothing when its first directory does not read.
// Offsets stay where they are: values are changed in place, and a dropped thumbnail is unlinked
// (and cut off when nothing else lies after it), so maker notes that point into the data keep
// working.
struct ExifChanges {
  bool resetOrientation = false;
  bool dropThumbnail = false;
  std::optional<std::pair<int, int>> pixelSize;
};
std::optional<std::vector<std::uint8_t>> RewriteExif(std::span<const std::uint8_t> exif,
                                                     const ExifChanges& changes);

}  // namespace imaging
