// The entry points' handle rules, independent of any codec or edit.
#include <gtest/gtest.h>

#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;

TEST(ImagingApiTest, ARegisteredImageAndHandlesThatNameNoImage) {
  ResetHandleTable();
  testsupport::TempFolder folder;
  const ImageHandle handle = RegisterBitmap(testsupport::LetterF());
  ImageInfoRecord record{};
  ASSERT_EQ(GetImageInfo(handle, record), 1);
  EXPECT_EQ(record, (ImageInfoRecord{24, 6, 5, 0, 0, 18}));
  EXPECT_EQ(ReadPixelColor(handle, 0, 0), 0x0000FFu) << "red is the lowest byte";
  EXPECT_EQ(ReadPixelColor(handle, 5, 4), 0xFF0000u) << "blue is the third byte";
  // Outside the image: never a read outside the pixels.
  for (const auto& [x, y] : {std::pair{-1, 0}, {6, 0}, {0, 5}, {INT32_MIN, INT32_MAX}}) {
    EXPECT_EQ(ReadPixelColor(handle, x, y), 0u) << x << "," << y;
  }
  EXPECT_EQ(FreeImage(handle), 1);

  // 0, a released handle and one never handed out: every entry point does nothing and returns 0
  // (none returns anything negative, so the sum shows any that does not).
  const std::uint8_t tables[768] = {};
  for (const ImageHandle unknown : {ImageHandle{0}, handle, ImageHandle{12345}}) {
    record.fill(-7);
    EXPECT_EQ(GetImageInfo(unknown, record), 0);
    EXPECT_EQ(record, ImageInfoRecord({-7, -7, -7, -7, -7, -7, -7, -7, -7, -7})) << "untouched";
    const std::int64_t sum =
        std::int64_t{0} + ReadPixelColor(unknown, 0, 0) + CropImage(unknown, 0, 0, 1, 1) +
        FreeImage(unknown) + ConvertTo24Bit(unknown) + ReduceTo16Bit(unknown, 0, 0) +
        ReduceTo8Bit(unknown, 0, 0) + EnableRleCompression(unknown) + MakeGreyscale(unknown, 255) +
        TintRgb(unknown, 100, 0, 0) + ScaleRgb(unknown, 1400, 1000, 725) +
        AdjustClarityRgb(unknown, 100, 100, 100) + ApplyLookupTables(unknown, tables) +
        ResizeImage(unknown, 10, 10) + RotateImage(unknown, 5000, 0xFFFFFF) +
        SaveBmp(folder.File("a.bmp"), unknown) + SaveJpeg(folder.File("a.jpg"), unknown, 80, 0) +
        SavePng(folder.File("a.png"), unknown, 0);
    EXPECT_EQ(sum, 0) << unknown;
  }
  EXPECT_TRUE(folder.Entries().empty()) << "a save of no image must not create a file";
  EXPECT_NE(RegisterBitmap(testsupport::LetterF()), handle) << "handles are not reused";
  ResetHandleTable();
}

}  // namespace
