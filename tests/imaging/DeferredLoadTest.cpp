// Loads that leave work for the first use, and the files the library remembers between calls:
// whatever the library defers or remembers, every call answers as if each load decoded its file
// at once and nothing were remembered.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "imaging/Geometry.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;
using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

// The letter F enlarged to width × height: large and still asymmetric.
Bitmap LargeF(int width, int height) {
  Bitmap large = LetterF();
  imaging::Resize(large, width, height);
  return large;
}

class DeferredLoadTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHandleTable(); }
  void TearDown() override {
    EXPECT_EQ(LiveImageCount(), 0u) << "an image was not released";
    ResetHandleTable();
  }
  TempFolder folder;
};

TEST_F(DeferredLoadTest, ADecodeThatFailsAtItsFirstUseActsAsAFailedLoad) {
  // Headers that read, image data a decode refuses: one scan more than the limit, in place of a
  // file the library wrote (so known to decode).
  const std::string path = SaveImageFile(LetterF(), folder.File("scans.jpg"));
  WriteFileBytes(path, GreyJpegWithScans(kMaxJpegScans + 1));
  EXPECT_EQ(LoadImageFile(path), 0u) << "LoadImageFile reads the image data at once";
  // Whatever the first use is (a save of pixels, a save straight from the coefficients, a
  // shrinking resize that decodes at a reduced scale, a crop), it fails, and then every entry
  // point answers as for no image: 0 (none answers anything negative, so the sum shows any that
  // does not), the record untouched.
  const std::function<std::int64_t(ImageHandle)> firstUses[] = {
      [&](ImageHandle handle) { return SaveBmp(folder.File("a.bmp"), handle); },
      [&](ImageHandle handle) { return SaveJpeg(folder.File("a.jpg"), handle, 80, 1); },
      [](ImageHandle handle) { return ResizeImage(handle, 2, 2); },
      [](ImageHandle handle) { return CropImage(handle, 0, 0, 4, 4); }};
  for (const auto& firstUse : firstUses) {
    const ImageHandle handle = LoadJpeg(path);
    EXPECT_EQ(firstUse(handle), 0);
    ImageInfoRecord record;
    record.fill(-7);
    EXPECT_EQ(std::int64_t{0} + GetImageInfo(handle, record) + ReadPixelColor(handle, 0, 0) +
                  MakeGreyscale(handle, 255) + ConvertTo24Bit(handle) +
                  SaveJpeg(folder.File("b.jpg"), handle, 80, 0) +
                  SavePng(folder.File("a.png"), handle, 0) + FreeImage(handle),
              0);
    EXPECT_EQ(record, ImageInfoRecord({-7, -7, -7, -7, -7, -7, -7, -7, -7, -7})) << "untouched";
  }
  EXPECT_EQ(folder.Entries(), std::vector<std::string>{"scans.jpg"})
      << "nothing written and no temporary left";
}

TEST_F(DeferredLoadTest, AShrinkingResizeDecodesAtAReducedScaleToTheSameImage) {
  // The letter F at 384 × 320: shrinking to 96 × 80 decodes at 1/4, to 100 × 70 at 1/2; a resize
  // that enlarges a side decodes in full.
  const std::string path = SaveImageFile(LargeF(384, 320), folder.File("f.jpg"));
  ResetHandleTable();  // forgets that the library wrote it, so a load reads the file
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
    EXPECT_EQ(ResizeImage(deferred, width, height), 1);
    EXPECT_EQ(ResizeImage(decoded, width, height), 1);
    const Bitmap fast = PixelsOf(deferred);
    const Bitmap full = PixelsOf(decoded);
    EXPECT_EQ(std::pair(fast.width, fast.height), std::pair(width, height));
    EXPECT_GT(Psnr(fast, full), 30.0);
    // Top left in the F's stem is red, the bottom right corner blue: no flip, no channel swap.
    EXPECT_GT(PixelAt(fast, 1, 1).red, 200);
    EXPECT_LT(PixelAt(fast, 1, 1).blue, 60);
    EXPECT_GT(PixelAt(fast, width - 2, height - 2).blue, 200);
    FreeImage(deferred);
    FreeImage(decoded);
  }
}

