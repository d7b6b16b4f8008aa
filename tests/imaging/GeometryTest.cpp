#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Geometry.h"
#include "tests/support/TestSupport.h"

namespace {

using imaging::Bitmap;
using imaging::Rgb;
using testsupport::kBlue;
using testsupport::kRed;
using testsupport::LetterF;
using testsupport::PixelAt;

constexpr Rgb kWhite{255, 255, 255};

// A bitmap drawn with 'R' (red) and 'B' (blue), one string per row.
Bitmap Drawn(const std::vector<std::string>& rows) {
  Bitmap bitmap =
      *imaging::MakeBitmap(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      testsupport::SetPixel(
          bitmap, x, y,
          rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] == 'R' ? kRed : kBlue);
    }
  }
  return bitmap;
}

Bitmap Flat(int width, int height, Rgb color) {
  Bitmap bitmap = *imaging::MakeBitmap(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) testsupport::SetPixel(bitmap, x, y, color);
  }
  return bitmap;
}

TEST(RotateTest, MultiplesOfNinetyDegreesMovePixelsExactly) {
  // LetterF turned clockwise by a quarter: its top bar becomes the right column.
  const std::vector<std::string> quarter = {"RRRRR", "BBRBR", "BBRBR", "BBBBR", "BBBBB", "BBBBB"};
  const std::vector<std::string> half = {"BBBBBR", "BBBBBR", "BBBRRR", "BBBBBR", "BBRRRR"};
  const std::vector<std::string> threeQuarters = {"BBBBB", "BBBBB", "RBBBB",
                                                  "RBRBB", "RBRBB", "RRRRR"};
  const std::vector<std::string> unturned = {"RRRRBB", "RBBBBB", "RRRBBB", "RBBBBB", "RBBBBB"};
  const std::pair<std::vector<std::int64_t>, std::vector<std::string>> cases[] = {
      {{90'000, 450'000, -270'000}, quarter},
      {{180'000, -180'000}, half},
      {{270'000, -90'000}, threeQuarters},
      {{0, 360'000, -720'000}, unturned}};
  for (const auto& [angles, rows] : cases) {
    const Bitmap expected = Drawn(rows);
    for (const std::int64_t angle : angles) {
      Bitmap bitmap = LetterF();
      ASSERT_TRUE(imaging::Rotate(bitmap, angle, kWhite)) << angle;
      EXPECT_EQ(bitmap.width, expected.width) << angle;
      EXPECT_EQ(bitmap.pixels, expected.pixels) << angle;
    }
  }
}

TEST(RotateTest, OtherAnglesGrowTheCanvasAndFillItWithTheBackground) {
  Bitmap turned = LetterF();
  ASSERT_TRUE(imaging::Rotate(turned, 45'000, kWhite));
  // 6 × 5 at 45°: both sides are (6 + 5) × cos 45° = 7.78, rounded up.
  EXPECT_EQ(turned.width, 8);
  EXPECT_EQ(turned.height, 8);
  for (const auto& [x, y] : {std::pair{0, 0}, {7, 0}, {0, 7}, {7, 7}}) {
    EXPECT_EQ(PixelAt(turned, x, y), kWhite) << x << "," << y;
  }

  const Rgb olive{120, 130, 20};
  Bitmap flat = Flat(31, 21, olive);
  ASSERT_TRUE(imaging::Rotate(flat, 5'000, kWhite));
  EXPECT_EQ(flat.width, 33);   // 31 cos 5° + 21 sin 5° = 32.71
  EXPECT_EQ(flat.height, 24);  // 31 sin 5° + 21 cos 5° = 23.62
  EXPECT_EQ(PixelAt(flat, 16, 12), olive);
  EXPECT_EQ(PixelAt(flat, 32, 23), kWhite);
}

TEST(RotateTest, RefusesACanvasBeyondTheLimits) {
  // A 65535-pixel line turned by 45° needs a canvas of about 46341 × 46341 pixels.
  Bitmap line = Flat(65535, 1, kRed);
  EXPECT_FALSE(imaging::Rotate(line, 45'000, kWhite));
  EXPECT_EQ(line.width, 65535);
  EXPECT_EQ(line.height, 1);
}

TEST(CropTest, IntersectsTheRectangleWithTheImage) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const struct {
    std::int64_t left, top, width, height;
    int expectedWidth, expectedHeight, originX, originY;  // width 0: no result
  } cases[] = {
      {1, 1, 3, 2, 3, 2, 1, 1},              // inside
      {-2, -3, 4, 4, 2, 1, 0, 0},            // over the left and top edges
      {4, 3, 10, 9, 2, 2, 4, 3},             // over the right and bottom edges
      {-5, -5, 100, 100, 6, 5, 0, 0},        // around the whole image
      {2, 1, kMax, kMax, 4, 4, 2, 1},        // sizes that would overflow the end
      {kMin, kMin, kMax, kMax, 0, 0, 0, 0},  // ends at −1
      {kMax, 0, kMax, 5, 0, 0, 0, 0},        // starts far to the right
      {6, 0, 3, 3, 0, 0, 0, 0},              // just right of the image
      {0, -3, 5, 3, 0, 0, 0, 0},             // ends where the image starts
      {0, 0, 0, 5, 0, 0, 0, 0},              // zero width
      {0, 0, 5, -1, 0, 0, 0, 0},             // negative height
  };
  const Bitmap source = LetterF();
  for (const auto& test : cases) {
    const std::optional<Bitmap> cropped =
        imaging::Crop(source, test.left, test.top, test.width, test.height);
    const std::string label = std::to_string(test.left) + "," + std::to_string(test.top);
    if (test.expectedWidth == 0) {
      EXPECT_FALSE(cropped) << label;
      continue;
    }
    ASSERT_TRUE(cropped) << label;
    EXPECT_EQ(cropped->width, test.expectedWidth) << label;
    EXPECT_EQ(cropped->height, test.expectedHeight) << label;
    for (int y = 0; y < cropped->height; ++y) {
      for (int x = 0; x < cropped->width; ++x) {
        EXPECT_EQ(PixelAt(*cropped, x, y), PixelAt(source, test.originX + x, test.originY + y))
            << label;
      }
    }
  }
}

TEST(ResizeTest, MakesExactlyTheAskedSizeAndKeepsFlatColourFlat) {
  const Rgb teal{10, 200, 77};
  for (const auto& [width, height] : {std::pair{3, 2}, {12, 9}, {3, 11}, {1, 1}, {200, 1}}) {
    Bitmap bitmap = Flat(7, 5, teal);
    ASSERT_TRUE(imaging::Resize(bitmap, width, height));
    EXPECT_EQ(bitmap.width, width);
    EXPECT_EQ(bitmap.pixels, Flat(width, height, teal).pixels) << width << "x" << height;
  }
  Bitmap same = LetterF();
  ASSERT_TRUE(imaging::Resize(same, 6, 5));
  EXPECT_EQ(same.pixels, LetterF().pixels);
}

TEST(ResizeTest, RefusesSizesOutsideTheLimits) {
  for (const auto& [width, height] :
       {std::pair<std::int64_t, std::int64_t>{0, 5}, {5, -1}, {65536, 1}, {20000, 20000}}) {
    Bitmap bitmap = LetterF();
    EXPECT_FALSE(imaging::Resize(bitmap, width, height));
    EXPECT_EQ(bitmap.pixels, LetterF().pixels);
  }
}

TEST(ResizeTest, AveragesAreasWhenShrinkingAndInterpolatesWhenEnlarging) {
  Bitmap checker = *imaging::MakeBitmap(2, 2);
  testsupport::SetPixel(checker, 0, 0, {10, 20, 30});
  testsupport::SetPixel(checker, 1, 1, {10, 20, 30});
  testsupport::SetPixel(checker, 1, 0, {30, 60, 90});
  testsupport::SetPixel(checker, 0, 1, {30, 60, 90});
  ASSERT_TRUE(imaging::Resize(checker, 1, 1));
  EXPECT_EQ(PixelAt(checker, 0, 0), (Rgb{20, 40, 60}));

  // 6 → 4 columns: output column 2 covers source columns 3 (red, whole) and 4 (blue, half).
  Bitmap narrower = LetterF();
  ASSERT_TRUE(imaging::Resize(narrower, 4, 5));
  EXPECT_EQ(PixelAt(narrower, 0, 0), kRed);
  EXPECT_EQ(PixelAt(narrower, 2, 0), (Rgb{170, 0, 85}));
  EXPECT_EQ(PixelAt(narrower, 3, 4), kBlue);

  // Wider but shorter: the corners keep their colours.
  Bitmap wider = LetterF();
  ASSERT_TRUE(imaging::Resize(wider, 12, 3));
  EXPECT_EQ(PixelAt(wider, 0, 2), kRed);
  EXPECT_EQ(PixelAt(wider, 11, 0), kBlue);
}

}  // namespace
