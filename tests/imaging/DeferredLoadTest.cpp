// Loads that leave work for the first use, and the files the library remembers between calls:
// whatever the library defers or remembers, every call answers as if each load decoded its file
// at once and nothing were remembered.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/TestSupport.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

using namespace imaging;
using Bytes = std::vector<std::uint8_t>;
using testsupport::PixelAt;

Bytes EncodedJpeg(const Bitmap& bitmap, int quality, bool progressive) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = jpeg::Encode(bitmap, quality, progressive, stream);
  std::fclose(stream);
  Bytes bytes(buffer, buffer + (written ? size : 0));
  std::free(buffer);
  return bytes;
}

// The bitmap scaled up by a whole factor, each pixel a square: large and still asymmetric.
Bitmap Enlarged(const Bitmap& bitmap, int factor) {
  Bitmap large = *MakeBitmap(bitmap.width * factor, bitmap.height * factor);
  for (int y = 0; y < large.height; ++y) {
    for (int x = 0; x < large.width; ++x) {
      testsupport::SetPixel(large, x, y, PixelAt(bitmap, x / factor, y / factor));
    }
  }
  return large;
}

// The bitmap with red and blue swapped: the same size and structure, other content.
Bitmap RedBlueSwapped(Bitmap bitmap) {
  for (std::size_t i = 0; i < bitmap.pixels.size(); i += 3)
    std::swap(bitmap.pixels[i], bitmap.pixels[i + 2]);
  return bitmap;
}

class DeferredLoadTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHandleTable(); }
  void TearDown() override {
    EXPECT_EQ(LiveImageCount(), 0u) << "an image was not released";
    ResetHandleTable();
  }
  testsupport::TempFolder folder;
};

TEST_F(DeferredLoadTest, ADecodeThatFailsAtItsFirstUseActsAsAFailedLoad) {
  // Headers that read, image data a decode refuses: one scan more than the limit.
  const std::string path = folder.File("scans.jpg");
  testsupport::WriteFileBytes(path, testsupport::GreyJpegWithScans(kMaxJpegScans + 1));
  EXPECT_EQ(LoadImageFile(path), 0u) << "LoadImageFile reads the image data at once";

  // After a save that fails, every entry point answers as for no image: 0 (none answers anything
  // negative, so the sum shows any that does not), the record untouched.
  const ImageHandle handle = LoadJpeg(path);
  EXPECT_EQ(SaveBmp(folder.File("a.bmp"), handle), 0);
  ImageInfoRecord record;
  record.fill(-7);
  EXPECT_EQ(GetImageInfo(handle, record), 0);
  EXPECT_EQ(record, ImageInfoRecord({-7, -7, -7, -7, -7, -7, -7, -7, -7, -7})) << "untouched";
  EXPECT_EQ(std::int64_t{0} + ReadPixelColor(handle, 0, 0) + MakeGreyscale(handle, 255) +
                ConvertTo24Bit(handle) + SaveJpeg(folder.File("a.jpg"), handle, 80, 0) +
                SavePng(folder.File("a.png"), handle, 0),
            0);
  EXPECT_EQ(FreeImage(handle), 0);

  // Whatever the first use is: a save straight from the coefficients, a shrinking resize (a
  // reduced-scale decode), a crop.
  const ImageHandle saved = LoadJpeg(path);
  EXPECT_EQ(SaveJpeg(folder.File("b.jpg"), saved, 80, 1), 0);
  EXPECT_EQ(FreeImage(saved), 0);
  const ImageHandle shrunk = LoadJpeg(path);
  EXPECT_EQ(ResizeImage(shrunk, 2, 2), 0);
  EXPECT_EQ(FreeImage(shrunk), 0);
  EXPECT_EQ(CropImage(LoadJpeg(path), 0, 0, 4, 4), 0u);
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"scans.jpg"})
      << "nothing written and no temporary left";
}

