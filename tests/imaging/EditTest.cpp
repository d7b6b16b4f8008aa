// The edits on 24-bit pixels and the 8-bit palette: exact pixels where the result is exact, the
// formulas where rounding and clamping show, and sizes refused before a new canvas is allocated.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "imaging/ColorDepth.h"
#include "imaging/ColorEffects.h"
#include "imaging/Geometry.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace testsupport;
using imaging::Bitmap;
using imaging::ColorDepth;
using imaging::Rgb;

constexpr Rgb kWhite{255, 255, 255};

Bitmap Flat(int width, int height, Rgb color) {
  return Painted(width, height, [&](int, int) { return color; });
}

TEST(RotateTest, QuarterTurnsAreExactAndOtherAnglesGrowTheCanvas) {
  // LetterF turned clockwise by a quarter, a half and three quarters, drawn with R and B.
  const std::pair<std::vector<std::int64_t>, std::vector<std::string>> cases[] = {
      {{90'000, 450'000, -270'000}, {"RRRRR", "BBRBR", "BBRBR", "BBBBR", "BBBBB", "BBBBB"}},
      {{180'000, -180'000}, {"BBBBBR", "BBBBBR", "BBBRRR", "BBBBBR", "BBRRRR"}},
      {{270'000, -90'000}, {"BBBBB", "BBBBB", "RBBBB", "RBRBB", "RBRBB", "RRRRR"}}};
  for (const auto& [angles, rows] : cases) {
    const Bitmap expected = Drawn(rows);
    for (const std::int64_t angle : angles) {
      Bitmap bitmap = LetterF();
      EXPECT_TRUE(imaging::Rotate(bitmap, angle, kWhite)) << angle;
      EXPECT_EQ(bitmap.width, expected.width) << angle;
      EXPECT_EQ(bitmap.pixels, expected.pixels) << angle;
    }
  }
  // Larger than a 32-pixel tile of the turn: four quarter turns, or none, give back the image.
  Bitmap photo = PhotoLike(37, 35);
  for (const int angle : {0, 360'000, -720'000, 90'000, 90'000, 90'000, 90'000}) {
    EXPECT_TRUE(imaging::Rotate(photo, angle, kWhite)) << angle;
  }
  EXPECT_EQ(photo.pixels, PhotoLike(37, 35).pixels);

  // Other angles grow the canvas and fill what the image leaves uncovered with the background.
  const Rgb olive{120, 130, 20};
  Bitmap flat = Flat(31, 21, olive);
  ASSERT_TRUE(imaging::Rotate(flat, 5'000, kWhite));
  // 31 cos 5° + 21 sin 5° = 32.71 wide, 31 sin 5° + 21 cos 5° = 23.62 high, both rounded up; a
  // corner is background.
  EXPECT_EQ(std::pair(flat.width, flat.height), std::pair(33, 24));
  EXPECT_EQ(PixelAt(flat, 32, 23), kWhite);
  // Smooth turns go clockwise too and carry the content: a black 3 × 3 block 6 pixels right of the
  // centre of a white 21 × 21 image, turned by 30°, lies 6 cos 30° right of and 6 sin 30° below the
  // centre of the 29 × 29 canvas, at pixel (19, 17); the centre stays white.
  Bitmap block = Painted(21, 21, [](int x, int y) {
    return std::abs(x - 16) <= 1 && std::abs(y - 10) <= 1 ? Rgb{} : kWhite;
  });
  ASSERT_TRUE(imaging::Rotate(block, 30'000, kWhite));
  ASSERT_EQ(std::pair(block.width, block.height), std::pair(29, 29));
  EXPECT_EQ(PixelAt(block, 14, 14), kWhite);
  EXPECT_LT(PixelAt(block, 19, 17).red, 40);
  EXPECT_EQ(PixelAt(block, 19, 11), kWhite) << "the mirror position of a counter-clockwise turn";
  // Every side and both tones are treated alike: a black image's soft edges on white come out
  // point-symmetric, and a white image on black gives their negative.
  Bitmap dark = Flat(9, 9, {}), light = Flat(9, 9, kWhite);
  ASSERT_TRUE(imaging::Rotate(dark, 30'000, kWhite) && imaging::Rotate(light, 30'000, {}));
  // Point symmetry maps (x, y) to (width − 1 − x, height − 1 − y): the reversed pixel order.
  const std::vector<Rgb> darkColors = ColorsOf(dark), lightColors = ColorsOf(light);
  for (std::size_t at = 0; at < darkColors.size(); ++at) {
    ASSERT_NEAR(darkColors[at].red, darkColors[darkColors.size() - 1 - at].red, 2) << at;
    ASSERT_EQ(darkColors[at].red, 255 - lightColors[at].red) << at;
  }
  // A 65535-pixel line turned by 45° needs a canvas of about 46341 × 46341 pixels.
  Bitmap line = Flat(65535, 1, olive);
  EXPECT_FALSE(imaging::Rotate(line, 45'000, kWhite));
  EXPECT_EQ(std::pair(line.width, line.height), std::pair(65535, 1));
}

TEST(CropTest, IntersectsTheRectangleWithTheImage) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  // The rectangle, then the part of the 6 × 5 LetterF expected: left, top, width, height (width 0
  // for none).
  const std::array<std::int64_t, 8> cases[] = {
      {1, 1, 3, 2, 1, 1, 3, 2},              // inside
      {-2, -3, 4, 4, 0, 0, 2, 1},            // over the left and top edges
      {4, 3, 10, 9, 4, 3, 2, 2},             // over the right and bottom edges
      {2, 1, kMax, kMax, 2, 1, 4, 4},        // sizes that would overflow the end
      {kMin, kMin, kMax, kMax, 0, 0, 0, 0},  // ends at −1
      {0, 0, 0, 5, 0, 0, 0, 0},              // zero width
  };
  const Bitmap source = LetterF();
  for (const auto& [left, top, width, height, partLeft, partTop, partWidth, partHeight] : cases) {
    const std::optional<Bitmap> cropped = imaging::Crop(source, left, top, width, height);
    EXPECT_EQ(cropped.has_value(), partWidth != 0) << left << "," << top;
    if (!cropped) continue;
    const int originX = int(partLeft), originY = int(partTop);
    const Bitmap expected = Painted(int(partWidth), int(partHeight), [&](int x, int y) {
      return PixelAt(source, originX + x, originY + y);
    });
    EXPECT_EQ(cropped->width, expected.width) << left << "," << top;
    EXPECT_EQ(cropped->pixels, expected.pixels) << left << "," << top;
  }
}

TEST(ResizeTest, MakesTheAskedSizeAveragingAreasOrRefusesItBeforeAllocating) {
  const Rgb teal{10, 200, 77};
  for (const auto& [width, height] :
       {std::pair{3, 2}, {12, 9}, {3, 11}, {1, 1}, {200, 1}, {7, 2}, {2, 5}}) {
    Bitmap bitmap = Flat(7, 5, teal);
    EXPECT_TRUE(imaging::Resize(bitmap, width, height)) << width << "x" << height;
    EXPECT_EQ(bitmap.pixels, Flat(width, height, teal).pixels) << width << "x" << height;
  }
  for (const auto& [width, height] :
       {std::pair<std::int64_t, std::int64_t>{0, 5}, {5, -1}, {65536, 1}, {20000, 20000}}) {
    Bitmap bitmap = LetterF();
    EXPECT_FALSE(imaging::Resize(bitmap, width, height)) << width << "x" << height;
    EXPECT_EQ(bitmap.pixels, LetterF().pixels);
  }

  // 6 × 5 → 4 × 3: output pixel (0, 0) covers source columns 0 (whole) and 1 (half) of rows 0
  // (whole) and 1 (two thirds), all red but (1, 1): 13/15 red, 2/15 blue.
  Bitmap letter = LetterF();
  ASSERT_TRUE(imaging::Resize(letter, 4, 3));
  EXPECT_EQ(PixelAt(letter, 0, 0), (Rgb{221, 0, 34}));
  EXPECT_EQ(PixelAt(letter, 3, 2), kBlue);
}

TEST(ColorEffectsTest, GreyscaleIsTheRoundedLumaAndSepiaWeightsClamp) {
  // The rounded BT.601 luma, for colours sampled with a prime step.
  for (unsigned color = 0; color < 1u << 24; color += 97) {
    const unsigned red = color >> 16, green = color >> 8 & 255, blue = color & 255;
    std::uint8_t pixel[3] = {std::uint8_t(red), std::uint8_t(green), std::uint8_t(blue)};
    imaging::GreyscalePixels(pixel, 1);
    const unsigned luma = (299 * red + 587 * green + 114 * blue + 500) / 1000;
    ASSERT_TRUE(pixel[0] == luma && pixel[1] == luma && pixel[2] == luma) << std::hex << color;
  }
  // A full tint moves its channel halfway to white, a full negative one halfway to black, each
  // channel alone.
  Bitmap tinted = Flat(1, 1, {0, 100, 200});
  imaging::TintRgb(tinted, 100, 0, -100);
  EXPECT_EQ(PixelAt(tinted, 0, 0), (Rgb{128, 100, 100}));
  // Lookup tables, one per channel: here red to 0, green to 128, blue to 255.
  std::array<std::uint8_t, 768> tables{};
  std::fill_n(tables.begin() + 256, 256, 128);
  std::fill_n(tables.begin() + 512, 256, 255);
  imaging::ApplyLookupTables(tinted, tables.data());
  EXPECT_EQ(PixelAt(tinted, 0, 0), (Rgb{0, 128, 255}));
  // Sepia's channel weights, rounded to the nearest: red beyond 255 is clamped, blue 51 × 0.725 =
  // 36.975 becomes 37.
  Bitmap sepia = Flat(1, 1, {240, 100, 51});
  imaging::ScaleRgb(sepia, 1400, 1000, 725);
  EXPECT_EQ(PixelAt(sepia, 0, 0), (Rgb{255, 100, 37}));
}

TEST(ClarityTest, FlatImagesStayAndADotSharpensInItsOwnChannel) {
  // Flat images of every narrow shape, where the 3 × 3 neighbourhood meets the edges.
  for (const auto& [width, height] : {std::pair{5, 3}, {1, 4}, {4, 1}, {2, 2}}) {
    Bitmap flat = Flat(width, height, {90, 90, 90});
    imaging::AdjustClarityRgb(flat, 100, -50, -100);
    EXPECT_EQ(flat.pixels, Flat(width, height, {90, 90, 90}).pixels) << width << "x" << height;
  }
  // A dot 90 brighter than its surroundings. Full sharpening pushes each pixel away from the mean
  // of its 3 × 3 box by as much as it differs from it, in its own channel: the dot's neighbour
  // (mean 990 / 9 = 110) drops from 100 to 90, the dot rises to 270, clamped to 255.
  const Bitmap dot = Painted(7, 7, [](int x, int y) {
    return x == 3 && y == 3 ? Rgb{190, 190, 190} : Rgb{100, 100, 100};
  });
  Bitmap sharp = dot;
  imaging::AdjustClarityRgb(sharp, 100, 0, 0);
  EXPECT_EQ((std::array{PixelAt(sharp, 3, 3), PixelAt(sharp, 2, 3)}),
            (std::array<Rgb, 2>{{{255, 190, 190}, {90, 100, 100}}}));
  // Full softening goes twice: the dot spreads to 110 over its 3 × 3 block, whose rim then eases
  // outwards (107, and 103 beyond). At the edges a pixel stands in for its missing neighbours: a
  // 190 corner among 100s, softened by half once, loses (9 × 190 − 1260) / 18.
  Bitmap soft = Painted(7, 7, [](int x, int y) {
    const std::uint8_t value = (x == 3 && y == 3) || (x == 6 && y == 0) ? 190 : 100;
    return Rgb{value, value, value};
  });
  imaging::AdjustClarityRgb(soft, 0, -100, -50);
  EXPECT_EQ(
      (std::array{PixelAt(soft, 3, 3).red, PixelAt(soft, 3, 3).green, PixelAt(soft, 2, 3).green,
                  PixelAt(soft, 1, 3).green, PixelAt(soft, 6, 0).blue}),
      (std::array<std::uint8_t, 5>{190, 110, 107, 103, 165}));
}

// Every pixel shows its palette entry, and the palette has no more than 256 entries.
void ExpectConsistentPalette(const Bitmap& bitmap) {
  ASSERT_EQ(bitmap.depth, ColorDepth::kPalette8);
  ASSERT_LE(bitmap.palette.size(), 256u);
  std::vector<Rgb> shown;
  for (const std::uint8_t index : bitmap.indices) shown.push_back(bitmap.palette.at(index));
  EXPECT_EQ(shown, ColorsOf(bitmap));
}

TEST(ReduceTo8Test, KeepsUpTo256ColoursExactlyAndQuantisesMore) {
  // 256 distinct colours over 17 × 16 pixels.
  const Bitmap many = Painted(17, 16, [](int x, int y) {
    const auto color = unsigned(y * 17 + x) % 256;
    return Rgb{std::uint8_t(color), std::uint8_t(color / 2), std::uint8_t(color % 3 * 100)};
  });
  for (const auto& [original, colors] : {std::pair{LetterF(), 2u}, {many, 256u}}) {
    SCOPED_TRACE(colors);
    Bitmap bitmap = original;
    bitmap.rleCompression = true;
    const bool reduced = imaging::ReduceTo8(bitmap);
    EXPECT_TRUE(reduced);
    if (!reduced) continue;
    ExpectConsistentPalette(bitmap);
    EXPECT_EQ(bitmap.pixels, original.pixels);
    EXPECT_EQ(bitmap.palette.size(), colors);
    EXPECT_TRUE(bitmap.rleCompression);
  }
  const Bitmap photo = PhotoLike(321, 203);
  Bitmap reduced = photo;
  ASSERT_TRUE(imaging::ReduceTo8(reduced));
  ExpectConsistentPalette(reduced);
  EXPECT_EQ(reduced.palette.size(), 256u) << "a photo uses every entry";
  EXPECT_GT(Psnr(photo, reduced), 30.0);
}

}  // namespace
