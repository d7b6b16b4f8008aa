// The JPEG and PNG codecs: the colour spaces and colour types our encoders never write, in files
// made by libjpeg or assembled chunk by chunk here; PNG round trips under both encoder settings;
// and the PNG pixel limit checked from the header.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <string>
#include <vector>

#include "imaging/HandleTable.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/PhotoFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace testsupport;
using imaging::Bitmap;
using imaging::Rgb;
using Bytes = std::vector<std::uint8_t>;
using Colors = std::vector<Rgb>;

TEST(JpegCodecTest, GreyAndCmykFilesDecodeToRgb) {
  // A 32 × 16 file of two flat halves, given by their samples, stored in the file's colour space;
  // each half must decode to its colour.
  const auto expectHalves = [](J_COLOR_SPACE input, J_COLOR_SPACE file, bool adobe,
                               const Bytes& left, const Bytes& right, Colors expected) {
    SCOPED_TRACE(testing::Message() << "stored as " << file << (adobe ? " with Adobe" : ""));
    Bytes samples;
    for (int pixel = 0; pixel < 32 * 16; ++pixel) {
      const Bytes& half = pixel % 32 < 16 ? left : right;
      samples.insert(samples.end(), half.begin(), half.end());
    }
    const imaging::Result<Bitmap> decoded =
        imaging::jpeg::Decode(LibjpegFile(32, 16, int(left.size()), input, file, adobe, samples));
    ASSERT_TRUE(decoded);
    for (const auto& [x, color] : {std::pair{3, expected[0]}, std::pair{28, expected[1]}}) {
      const Rgb actual = PixelAt(*decoded, x, 9);
      EXPECT_NEAR(actual.red, color.red, 3);
      EXPECT_NEAR(actual.green, color.green, 3);
      EXPECT_NEAR(actual.blue, color.blue, 3);
    }
  };
  expectHalves(JCS_GRAYSCALE, JCS_GRAYSCALE, false, {40}, {200}, {{40, 40, 40}, {200, 200, 200}});
  // Adobe CMYK and YCCK store 255 − ink: (255, 0, 0, 255) is full magenta and yellow, no black.
  const Colors redAndMauve = {{255, 0, 0}, {157, 78, 200}};
  for (const J_COLOR_SPACE stored : {JCS_CMYK, JCS_YCCK}) {
    expectHalves(JCS_CMYK, stored, true, {255, 0, 0, 255}, {200, 100, 255, 200}, redAndMauve);
  }
  // Without the Adobe segment the samples are plain ink amounts.
  expectHalves(JCS_CMYK, JCS_CMYK, false, {0, 255, 255, 0}, {55, 155, 0, 55}, redAndMauve);
}

TEST(JpegCodecTest, DamagedImageDataShowAsLibjpegLeavesThemAndGarbageIsRefused) {
  // Garbled restart markers raise more warnings than a small image may, fewer than one per
  // interval and MCU row: both readers show the file exactly as libjpeg decodes it, damage and all.
  const Bytes damaged = JpegWithGarbledRestarts();
  const Bytes expected = LibjpegPixels(damaged);
  const imaging::Bitmap photo = PhotoLike(401, 319);
  ASSERT_EQ(expected.size(), photo.pixels.size());
  const imaging::Result<Bitmap> decoded = imaging::jpeg::Decode(damaged);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->pixels == expected);
  const auto coefficients = imaging::jpeg::CoefficientImage::Read(damaged);
  ASSERT_TRUE(coefficients);
  const std::optional<Bitmap> buffered = (*coefficients)->Pixels();
  ASSERT_TRUE(buffered);
  EXPECT_TRUE(buffered->pixels == expected);
  const Bytes intact = LibjpegFile(401, 319, 3, JCS_RGB, JCS_YCbCr, false, photo.pixels, {}, 1);
  EXPECT_FALSE(LibjpegPixels(intact) == expected) << "the damage shows";

  // Every second marker garbled raises more than one warning per interval and MCU row: more than
  // damage could, so the file is taken for garbage.
  const Bytes garbage = JpegWithGarbledRestarts(2);
  EXPECT_FALSE(imaging::jpeg::Decode(garbage));
  EXPECT_FALSE(imaging::jpeg::CoefficientImage::Read(garbage));
}

