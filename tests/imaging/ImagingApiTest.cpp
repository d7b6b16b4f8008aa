// The entry points' handle rules, independent of any codec or edit.
#include <gtest/gtest.h>

#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;

class ImagingApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHandleTable(); }
  void TearDown() override { EXPECT_EQ(LiveImageCount(), 0u) << "an image was not released"; }
};

TEST_F(ImagingApiTest, EveryEntryPointIgnoresNoImageAndUnknownHandles) {
  testsupport::TempFolder folder;
  for (ImageHandle handle : {ImageHandle{0}, ImageHandle{12345}}) {
    ImageInfoRecord record;
    record.fill(-7);
    EXPECT_EQ(GetImageInfo(handle, record), 0);
    for (std::int32_t value : record) EXPECT_EQ(value, -7) << "the record must stay untouched";
    EXPECT_EQ(ReadPixelColor(handle, 0, 0), 0u);
    EXPECT_EQ(CropImage(handle, 0, 0, 1, 1), 0u);
    EXPECT_EQ(FreeImage(handle), 0);
    EXPECT_EQ(ConvertTo24Bit(handle), 0);
    EXPECT_EQ(ReduceTo16Bit(handle, 0, 0), 0);
    EXPECT_EQ(ReduceTo8Bit(handle, 0, 0), 0);
    EXPECT_EQ(EnableRleCompression(handle), 0);
    EXPECT_EQ(MakeGreyscale(handle, 255), 0);
    EXPECT_EQ(TintRgb(handle, 100, 0, 0), 0);
    EXPECT_EQ(ScaleRgb(handle, 1400, 1000, 725), 0);
    EXPECT_EQ(AdjustClarityRgb(handle, 100, 100, 100), 0);
    std::uint8_t tables[768] = {};
    EXPECT_EQ(ApplyLookupTables(handle, tables), 0);
    EXPECT_EQ(ResizeImage(handle, 10, 10), 0);
    EXPECT_EQ(RotateImage(handle, 5000, 0xFFFFFF), 0);
    EXPECT_EQ(SaveBmp(folder.File("a.bmp"), handle), 0);
    EXPECT_EQ(SaveJpeg(folder.File("a.jpg"), handle, 80, 0), 0);
    EXPECT_EQ(SavePng(folder.File("a.png"), handle, 0), 0);
  }
  EXPECT_TRUE(folder.Entries().empty()) << "a save of no image must not create a file";
}

TEST_F(ImagingApiTest, InfoAndPixelReadsOfARegisteredImage) {
  const ImageHandle handle = RegisterBitmap(testsupport::LetterF());
  ASSERT_NE(handle, 0u);
  ImageInfoRecord record{};
  ASSERT_EQ(GetImageInfo(handle, record), 1);
  EXPECT_EQ(record[0], 24);
  EXPECT_EQ(record[1], 6);
  EXPECT_EQ(record[2], 5);
  EXPECT_EQ(ReadPixelColor(handle, 0, 0), 0x0000FFu) << "red is the lowest byte";
  EXPECT_EQ(ReadPixelColor(handle, 5, 4), 0xFF0000u) << "blue is the third byte";
  // Outside the image: never a read outside the pixels.
  EXPECT_EQ(ReadPixelColor(handle, -1, 0), 0u);
  EXPECT_EQ(ReadPixelColor(handle, 6, 0), 0u);
  EXPECT_EQ(ReadPixelColor(handle, 0, 5), 0u);
  EXPECT_EQ(ReadPixelColor(handle, INT32_MIN, INT32_MAX), 0u);
  EXPECT_EQ(FreeImage(handle), 1);
  EXPECT_EQ(FreeImage(handle), 0) << "a released handle is unknown";
}

TEST_F(ImagingApiTest, HandlesAreNotReusedWhileCounting) {
  const ImageHandle first = RegisterBitmap(testsupport::LetterF());
  FreeImage(first);
  const ImageHandle second = RegisterBitmap(testsupport::LetterF());
  EXPECT_NE(first, second);
  FreeImage(second);
}

}  // namespace
