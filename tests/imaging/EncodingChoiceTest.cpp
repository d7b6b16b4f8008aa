// What a JPEG save writes when the library takes a shorter way: straight from the file's
// coefficients, and greyscale images as one component.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "imaging/ColorEffects.h"
#include "imaging/HandleTable.h"
#include "imaging/JpegCodec.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;
using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

// A JPEG file's quantisation tables: its DQT segments as written, up to the frame header.
std::string Tables(const Bytes& file) {
  const std::string text(file.begin(), file.end());
  const std::size_t start = text.find("\xFF\xDB");
  return text.substr(start, std::min(text.find("\xFF\xC0"), text.find("\xFF\xC2")) - start);
}

class EncodingChoiceTest : public ::testing::Test {
 protected:
  // The JPEG file a save writes: of a bitmap's pixels, or of a file loaded and saved unedited.
  Bytes Saved(ImageHandle handle, int quality, bool progressive = false) {
    EXPECT_EQ(SaveJpeg(folder.File("out.jpg"), handle, quality, progressive ? 1 : 0), 1);
    FreeImage(handle);
    return ReadFileBytes(folder.File("out.jpg"));
  }
  Bytes Saved(const Bitmap& bitmap, int quality) { return Saved(RegisterBitmap(bitmap), quality); }
  Bytes Resaved(const Bytes& file, int quality, bool progressive = false) {
    WriteFileBytes(folder.File("in.jpg"), file);
    return Saved(LoadImageFile(folder.File("in.jpg")), quality, progressive);
  }
  TempFolder folder;
};

TEST_F(EncodingChoiceTest, AnUneditedJpegIsRequantisedStraightFromItsCoefficients) {
  // Saved again at its own quality, the coefficients stay as they are: the very same file, where
  // a round through pixels would lose a little more. Saved at another quality, it takes the tables
  // a save of pixels writes there, and shows the photo as closely.
  const Bitmap photo = PhotoLike(61, 37);
  const Bytes half = Saved(photo, 50);
  EXPECT_EQ(Resaved(half, 50), half);
  const Bytes requantised = Resaved(Saved(photo, 100), 50);
  EXPECT_EQ(Tables(requantised), Tables(half));
  EXPECT_GT(Psnr(*jpeg::Decode(requantised), *jpeg::Decode(half)), 40.0);
  const Bytes progressive = Resaved(half, 80, true);
  EXPECT_NE(std::string(progressive.begin(), progressive.end()).find("\xFF\xC2"),
            std::string::npos);
}

TEST_F(EncodingChoiceTest, AGreyImageIsWrittenAsOneComponentWithTheSamePixels) {
  // One component or three, the same grey bitmap decodes to exactly the same pixels.
  Bitmap grey = PhotoLike(45, 31);
  imaging::MakeGreyscale(grey, 255);
  grey.grey = true;
  Bitmap unmarked = grey;
  unmarked.grey = false;
  EXPECT_TRUE(jpeg::ReadHeader(Saved(grey, 85))->greyscale) << "one component";
  EXPECT_TRUE(jpeg::Decode(Saved(grey, 85))->grey) << "and read back as grey";
  EXPECT_EQ(jpeg::Decode(Saved(grey, 85))->pixels, jpeg::Decode(Saved(unmarked, 85))->pixels);

  // Edits that treat the channels alike keep an image grey; those that may colour it do not.
  ImageHandle handle = RegisterBitmap(PhotoLike(47, 33));
  const auto greyscale = [&] {
    EXPECT_EQ(SaveJpeg(folder.File("out.jpg"), handle, 85, 0), 1);
    return jpeg::ReadHeader(ReadFileBytes(folder.File("out.jpg")))->greyscale;
  };
  std::array<std::uint8_t, 768> negative{};
  for (std::size_t i = 0; i < negative.size(); ++i) negative[i] = std::uint8_t(255 - i % 256);
  MakeGreyscale(handle, 255);
  handle = CropImage(handle, 1, 1, 45, 31);
  RotateImage(handle, 5000, 0xFFFFFF);
  ResizeImage(handle, 30, 20);
  ApplyLookupTables(handle, negative.data());
  EXPECT_TRUE(greyscale());
  TintRgb(handle, 0, 0, 100);
  EXPECT_FALSE(greyscale());
  MakeGreyscale(handle, 255);
  RotateImage(handle, 5000, 0x0000FF);  // on a red background
  EXPECT_FALSE(greyscale());
  FreeImage(handle);
}

}  // namespace
