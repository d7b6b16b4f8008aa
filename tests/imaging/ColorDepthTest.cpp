#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "imaging/ColorDepth.h"
#include "imaging/Geometry.h"
#include "tests/support/TestSupport.h"

namespace {

using imaging::Bitmap;
using imaging::ColorDepth;
using imaging::Rgb;

// Every pixel shows its palette entry, and the palette has no more than 256 entries.
void ExpectConsistentPalette(const Bitmap& bitmap) {
  ASSERT_EQ(bitmap.depth, ColorDepth::kPalette8);
  ASSERT_LE(bitmap.palette.size(), 256u);
  ASSERT_EQ(bitmap.indices.size(), bitmap.PixelCount());
  for (std::size_t i = 0; i < bitmap.indices.size(); ++i) {
    ASSERT_LT(bitmap.indices[i], bitmap.palette.size());
    const Rgb& color = bitmap.palette[bitmap.indices[i]];
    ASSERT_EQ((Rgb{bitmap.pixels[3 * i], bitmap.pixels[3 * i + 1], bitmap.pixels[3 * i + 2]}),
              color)
        << "pixel " << i;
  }
}

std::set<std::tuple<int, int, int>> ColorsOf(const Bitmap& bitmap) {
  std::set<std::tuple<int, int, int>> colors;
  for (std::size_t i = 0; i < bitmap.pixels.size(); i += 3) {
    colors.insert({bitmap.pixels[i], bitmap.pixels[i + 1], bitmap.pixels[i + 2]});
  }
  return colors;
}

// `count` distinct colours, repeated over a 17-pixel-wide image.
Bitmap ManyColors(int count) {
  Bitmap bitmap = *imaging::MakeBitmap(17, (count + 16) / 17);
  for (int i = 0; i < bitmap.width * bitmap.height; ++i) {
    const auto color = static_cast<unsigned>(i % count);
    testsupport::SetPixel(
        bitmap, i % 17, i / 17,
        {static_cast<std::uint8_t>(color * 7), static_cast<std::uint8_t>(color / 2),
         static_cast<std::uint8_t>(color % 3 * 100)});
  }
  return bitmap;
}

TEST(ReduceTo16Test, KeepsFiveBitsWidenedBack) {
  Bitmap bitmap = *imaging::MakeBitmap(2, 1);
  testsupport::SetPixel(bitmap, 0, 0, {7, 8, 100});
  testsupport::SetPixel(bitmap, 1, 0, {128, 247, 248});
  imaging::ReduceTo16(bitmap);
  EXPECT_EQ(bitmap.depth, ColorDepth::kHigh16);
  EXPECT_EQ(bitmap.pixels, (std::vector<std::uint8_t>{0, 8, 99, 132, 247, 255}));
}

TEST(ReduceTo8Test, KeepsUpTo256ColoursExactly) {
  for (const Bitmap& original : {testsupport::LetterF(), ManyColors(256)}) {
    Bitmap bitmap = original;
    bitmap.rleCompression = true;
    ASSERT_TRUE(imaging::ReduceTo8(bitmap));
    ExpectConsistentPalette(bitmap);
    EXPECT_EQ(bitmap.pixels, original.pixels);
    EXPECT_EQ(bitmap.palette.size(), ColorsOf(original).size());
    EXPECT_TRUE(bitmap.rleCompression);
  }
}

TEST(ReduceTo8Test, QuantisesLargerColourCounts) {
  Bitmap barely = ManyColors(257);
  ASSERT_TRUE(imaging::ReduceTo8(barely));
  ExpectConsistentPalette(barely);

  const Bitmap photo = testsupport::PhotoLike(321, 203);
  Bitmap reduced = photo;
  ASSERT_TRUE(imaging::ReduceTo8(reduced));
  ExpectConsistentPalette(reduced);
  EXPECT_GT(testsupport::Psnr(photo, reduced), 30.0);
}

TEST(RestoreDepthTest, BringsEditedBitmapsBackToTheirDepth) {
  // A quarter turn keeps the two colours of an 8-bit image exactly.
  Bitmap letter = testsupport::LetterF();
  ASSERT_TRUE(imaging::ReduceTo8(letter));
  ASSERT_TRUE(imaging::Rotate(letter, 90'000, {255, 255, 255}));
  imaging::RestoreDepth(letter, ColorDepth::kPalette8, true);
  ExpectConsistentPalette(letter);
  EXPECT_TRUE(letter.rleCompression);
  EXPECT_EQ(ColorsOf(letter), ColorsOf(testsupport::LetterF()));

  // A smooth turn blends in new colours; the image gets a fresh palette.
  Bitmap photo = testsupport::PhotoLike(97, 61);
  ASSERT_TRUE(imaging::ReduceTo8(photo));
  ASSERT_TRUE(imaging::Rotate(photo, 5'000, {255, 255, 255}));
  imaging::RestoreDepth(photo, ColorDepth::kPalette8, false);
  ExpectConsistentPalette(photo);
  EXPECT_FALSE(photo.rleCompression);

  Bitmap high = testsupport::PhotoLike(9, 7);
  imaging::RestoreDepth(high, ColorDepth::kHigh16, true);
  EXPECT_EQ(high.depth, ColorDepth::kHigh16);
  for (const std::uint8_t value : high.pixels) EXPECT_EQ(value >> 5, value & 7) << int{value};

  imaging::RestoreDepth(letter, ColorDepth::kTrue24, true);
  EXPECT_EQ(letter.depth, ColorDepth::kTrue24);
  EXPECT_TRUE(letter.palette.empty() && letter.indices.empty());
  EXPECT_TRUE(letter.rleCompression) << "an edit keeps the switch at every depth";
}

}  // namespace
