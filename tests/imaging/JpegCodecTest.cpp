// The JPEG codec: round trips, files in other colour spaces written with libjpeg directly, and
// damaged or hostile files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/TestSupport.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

using imaging::Bitmap;
using imaging::Rgb;
using testsupport::PixelAt;
using Bytes = std::vector<std::uint8_t>;

Bytes Encoded(const Bitmap& bitmap, bool progressive, int quality = 100) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = imaging::jpeg::Encode(bitmap, quality, progressive, stream);
  std::fclose(stream);
  Bytes bytes(buffer, buffer + (written ? size : 0));
  std::free(buffer);
  return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// Offset of the first segment with this marker ahead of the image data, or npos.
std::size_t Segment(const Bytes& bytes, std::uint8_t marker) {
  for (std::size_t at = 2; at + 4 <= bytes.size() && bytes[at] == 0xFF;
       at += 2 + (std::size_t{bytes[at + 2]} << 8) + bytes[at + 3]) {
    if (bytes[at + 1] == marker) return at;
    if (bytes[at + 1] == 0xDA) break;
  }
  return std::string::npos;
}

TEST(JpegCodecTest, RoundTripsKeepSizeColoursAndProgressiveMode) {
  // 4:2:0 chroma halves the F's one-pixel red strokes, so its bound is low; swapped channels
  // would take either image far below its bound.
  const std::pair<Bitmap, double> images[] = {{testsupport::LetterF(), 10.0},
                                              {testsupport::PhotoLike(37, 23), 34.0}};
  for (const auto& [image, minimumPsnr] : images) {
    for (bool progressive : {false, true}) {
      SCOPED_TRACE(std::to_string(image.width) + (progressive ? " progressive" : " baseline"));
      const Bytes bytes = Encoded(image, progressive);
      ASSERT_TRUE(imaging::jpeg::Sniff(bytes));
      EXPECT_EQ(std::string(bytes.begin() + 6, bytes.begin() + 10), "JFIF");
      EXPECT_EQ(Segment(bytes, 0xC2) != std::string::npos, progressive);   // SOF2
      EXPECT_EQ(Segment(bytes, 0xC0) != std::string::npos, !progressive);  // SOF0
      const std::optional<Bitmap> decoded = imaging::jpeg::Decode(bytes);
      ASSERT_TRUE(decoded);
      ASSERT_EQ(decoded->width, image.width);
      ASSERT_EQ(decoded->height, image.height);
      EXPECT_GE(testsupport::Psnr(*decoded, image), minimumPsnr);
      if (image.width != 6) continue;
      // The F's top-left corner stays red, its open right side blue.
      EXPECT_GT(PixelAt(*decoded, 0, 0).red, 180);
      EXPECT_LT(PixelAt(*decoded, 0, 0).blue, 110);
      EXPECT_LT(PixelAt(*decoded, 5, 3).red, 12);
      EXPECT_GT(PixelAt(*decoded, 5, 3).blue, 243);
    }
  }
}