TEST_F(DeferredLoadTest, CoefficientsReadWholeGiveExactlyThePixelsOfAPlainDecode) {
  const Bitmap photo = PhotoLike(37, 23);
  Bitmap grey = photo;
  grey.grey = true;  // its red channel, written as one component
  const Bytes colour = ReadFileBytes(SaveImageFile(photo, folder.File("baseline.jpg")));
  const Bytes files[] = {
      colour, ReadFileBytes(SaveImageFile(photo, folder.File("progressive.jpg"), true)),
      ReadFileBytes(SaveImageFile(grey, folder.File("grey.jpg"))),
      // Cut in the image data: the rest is the decoder's grey, the same both ways.
      Bytes(colour.begin(), colour.begin() + static_cast<std::ptrdiff_t>(colour.size() * 3 / 4))};
  for (const Bytes& file : files) {
    SCOPED_TRACE(&file - files);
    const imaging::Result<std::unique_ptr<jpeg::CoefficientImage>> image =
        jpeg::CoefficientImage::Read(file);
    const std::optional<Bitmap> pixels = image ? (*image)->Pixels() : std::nullopt;
    const imaging::Result<Bitmap> decoded = jpeg::Decode(file);
    EXPECT_TRUE(pixels && decoded) << image.Reason() << decoded.Reason();
    if (!pixels || !decoded) continue;
    EXPECT_EQ(pixels->pixels, decoded->pixels);
    EXPECT_EQ(pixels->grey, &file == &files[2]);
  }
  // And it refuses what the decode refuses.
  const Bytes tooManyScans = GreyJpegWithScans(kMaxJpegScans + 1);
  EXPECT_EQ(jpeg::CoefficientImage::Read(tooManyScans).Reason(), "JPEG: more than 256 scans");
  EXPECT_EQ(jpeg::Decode(tooManyScans).Reason(), "JPEG: more than 256 scans");
  EXPECT_TRUE(jpeg::CoefficientImage::Read(GreyJpegWithScans(kMaxJpegScans)));
}

TEST_F(DeferredLoadTest, ARememberedFileIsNeverTakenForAChangedOne) {
  // Released as loaded, then replaced under its name: the new content loads.
  const std::string path = folder.File("f.jpg");
  const Bytes photo = ReadFileBytes(SaveImageFile(PhotoLike(48, 40), path));
  const Bytes letter = ReadFileBytes(SaveImageFile(LargeF(48, 40), folder.File("letter.jpg")));
  ResetHandleTable();  // forgets that the library wrote them
  WriteFileBytes(path, photo);
  FreeImage(LoadImageFile(path));
  WriteFileBytes(path, letter);
  const ImageHandle reloaded = LoadImageFile(path);
  // The photo's top left pixel is half red, the letter's full red.
  EXPECT_GT(ReadPixelColor(reloaded, 0, 0) & 0xFF, 200u) << "the letter now";
  FreeImage(reloaded);

  // A BMP saved again unchanged leaves the same file; replaced in between, it is written again;
  // after an edit it is written anew.
  const ImageHandle written = RegisterBitmap(LetterF());
  const std::string bmp = folder.File("f.bmp");
  ASSERT_EQ(SaveBmp(bmp, written), 1);
  const Bytes first = ReadFileBytes(bmp);
  EXPECT_EQ(SaveBmp(bmp, written), 1);
  EXPECT_EQ(ReadFileBytes(bmp), first);
  WriteFileText(bmp, "replaced");
  EXPECT_EQ(SaveBmp(bmp, written), 1);
  EXPECT_EQ(ReadFileBytes(bmp), first);
  ASSERT_EQ(TintRgb(written, 0, 0, 100), 1);
  EXPECT_EQ(SaveBmp(bmp, written), 1);
  EXPECT_NE(ReadFileBytes(bmp), first);
  FreeImage(written);
}

TEST_F(DeferredLoadTest, BmpAndPngDecodeFromTheFileTheyWereLoadedFrom) {
  // 1001 × 203: the BMP's rows (3004 bytes with padding) span several read blocks and end in a
  // partial one; the PNG is larger than the reader's buffer.
  const Bitmap photo = PhotoLike(1001, 203);
  const std::string bmp = SaveImageFile(photo, folder.File("photo.bmp"));
  const std::string png = SaveImageFile(photo, folder.File("photo.png"));
  ResetHandleTable();  // forgets that the library wrote the PNG, so it is decoded at load
  for (const std::string& path : {bmp, png}) {
    SCOPED_TRACE(path);
    const ImageHandle loaded = LoadImageFile(path);
    EXPECT_EQ(PixelsOf(loaded).pixels, photo.pixels);
    FreeImage(loaded);
  }

  // Replaced under its name after the load: the image is still the file it was loaded from.
  const ImageHandle deferred = LoadBmp(bmp);
  const std::string other = SaveImageFile(LetterF(), folder.File("o.bmp"));
  ASSERT_EQ(std::rename(other.c_str(), bmp.c_str()), 0);
  EXPECT_EQ(PixelsOf(deferred).pixels, photo.pixels);
  FreeImage(deferred);

  // Written to in place after the load, with an image of the same size: the decode fails and
  // nothing is written, rather than the image reported at the load turning into another. (The
  // file's time is set back first, so the write shows however coarse the file system's clock.)
  SaveImageFile(LargeF(1001, 203), other);
  SaveImageFile(photo, bmp);
  ResetHandleTable();
  std::filesystem::last_write_time(bmp, std::filesystem::file_time_type{});
  const ImageHandle rewritten = LoadBmp(bmp);
  WriteFileBytes(bmp, ReadFileBytes(other));
  EXPECT_EQ(SaveJpeg(folder.File("rewritten.jpg"), rewritten, 80, 0), 0);
  EXPECT_EQ(FailureReason(), "the file was changed while it was converted");
  EXPECT_EQ(FreeImage(rewritten), 0);
  EXPECT_FALSE(FileExists(folder.File("rewritten.jpg")));
}

}  // namespace
