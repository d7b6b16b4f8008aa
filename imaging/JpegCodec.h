// JPEG through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ColorProfile.h"
#include "imaging/EncodedOutput.h"
#include "imaging/Failure.h"
#include "imaging/PhotoMetadata.h"

namespace imaging::jpeg {

// True when the bytes start like a JPEG file (SOI marker followed by another marker).
bool Sniff(std::span<const std::uint8_t> bytes);

// What the headers up to the first scan say.
struct Header {
  int width = 0;
  int height = 0;
  // One component: greyscale, decoded with red = green = blue.
  bool greyscale = false;
  // The coefficients can be written again as they stand, requantised: YCbCr with the 4:2:0
  // sampling Encode uses, or greyscale, 8-bit samples.
  bool transcodable = false;
  // The pixel size of one MCU: 8 times the largest sampling factor along each side.
  int mcuWidth = 8;
  int mcuHeight = 8;
};

// The headers, read without touching the image data; a failure when they are malformed or the size
// is beyond the limits. When `segments` is given it receives the APP1 and APP2 segments (EXIF, XMP,
// colour profile) in file order.
Result<Header> ReadHeader(std::span<const std::uint8_t> bytes,
                          std::vector<JpegSegment>* segments = nullptr);

// True when a file with these headers can be turned upright from EXIF orientation 2 to 8 in its
// coefficients: every component mirrors sample for sample, so a side the turn mirrors holds a
// whole number of chroma samples (even for 4:2:0). Along a mirrored side that ends inside a block
// the blocks are mixed with their neighbours, so the partial block at the right or bottom edge
// lands whole at the left or top; elsewhere they move whole.
bool TurnsInCoefficients(const Header& header, int orientation);

// The denominator among libjpeg's 1, 2, 4 and 8 that decodes the image smallest while both sides
// stay at least the given size (1 when even the full size is smaller).
int ScaleDenominator(const Header& header, std::int64_t width, std::int64_t height);

// Decodes baseline, progressive, greyscale and CMYK files into a 24-bit bitmap, at 1 /
// scaleDenominator of the size in each direction (rounded up); a failure with libjpeg's own
// message on any error, beyond the size limits, for a progressive file of more than kMaxJpegScans
// scans, or for one whose scans claim more blocks than a file of its size may cost (32 million at
// most). Damaged image data are decoded as far as they go. Greyscale files give a bitmap marked
// grey. CMYK and YCCK files are converted through `profile` when it is a CMYK profile's
// transform (Adobe's inverted CMYK told by its Adobe segment), else by the plain formula
// (red = (255 − c) × (255 − k) / 255, on inverted values for Adobe's). Colour files are
// converted through `profile` when it is an RGB profile's transform, a few rows at a time as they
// decode; greyscale files never are.
Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, int scaleDenominator = 1,
                      const ColorTransform* profile = nullptr);

// A file read through all of its image data into libjpeg's whole-image coefficient buffer (its
// buffered-image mode): reading it checks the file exactly as Decode does, and refuses exactly
// the files Decode refuses. The pixels are then one output pass away, and the coefficients can
// be written again at another quality without going through pixels at all.
class CoefficientImage {
 public:
  // Reads the whole file; a failure when Decode would refuse it, with its reason. The bytes must
  // stay alive and unchanged while the object lives.
  static Result<std::unique_ptr<CoefficientImage>> Read(std::span<const std::uint8_t> bytes);
  ~CoefficientImage();
  CoefficientImage(const CoefficientImage&) = delete;
  CoefficientImage& operator=(const CoefficientImage&) = delete;

  const Header& FileHeader() const { return header_; }

  // The pixels Decode gives for the file through `profile`; nothing when memory runs out. Call at
  // most once.
  std::optional<Bitmap> Pixels(const ColorTransform* profile = nullptr);

  // Writes the image as Encode would write its pixels (JFIF, the same quantisation tables, 4:2:0
  // or greyscale, standard Huffman tables, progressive when asked), from the coefficients
  // requantised to the new tables (halfway values rounded toward zero), turned upright from EXIF
  // orientation `orientation` when it is 2 to 8 (only where TurnsInCoefficients), with `segments`
  // written after the JFIF segment. Only for a transcodable header. The coefficients are changed
  // in place: afterwards neither Pixels nor Transcode may be called again. False on any error.
  bool Transcode(int quality, bool progressive, EncodedOutput& out, int orientation = 1,
                 std::span<const JpegSegment> segments = {});

 private:
  struct State;
  explicit CoefficientImage(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
  Header header_;
};

// Writes the coefficients of the file, requantised, as CoefficientImage::Transcode does, reading
// the file first. False when the file does not read or on any error.
bool Transcode(std::span<const std::uint8_t> bytes, int quality, bool progressive,
               EncodedOutput& out);

// Writes the bitmap as a JFIF file of the given quality (0..100, clamped), progressive when asked:
// YCbCr with 4:2:0 chroma, or one greyscale component for a bitmap marked grey, with `segments`
// written after the JFIF segment. False on any library or write error.
bool Encode(const Bitmap& bitmap, int quality, bool progressive, EncodedOutput& out,
            std::span<const JpegSegment> segments = {});
bool Encode(const Bitmap& bitmap, int quality, bool progressive, std::FILE* out);

}  // namespace imaging::jpeg