TEST_F(DeferredLoadTest, AShrinkingResizeDecodesAtAReducedScaleToTheSameImage) {
  // The letter F at 384 × 320: shrinking to 96 × 80 decodes at 1/4, to 100 × 70 at 1/2; a resize
  // that enlarges a side decodes in full.
  const std::string path = folder.File("f.jpg");
  testsupport::WriteFileBytes(path, EncodedJpeg(Enlarged(testsupport::LetterF(), 64), 95, false));
  // The smallest scale at which both sides are still at least the size asked for.
  for (const auto& [width, height, denominator] :
       {std::tuple{96, 80, 4}, {100, 70, 2}, {70, 100, 2}, {48, 40, 8}, {48, 41, 4}, {193, 1, 1}}) {
    EXPECT_EQ(jpeg::ScaleDenominator({.width = 384, .height = 320}, width, height), denominator);
  }
  for (const auto& [width, height] : {std::pair{96, 80}, {100, 70}, {500, 300}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const ImageHandle deferred = LoadJpeg(path);
    const ImageHandle decoded = LoadImageFile(path);
    ReadPixelColor(decoded, 0, 0);  // decoded in full before the resize
    ASSERT_EQ(ResizeImage(deferred, width, height), 1);
    ASSERT_EQ(ResizeImage(decoded, width, height), 1);
    const Bitmap fast = testsupport::PixelsOf(deferred);
    const Bitmap full = testsupport::PixelsOf(decoded);
    EXPECT_EQ(fast.width, width);
    EXPECT_EQ(fast.height, height);
    EXPECT_GT(testsupport::Psnr(fast, full), 30.0);
    // Top left in the F's stem is red, the bottom right corner blue: no flip, no channel swap.
    EXPECT_GT(PixelAt(fast, 1, 1).red, 200);
    EXPECT_LT(PixelAt(fast, 1, 1).blue, 60);
    EXPECT_GT(PixelAt(fast, width - 2, height - 2).blue, 200);
    FreeImage(deferred);
    FreeImage(decoded);
  }
}

TEST(CoefficientImageTest, GivesExactlyThePixelsOfAPlainDecode) {
  const Bitmap photo = testsupport::PhotoLike(37, 23);
  Bitmap grey = photo;
  grey.grey = true;  // its red channel, written as one component
  const Bytes baseline = EncodedJpeg(photo, 90, false);
  const std::vector<Bytes> files = {
      baseline, EncodedJpeg(photo, 75, true), EncodedJpeg(grey, 90, false),
      // Cut in the image data: the rest is the decoder's grey, the same both ways.
      Bytes(baseline.begin(),
            baseline.begin() + static_cast<std::ptrdiff_t>(baseline.size() * 3 / 4))};
  for (std::size_t index = 0; index < files.size(); ++index) {
    SCOPED_TRACE(index);
    const std::unique_ptr<jpeg::CoefficientImage> image =
        jpeg::CoefficientImage::Read(files[index]);
    ASSERT_NE(image, nullptr);
    const std::optional<Bitmap> pixels = image->Pixels();
    const std::optional<Bitmap> decoded = jpeg::Decode(files[index]);
    ASSERT_TRUE(pixels && decoded);
    EXPECT_EQ(pixels->pixels, decoded->pixels);
    EXPECT_EQ(pixels->grey, index == 2);
  }
  // And it refuses what the decode refuses.
  const Bytes tooManyScans = testsupport::GreyJpegWithScans(kMaxJpegScans + 1);
  EXPECT_EQ(jpeg::CoefficientImage::Read(tooManyScans), nullptr);
  EXPECT_FALSE(jpeg::Decode(tooManyScans));
  EXPECT_NE(jpeg::CoefficientImage::Read(testsupport::GreyJpegWithScans(kMaxJpegScans)), nullptr);
}

TEST_F(DeferredLoadTest, ARememberedFileIsNeverTakenForAChangedOne) {
  // Released as loaded, then replaced under its name: the new content loads.
  const std::string path = folder.File("f.jpg");
  const Bitmap letter8 = Enlarged(testsupport::LetterF(), 8);
  testsupport::WriteFileBytes(path, EncodedJpeg(letter8, 100, false));
  FreeImage(LoadImageFile(path));
  testsupport::WriteFileBytes(path, EncodedJpeg(RedBlueSwapped(letter8), 100, false));
  const ImageHandle reloaded = LoadImageFile(path);
  EXPECT_GT(ReadPixelColor(reloaded, 0, 0) >> 16, 200u) << "the F is blue now";
  FreeImage(reloaded);

  // Written by the library (so known to decode), then replaced by a file that does not decode.
  const ImageHandle letter = RegisterBitmap(testsupport::LetterF());
  ASSERT_EQ(SaveJpeg(path, letter, 80, 0), 1);
  testsupport::WriteFileBytes(path, testsupport::GreyJpegWithScans(kMaxJpegScans + 1));
  EXPECT_EQ(LoadImageFile(path), 0u);

  // A BMP saved again unchanged leaves the same file; replaced in between, it is written again;
  // after an edit it is written anew.
  const std::string bmp = folder.File("f.bmp");
  ASSERT_EQ(SaveBmp(bmp, letter), 1);
  const Bytes first = testsupport::ReadFileBytes(bmp);
  EXPECT_EQ(SaveBmp(bmp, letter), 1);
  EXPECT_EQ(testsupport::ReadFileBytes(bmp), first);
  testsupport::WriteFileText(bmp, "replaced");
  EXPECT_EQ(SaveBmp(bmp, letter), 1);
  EXPECT_EQ(testsupport::ReadFileBytes(bmp), first);
  ASSERT_EQ(TintRgb(letter, 0, 0, 100), 1);
  EXPECT_EQ(SaveBmp(bmp, letter), 1);
  EXPECT_NE(testsupport::ReadFileBytes(bmp), first);
  FreeImage(letter);
}

TEST_F(DeferredLoadTest, BmpAndPngDecodeFromTheFileTheyWereLoadedFrom) {
  // 1001 × 203: the BMP's rows (3004 bytes with padding) span several read blocks and end in a
  // partial one; the PNG is larger than the reader's buffer.
  const Bitmap photo = testsupport::PhotoLike(1001, 203);
  const std::string bmp = testsupport::SaveImageFile(photo, folder.File("photo.bmp"));
  const std::string png = testsupport::SaveImageFile(photo, folder.File("photo.png"));
  ResetHandleTable();  // forgets that the library wrote the PNG, so it is decoded at load
  for (const std::string& path : {bmp, png}) {
    SCOPED_TRACE(path);
    const ImageHandle loaded = LoadImageFile(path);
    EXPECT_EQ(testsupport::PixelsOf(loaded).pixels, photo.pixels);
    FreeImage(loaded);
  }

  // Replaced under its name after the load: the image is still the file it was loaded from.
  const ImageHandle deferred = LoadBmp(bmp);
  const std::string other =
      testsupport::SaveImageFile(testsupport::LetterF(), folder.File("o.bmp"));
  ASSERT_EQ(std::rename(other.c_str(), bmp.c_str()), 0);
  EXPECT_EQ(testsupport::PixelsOf(deferred).pixels, photo.pixels);
  FreeImage(deferred);

  // Written to in place after the load, with an image of the same size: the decode fails and
  // nothing is written, rather than the image reported at the load turning into another. (The
  // file's time is set back first, so the write shows however coarse the file system's clock.)
  testsupport::SaveImageFile(RedBlueSwapped(photo), other);
  testsupport::SaveImageFile(photo, bmp);
  ResetHandleTable();
  std::filesystem::last_write_time(bmp, std::filesystem::file_time_type{});
  const ImageHandle rewritten = LoadBmp(bmp);
  testsupport::WriteFileBytes(bmp, testsupport::ReadFileBytes(other));
  EXPECT_EQ(SaveJpeg(folder.File("rewritten.jpg"), rewritten, 80, 0), 0);
  EXPECT_EQ(FreeImage(rewritten), 0);
  EXPECT_FALSE(testsupport::FileExists(folder.File("rewritten.jpg")));
}

}  // namespace