TEST(JpegCodecTest, GreyAndCmykFilesDecodeToRgb) {
  struct Case {
    const char* name;
    J_COLOR_SPACE input, file;
    bool adobe;
    Bytes left, right;  // the samples of every pixel in each 16 × 16 half
    Rgb expectedLeft, expectedRight;
  };
  const Case cases[] = {
      {"grey", JCS_GRAYSCALE, JCS_GRAYSCALE, false, {40}, {200}, {40, 40, 40}, {200, 200, 200}},
      // Adobe CMYK stores 255 − ink: (255, 0, 0, 255) is full magenta and yellow, no black.
      {"Adobe CMYK",
       JCS_CMYK,
       JCS_CMYK,
       true,
       {255, 0, 0, 255},
       {200, 100, 255, 200},
       {255, 0, 0},
       {157, 78, 200}},
      {"Adobe YCCK",
       JCS_CMYK,
       JCS_YCCK,
       true,
       {255, 0, 0, 255},
       {200, 100, 255, 200},
       {255, 0, 0},
       {157, 78, 200}},
      // Without the Adobe segment the samples are plain ink amounts.
      {"plain CMYK",
       JCS_CMYK,
       JCS_CMYK,
       false,
       {0, 255, 255, 0},
       {55, 155, 0, 55},
       {255, 0, 0},
       {157, 78, 200}},
  };
  for (const Case& sample : cases) {
    SCOPED_TRACE(sample.name);
    Bytes samples;
    for (int pixel = 0; pixel < 32 * 16; ++pixel) {
      const Bytes& half = pixel % 32 < 16 ? sample.left : sample.right;
      samples.insert(samples.end(), half.begin(), half.end());
    }
    const std::optional<Bitmap> decoded = imaging::jpeg::Decode(
        testsupport::LibjpegFile(32, 16, static_cast<int>(sample.left.size()), sample.input,
                                 sample.file, sample.adobe, samples));
    ASSERT_TRUE(decoded);
    for (const auto& [x, expected] :
         {std::pair{3, sample.expectedLeft}, std::pair{28, sample.expectedRight}}) {
      const Rgb actual = PixelAt(*decoded, x, 9);
      EXPECT_NEAR(actual.red, expected.red, 3);
      EXPECT_NEAR(actual.green, expected.green, 3);
      EXPECT_NEAR(actual.blue, expected.blue, 3);
    }
  }
}

TEST(JpegCodecTest, RefusesHostileSizesAndScanCounts) {
  // A tiny file whose frame header claims 65,500 × 65,500: within libjpeg's own limit, but a
  // progressive decode would first allocate the coefficients of 4.3 billion pixels.
  for (bool progressive : {false, true}) {
    Bytes bytes = Encoded(testsupport::LetterF(), progressive);
    const std::size_t frame = Segment(bytes, progressive ? 0xC2 : 0xC0);
    for (std::size_t field : {frame + 5, frame + 7}) {  // height, width: big-endian 0xFFDC
      bytes.at(field) = 0xFF;
      bytes.at(field + 1) = 0xDC;
    }
    EXPECT_FALSE(imaging::jpeg::Decode(bytes)) << progressive;
  }
  // Too many scans, each a pass over all coefficients.
  EXPECT_TRUE(imaging::jpeg::Decode(testsupport::GreyJpegWithScans(imaging::kMaxJpegScans)));
  EXPECT_FALSE(imaging::jpeg::Decode(testsupport::GreyJpegWithScans(imaging::kMaxJpegScans + 1)));
}

TEST(JpegCodecTest, TruncatedFilesFailInTheHeaderAndLoadPartlyInTheData) {
  const Bytes whole = Encoded(testsupport::PhotoLike(37, 23), false, 90);
  const std::optional<Bitmap> full = imaging::jpeg::Decode(whole);
  const std::size_t scan = Segment(whole, 0xDA);
  ASSERT_TRUE(full);
  ASSERT_NE(scan, std::string::npos);
  const std::size_t data = scan + 2 + (std::size_t{whole[scan + 2]} << 8) + whole[scan + 3];
  // Cut in the signature, the tables or the frame header: refused.
  for (std::size_t length :
       {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{100}, scan}) {
    EXPECT_FALSE(imaging::jpeg::Decode(Cut(whole, length))) << length;
  }
  // Cut in the image data: full size, and the first block is already there.
  for (std::size_t length : {data, (data + whole.size()) / 2, whole.size() - 10}) {
    const std::optional<Bitmap> partial = imaging::jpeg::Decode(Cut(whole, length));
    ASSERT_TRUE(partial) << length;
    EXPECT_EQ(partial->pixels.size(), full->pixels.size());
    if (length > data) {
      EXPECT_EQ(PixelAt(*partial, 0, 0), PixelAt(*full, 0, 0)) << length;
    }
  }
  // Only the end marker missing: the whole image.
  EXPECT_EQ(imaging::jpeg::Decode(Cut(whole, whole.size() - 2))->pixels, full->pixels);
}

}  // namespace