TEST(PngCodecTest, PhotosAndFlatGraphicsRoundTripExactlyUnderTheirOwnSettings) {
  const Bitmap photo = PhotoLike(64, 43), flat = LetterF();
  // Sensor noise: every byte moved by up to ±40, from a fixed sequence.
  Bitmap noisy = photo;
  std::uint32_t state = 12345;
  for (std::uint8_t& value : noisy.pixels) {
    state = state * 1103515245u + 12345u;
    value = static_cast<std::uint8_t>(
        std::clamp(int{value} + static_cast<int>((state >> 16) % 81) - 40, 0, 255));
  }
  // Each gets deflate settings of its own (the clean photo one filter for every row, the noisy one
  // a filter per row); without interlacing the image data is compressed in one piece, with it
  // libpng streams it.
  TempFolder folder;
  for (const Bitmap* bitmap : {&photo, &flat, static_cast<const Bitmap*>(&noisy)}) {
    for (const bool interlace : {false, true}) {
      const Bytes file = ReadFileBytes(SaveImageFile(*bitmap, folder.File("image.png"), interlace));
      EXPECT_EQ(imaging::png::Decode(file).value_or(Bitmap{}).pixels, bitmap->pixels)
          << bitmap->width << (interlace ? " Adam7" : "");
    }
  }
}

TEST(PngCodecTest, GraphicsOfFewColoursGetAPaletteOfTheFewestBits) {
  // Widths that leave a partial last byte at every index size; colours differ in every channel.
  const struct {
    int colors;
    int width;
    int bitDepth;   // of the IHDR
    int colorType;  // 3 palette, 2 RGB
  } cases[] = {{2, 9, 1, 3},  {3, 7, 2, 3},    {4, 7, 2, 3},   {16, 5, 4, 3},
               {17, 5, 8, 3}, {256, 16, 8, 3}, {257, 17, 8, 2}};
  TempFolder folder;
  for (const auto& test : cases) {
    SCOPED_TRACE(test.colors);
    const int height = (test.colors + test.width - 1) / test.width + 1;
    const Bitmap bitmap = Painted(test.width, height, [&](int x, int y) {
      const int color = (y * test.width + x) % test.colors;
      return Rgb{std::uint8_t(color), std::uint8_t(255 - color % 256),
                 std::uint8_t(color / 256 * 99 + 3)};
    });
    const Bytes file = ReadFileBytes(SaveImageFile(bitmap, folder.File("g.png")));
    EXPECT_EQ(std::pair(int{file.at(24)}, int{file.at(25)}),
              std::pair(test.bitDepth, test.colorType));
    EXPECT_EQ(imaging::png::Decode(file).value_or(Bitmap{}).pixels, bitmap.pixels);
  }
}

// A whole file: IHDR, the `extra` chunks, one IDAT of the scanlines (each led by its filter
// byte), IEND.
Bytes MakePng(int width, int height, int bitDepth, int colorType, const Bytes& scanlines,
              std::vector<Piece> extra = {}, bool adam7 = false) {
  extra.insert(extra.end(), {{"IDAT", Deflated(scanlines)}, {"IEND", {}}});
  Bytes header;
  for (const int side : {width, height})
    PutBytes(header, static_cast<std::uint32_t>(side), 4, true);
  header.insert(header.end(), {std::uint8_t(bitDepth), std::uint8_t(colorType), 0, 0, adam7});
  Bytes file = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  const Bytes ihdr = PngChunk("IHDR", header);
  file.insert(file.end(), ihdr.begin(), ihdr.end());
  return WithChunks(file, extra);
}

// The colours of a 3 × 2 file, row by row; none when it does not decode.
Colors Decoded3x2(int bitDepth, int colorType, const Bytes& scanlines,
                  const std::vector<Piece>& extra = {}, bool adam7 = false) {
  return ColorsOf(
      imaging::png::Decode(MakePng(3, 2, bitDepth, colorType, scanlines, extra, adam7)));
}

