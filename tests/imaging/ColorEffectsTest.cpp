#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "imaging/ColorEffects.h"
#include "tests/support/TestSupport.h"

namespace {

using imaging::Bitmap;
using imaging::Rgb;
using testsupport::PixelAt;

// A one-row bitmap holding the given colours.
Bitmap Row(const std::vector<Rgb>& colors) {
  Bitmap bitmap = *imaging::MakeBitmap(static_cast<int>(colors.size()), 1);
  for (int x = 0; x < bitmap.width; ++x) {
    testsupport::SetPixel(bitmap, x, 0, colors[static_cast<std::size_t>(x)]);
  }
  return bitmap;
}

// Grey `left` in the columns before `edge`, grey `right` from there on.
Bitmap TwoGreys(int width, int height, int edge, std::uint8_t left, std::uint8_t right) {
  Bitmap bitmap = *imaging::MakeBitmap(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t grey = x < edge ? left : right;
      testsupport::SetPixel(bitmap, x, y, {grey, grey, grey});
    }
  }
  return bitmap;
}

TEST(GreyscaleTest, UsesLumaWeightsAndBlendsByStrength) {
  const std::vector<Rgb> pure = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  const std::vector<Rgb> grey = {{76, 76, 76}, {150, 150, 150}, {29, 29, 29}, {255, 255, 255}};
  // Halfway, e.g. red: 255 + (76 − 255) × 128 / 255 = 165.1 and 76 × 128 / 255 = 38.1.
  const std::vector<Rgb> half = {{165, 38, 38}, {75, 202, 75}, {15, 15, 142}, {255, 255, 255}};
  const std::pair<int, const std::vector<Rgb>&> cases[] = {
      {255, grey}, {1000, grey}, {128, half}, {0, pure}, {-5, pure}};
  for (const auto& [strength, expected] : cases) {
    Bitmap bitmap = Row(pure);
    imaging::MakeGreyscale(bitmap, strength);
    EXPECT_EQ(bitmap.pixels, Row(expected).pixels) << strength;
  }
}

TEST(ChannelTablesTest, TintScaleAndLookupTablesTouchTheirOwnChannel) {
  for (const int percent : {100, 900}) {  // 900 is clamped to 100
    Bitmap tinted = Row({{1, 100, 200}});
    imaging::TintRgb(tinted, percent, 0, -percent);  // red halfway to 255, blue halved
    EXPECT_EQ(PixelAt(tinted, 0, 0), (Rgb{128, 100, 100})) << percent;
  }

  // A sepia-like weighting: red beyond 255 is clamped.
  Bitmap scaled = Row({{240, 100, 50}, {10, 10, 10}});
  imaging::ScaleRgb(scaled, 1200, 1000, 800);
  EXPECT_EQ(scaled.pixels, Row({{255, 100, 40}, {12, 10, 8}}).pixels);
  Bitmap extreme = Row({{240, 100, 50}});
  imaging::ScaleRgb(extreme, -500, 1000, 2'000'000'000);
  EXPECT_EQ(PixelAt(extreme, 0, 0), (Rgb{0, 100, 255}));

  std::array<std::uint8_t, 768> tables{};
  for (std::size_t value = 0; value < 256; ++value) {
    tables[value] = static_cast<std::uint8_t>(255 - value);  // red: negative
    tables[256 + value] = static_cast<std::uint8_t>(value);  // green: unchanged
    tables[512 + value] = 7;                                 // blue: constant
  }
  Bitmap looked = Row({{0, 1, 2}, {200, 100, 50}});
  imaging::ApplyLookupTables(looked, tables.data());
  EXPECT_EQ(looked.pixels, Row({{255, 1, 7}, {55, 100, 7}}).pixels);
}

TEST(ClarityTest, FlatImagesStayAndEdgesSharpenOrSoften) {
  for (const auto& [width, height] : {std::pair{5, 3}, {1, 4}, {4, 1}, {2, 2}}) {
    const Bitmap flat = TwoGreys(width, height, width, 90, 90);
    Bitmap unchanged = flat;
    imaging::AdjustClarityRgb(unchanged, 100, -50, -100);
    EXPECT_EQ(unchanged.pixels, flat.pixels) << width << "x" << height;
  }

  const Bitmap edge = TwoGreys(7, 4, 3, 100, 150);
  Bitmap sharp = edge;
  imaging::AdjustClarityRgb(sharp, 100, 0, 0);
  EXPECT_LT(PixelAt(sharp, 2, 1).red, 100);
  EXPECT_GT(PixelAt(sharp, 3, 1).red, 150);
  EXPECT_EQ(PixelAt(sharp, 0, 1).red, 100);  // away from the edge nothing changes
  EXPECT_EQ(PixelAt(sharp, 2, 1).green, 100);
  EXPECT_EQ(PixelAt(sharp, 3, 1).blue, 150);

  Bitmap soft = edge;
  imaging::AdjustClarityRgb(soft, -50, -50, -50);
  EXPECT_GT(PixelAt(soft, 2, 3).red, 100);
  EXPECT_LT(PixelAt(soft, 3, 3).red, 150);
}

TEST(ClarityTest, FullSofteningBlursTwice) {
  // A single bright dot: one blur spreads it one pixel, the second pass two pixels.
  Bitmap dot = TwoGreys(7, 7, 7, 0, 0);
  testsupport::SetPixel(dot, 3, 3, {90, 90, 90});
  Bitmap once = dot;
  imaging::AdjustClarityRgb(once, -99, -99, -99);
  EXPECT_EQ(PixelAt(once, 3, 3).red, 11);  // 90 + (10 − 90) × 0.99
  EXPECT_EQ(PixelAt(once, 1, 1).red, 0);
  Bitmap twice = dot;
  imaging::AdjustClarityRgb(twice, -100, -100, -100);
  EXPECT_EQ(PixelAt(twice, 3, 3).red, 10);
  EXPECT_EQ(PixelAt(twice, 2, 2).red, 4);  // 4 × 10 / 9
  EXPECT_EQ(PixelAt(twice, 1, 1).red, 1);  // 10 / 9
}

}  // namespace