TEST(PngCodecTest, EveryColourTypeDecodesToRgbOnWhite) {
  const Rgb white{255, 255, 255}, black{}, red{255, 0, 0}, halfBlue{127, 127, 255};
  // 2-bit palette indices 0 1 2 / 3 2 0, the first three entries with transparency.
  const Piece palette{"PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}};
  EXPECT_EQ(
      Decoded3x2(2, PNG_COLOR_TYPE_PALETTE, {0, 0x18, 0, 0xE0}, {palette, {"tRNS", {255, 0, 128}}}),
      (Colors{red, white, halfBlue, white, halfBlue, red}));
  EXPECT_EQ(Decoded3x2(2, PNG_COLOR_TYPE_PALETTE, {0, 0x18, 0, 0xE0}, {palette}),
            (Colors{red, {0, 255, 0}, {0, 0, 255}, white, {0, 0, 255}, red}))
      << "without transparency";
  EXPECT_EQ(Decoded3x2(1, PNG_COLOR_TYPE_GRAY, {0, 0xA0, 0, 0x20}),
            (Colors{white, black, white, black, black, white}));
  // 16-bit samples with differing bytes are scaled to the nearest 8-bit value, not cut to their
  // high byte: 00FF 01FF FF00 / FFFF 0000 7F80.
  const auto grey = [](std::uint8_t value) { return Rgb{value, value, value}; };
  EXPECT_EQ(Decoded3x2(16, PNG_COLOR_TYPE_GRAY,
                       {0, 0x00, 0xFF, 0x01, 0xFF, 0xFF, 0x00, 0, 0xFF, 0xFF, 0, 0, 0x7F, 0x80}),
            (Colors{grey(1), grey(2), grey(254), white, black, grey(127)}));
  // Half-transparent 3 3 3 on white: (3 × 128 + 255 × 127) / 255 = 128.5, rounded to 129.
  const Bytes rows = {0, 3, 3, 3, 128, 3, 3, 3, 128, 3, 3, 3, 128,
                      0, 3, 3, 3, 128, 3, 3, 3, 128, 3, 3, 3, 128};
  EXPECT_EQ(Decoded3x2(8, PNG_COLOR_TYPE_RGB_ALPHA, rows), Colors(6, grey(129)));
}

TEST(PngCodecTest, InterlacedTransparencyMatchesThePlainFile) {
  // 13 × 11 16-bit RGBA with alpha varying across it, as scanlines in passes given by their first
  // column and row and their steps across and down: one pass of every pixel, or the seven of
  // Adam7, each of which composites only its own pixels onto white.
  constexpr std::size_t kWhole[1][4] = {{0, 0, 1, 1}};
  constexpr std::size_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  const auto scanlines = [](const auto& passes) {
    Bytes bytes;
    for (const auto& [column, row, columnStep, rowStep] : passes) {
      for (std::size_t y = row; y < 11; y += rowStep) {
        bytes.push_back(0);  // the filter byte of an unfiltered scanline
        for (std::size_t x = column; x < 13; x += columnStep) {
          for (const std::size_t sample : {x * 19, y * 23, std::size_t{200}, (x + y) * 22}) {
            bytes.insert(bytes.end(), 2, std::uint8_t(sample));
          }
        }
      }
    }
    return bytes;
  };
  constexpr int kRgba = PNG_COLOR_TYPE_RGB_ALPHA;
  const auto plain = imaging::png::Decode(MakePng(13, 11, 16, kRgba, scanlines(kWhole)));
  const auto adam7 = imaging::png::Decode(MakePng(13, 11, 16, kRgba, scanlines(kAdam7), {}, true));
  ASSERT_TRUE(plain && adam7);
  EXPECT_EQ(adam7->pixels, plain->pixels);
  EXPECT_EQ(PixelAt(*plain, 0, 0), (Rgb{255, 255, 255})) << "alpha 0 is white";
}

TEST(PngCodecTest, RefusesAPixelCountBeyondTheLimitInEveryReaderOfTheHeader) {
  // Each side within the limit, the pixel count just beyond it: refused although every row of
  // the 1-bit image is there.
  const Bytes blackRows(10'000 * (1 + 1'251), 0);
  const Bytes tooMany = MakePng(10'001, 10'000, 1, PNG_COLOR_TYPE_GRAY, blackRows);
  EXPECT_FALSE(imaging::png::Decode(tooMany));
  EXPECT_FALSE(imaging::png::ReadSize(tooMany)) << "the size probe reads the same header";
  EXPECT_TRUE(
      imaging::png::Decode(MakePng(10'001, 1'000, 1, PNG_COLOR_TYPE_GRAY, Bytes(1'000 * 1'252))));
  // A JPEG frame claiming 65,500 × 65,500 pixels: the header reader that loads and probes refuses
  // it as the decoder does.
  const Bytes jpeg =
      HugeFrame(LibjpegFile(8, 8, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, Bytes(64)), 0xC0);
  EXPECT_FALSE(imaging::jpeg::Decode(jpeg));
  EXPECT_FALSE(imaging::jpeg::ReadHeader(jpeg));
}

}  // namespace
