// Photos as cameras write them: stored in any of the eight EXIF orientations, carrying EXIF data,
// an XMP packet and an ICC profile, some of it damaged.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "imaging/Geometry.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "imaging/PhotoMetadata.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/PhotoFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;
using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

class PhotoTest : public ::testing::Test {
 protected:
  ~PhotoTest() override { ResetHandleTable(); }

  // The bitmap saved as `name` (JPEG or PNG by its extension) with the metadata put in.
  std::string Photo(const Bitmap& bitmap, const std::string& name, const Bytes& exif,
                    const Bytes& xmp = {}, const Bytes& icc = {}, std::size_t chunkBytes = 60000) {
    const std::string path = SaveImageFile(bitmap, folder.File(name));
    const Bytes plain = ReadFileBytes(path);
    WriteFileBytes(path, name.ends_with(".jpg")
                             ? WithSegments(plain, CameraSegments(exif, xmp, icc, chunkBytes))
                             : WithChunks(plain, PngMetadataChunks(exif, xmp, icc)));
    return path;
  }

  // Loads `input`, applies `edit` and saves it as `output` (by extension); the pixels saved.
  Bitmap Convert(const std::string& input, const std::string& output,
                 const PhotoHandling& handling = {},
                 const std::function<ImageHandle(ImageHandle)>& edit = nullptr) {
    ImageHandle handle = LoadImageFile(input, handling);
    EXPECT_NE(handle, 0u) << input;
    if (edit) handle = edit(handle);
    const std::string path = folder.File(output);
    const std::int32_t saved = output.ends_with(".jpg")   ? SaveJpeg(path, handle, 100, 0)
                               : output.ends_with(".png") ? SavePng(path, handle, 0)
                                                          : SaveBmp(path, handle);
    EXPECT_EQ(saved, 1) << output;
    FreeImage(handle);
    // The pixels saved, as a load with the same handling sees them.
    const ImageHandle reloaded = LoadImageFile(path, handling);
    Bitmap bitmap = PixelsOf(reloaded);
    FreeImage(reloaded);
    return bitmap;
  }

  TempFolder folder;
};

TEST_F(PhotoTest, EveryOrientationLoadsUprightAlsoAfterCropResizeAndRotation) {
  const Bitmap upright = LetterF();
  // Clockwise a quarter, (x, y) shows the upright pixel (y, H − 1 − x): what a camera stores for
  // orientation 8.
  const Bitmap turned = StoredForOrientation(upright, 8);
  const std::vector<std::string> cropped = {"BBBB", "RRBB", "BBBB"};  // from (1, 1), 4 × 3
  const auto crop = [](ImageHandle handle) { return CropImage(handle, 1, 1, 4, 3); };
  const auto resize = [](ImageHandle handle) { return ResizeImage(handle, 18, 15), handle; };
  const auto rotate = [](ImageHandle handle) { return RotateImage(handle, 90'000, 0), handle; };
  for (const std::string format : {".png", ".jpg"}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      // Each orientation in another of the forms EXIF and XMP allow.
      const auto row = static_cast<std::size_t>(orientation);
      const ExifForm& form = kExifForms[row % std::size(kExifForms)];
      const XmpForm xmpForm = kXmpForms[row % std::size(kXmpForms)];
      SCOPED_TRACE(format + " orientation " + std::to_string(orientation) + " " + form.Name());
      const std::string input =
          Photo(StoredForOrientation(upright, orientation), "in" + format,
                CameraExif(orientation, {6, 5}, false, form), XmpPacket(orientation, xmpForm));
      EXPECT_EQ(ImageSizeOf(input), std::pair(6, 5)) << "the size told before the pixels decode";
      EXPECT_EQ(Shape(Convert(input, "out.png")), Shape(upright));
      EXPECT_EQ(Shape(Convert(input, "out.png", {}, crop)), cropped);
      // Enlarged three times, the centre of each pixel's square is exactly that pixel.
      const std::vector<std::string> resized = Shape(Convert(input, "out.png", {}, resize));
      for (std::size_t at = 0; at < 30; ++at) {
        EXPECT_EQ(resized[at / 6 * 3 + 1][at % 6 * 3 + 1], Shape(upright)[at / 6][at % 6]) << at;
      }
      EXPECT_EQ(Shape(Convert(input, "out.png", {}, rotate)), Shape(turned));
      // Upright in a saved JPEG too, which says orientation 1. (A second JPEG generation blurs a
      // one-pixel letter beyond telling, so from a JPEG only the size is compared.)
      const Bitmap jpeg = Convert(input, "out.jpg");
      EXPECT_EQ(std::pair(jpeg.width, jpeg.height), std::pair(6, 5));
      EXPECT_TRUE(format == ".jpg" || Shape(jpeg) == Shape(upright));
      EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).exif, CameraExif(1, {6, 5}, false, form));
      EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).xmp, XmpPacket(1, xmpForm));
      // Without turning, the stored pixels and their tag stay.
      EXPECT_EQ(Shape(Convert(input, "out.png", {false, true})),
                Shape(StoredForOrientation(upright, orientation)));
      EXPECT_EQ(ExifOrientation(MetadataOfFile(folder.File("out.png")).exif), orientation);
    }
  }
}

TEST_F(PhotoTest, AnUneditedJpegTurnsUprightInItsCoefficients) {
  // Whole MCUs (16 × 16); half an MCU on both sides, the chroma's last block half full; even sides
  // whose last luma and chroma blocks hold 6 and 7 or 6 and 3 samples; odd sides, whose chroma
  // cannot mirror sample for sample, so only a turn that mirrors neither side stays off pixels;
  // and odd sides of a greyscale photo, whose one component mirrors at any size.
  const std::tuple<int, int, bool> kPhotos[] = {
      {48, 32, false}, {40, 56, false}, {46, 38, false}, {45, 37, false}, {45, 37, true}};
  for (const auto& [width, height, grey] : kPhotos) {
    Bitmap upright = PhotoLike(width, height);
    // A grey bitmap is written as its red channel, and read back with red = green = blue.
    for (std::size_t at = 0; grey && at < upright.pixels.size(); at += 3) {
      upright.pixels[at + 1] = upright.pixels[at + 2] = upright.pixels[at];
    }
    for (int orientation = 2; orientation <= 8; ++orientation) {
      SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + (grey ? " grey" : "") +
                   " orientation " + std::to_string(orientation));
      Bitmap stored = StoredForOrientation(upright, orientation);
      stored.grey = grey;
      const std::string input =
          Photo(stored, "in.jpg", CameraExif(orientation, {width, height}, false));
      const Bitmap saved = Convert(input, "out.jpg");
      EXPECT_EQ(std::pair(saved.width, saved.height), std::pair(width, height));
      if (saved.width != width || saved.height != height) continue;
      EXPECT_GT(Psnr(saved, upright), 30.0);
      // Turned in its coefficients, saved at quality 100, the photo shows the stored pixels turned
      // upright within a few levels at every pixel: the mixed blocks at the edges too, where a
      // wrong shift shows.
      const Bytes file = ReadFileBytes(input);
      const bool turns = jpeg::TurnsInCoefficients(*jpeg::ReadHeader(file), orientation);
      EXPECT_EQ(turns, grey || (width % 2 == 0 && height % 2 == 0) || orientation == 5);
      imaging::Result<Bitmap> expected = jpeg::Decode(file);
      const bool turned = expected && Orient(*expected, orientation);
      EXPECT_TRUE(turned) << expected.Reason();
      if (!turned) continue;
      EXPECT_LE(turns ? LargestDifference(saved, *expected) : 0, 5);
    }
  }
}

TEST_F(PhotoTest, MetadataRoundTripByteForByteThroughEveryOutputThatKeepsThem) {
  const Bitmap photo = PhotoLike(41, 29);
  const Bytes exif = CameraExif(1, {41, 29}, true);
  const Bytes xmp = XmpPacket(1);
  // Large enough for two APP2 chunks, and stored in chunks of another size than ours.
  const Bytes icc = IccProfile(100'000);
  const std::string jpeg = Photo(photo, "camera.jpg", exif, xmp, icc);
  const std::string png = Photo(photo, "camera.png", exif, xmp, icc);
  const std::string plainJpeg = SaveImageFile(photo, folder.File("plain.jpg"));
  const std::string plainPng = SaveImageFile(photo, folder.File("plain.png"));
  for (const std::string& input : {jpeg, png}) {
    for (const std::string extension : {".jpg", ".png", ".bmp"}) {
      SCOPED_TRACE(input + " to " + extension);
      // Stripped, and always in a BMP, which holds the pixels only, the output is the very file
      // the photo without metadata gives.
      Convert(input, "stripped" + extension, {true, extension == ".bmp"});
      Convert(input.ends_with(".jpg") ? plainJpeg : plainPng, "without" + extension);
      EXPECT_EQ(ReadFileBytes(folder.File("stripped" + extension)),
                ReadFileBytes(folder.File("without" + extension)));
      if (extension == ".bmp") continue;
      // Kept, byte for byte, and again from what was written.
      Convert(input, "out" + extension);
      Convert(folder.File("out" + extension), "again" + extension);
      for (const std::string written : {"out", "again"}) {
        const PhotoMetadata found = MetadataOfFile(folder.File(written + extension));
        EXPECT_EQ(std::tie(found.exif, found.xmp, found.icc), std::tie(exif, xmp, icc)) << written;
      }
    }
  }
}

TEST_F(PhotoTest, AProfileGoesOnlyWithAnOutputOfItsColourSpace) {
  const Bytes cmyk = LibjpegFile(32, 16, 4, JCS_CMYK, JCS_CMYK, false, Bytes(32 * 16 * 4, 90));
  const Bytes colour = ReadFileBytes(SaveImageFile(LetterF(), folder.File("f.jpg")));
  const Bytes greyFile = LibjpegFile(9, 7, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, Bytes(63, 90));
  const struct {
    const char* source;
    Bytes jpeg;
    const char* space;
    bool keptInJpeg;  // a PNG is always RGB
    bool keptInPng;
  } kCases[] = {{"CMYK photo, CMYK profile", cmyk, "CMYK", false, false},
                {"colour photo, grey profile", colour, "GRAY", false, false},
                {"grey photo, grey profile", greyFile, "GRAY", true, false},
                {"grey photo, RGB profile", greyFile, "RGB ", false, true}};
  for (const auto& photo : kCases) {
    SCOPED_TRACE(photo.source);
    const Bytes icc = IccProfile(500, photo.space);
    WriteFileBytes(folder.File("in.jpg"),
                   WithSegments(photo.jpeg, CameraSegments({}, {}, icc, 400)));
    Convert(folder.File("in.jpg"), "out.jpg");
    Convert(folder.File("in.jpg"), "out.png");
    EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).icc.empty(), !photo.keptInJpeg);
    EXPECT_EQ(MetadataOfFile(folder.File("out.png")).icc.empty(), !photo.keptInPng);
  }
}

TEST_F(PhotoTest, TurningOrEditingRewritesTheMetadataAndDamagedMetadataIsDroppedOrPassedOver) {
  const Bitmap stored = StoredForOrientation(LetterF(), 6);  // 5 × 6
  for (std::size_t row = 0; row < std::size(kExifForms); ++row) {
    const ExifForm& form = kExifForms[row];
    const XmpForm xmpForm = kXmpForms[row % std::size(kXmpForms)];
    SCOPED_TRACE(form.Name() + " XMP form " + std::to_string(int(xmpForm)));
    const std::string input =
        Photo(stored, "in.jpg", CameraExif(6, {5, 6}, true, form), XmpPacket(6, xmpForm));
    // Turned: orientation 1, the upright size, the thumbnail (at the end) cut off.
    Convert(input, "out.jpg");
    EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).exif, CameraExif(1, {6, 5}, false, form));
    EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).xmp, XmpPacket(1, xmpForm));
    // Not turned and not edited: everything as it was, thumbnail included.
    Convert(input, "out.jpg", {false, true});
    EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).exif, CameraExif(6, {5, 6}, true, form));
    EXPECT_EQ(MetadataOfFile(folder.File("out.jpg")).xmp, XmpPacket(6, xmpForm));
    // Not turned but cropped: the crop's size, no thumbnail, the orientation tag as it was.
    Convert(input, "out.png", {false, true},
            [](ImageHandle handle) { return CropImage(handle, 0, 0, 4, 3); });
    EXPECT_EQ(MetadataOfFile(folder.File("out.png")).exif, CameraExif(6, {4, 3}, false, form));
  }
  const Bytes exif = CameraExif(6, {5, 6}, true);

  // Damaged: dropped or passed over, while the photo converts.
  const Bytes icc = IccProfile(3000);
  // Offsets within CameraExif: IFD0 at 4, IFD0's next link at 46, the model's offset at 18, the
  // orientation value at 30, the EXIF directory's offset at 42, the date's count at 68.
  const struct {
    const char* attack;
    Bytes exif;
    int orientation;  // that the photo then shows upright from; 1 when the EXIF is dropped
    bool exifKept;
  } kCases[] = {
      {"first directory past the end", Patched(exif, 4, 5000), 1, false},
      {"first directory overlapping the end",
       Patched(exif, 4, static_cast<std::uint32_t>(exif.size() - 6)), 1, false},
      {"IFD0 naming itself as the next directory", Patched(exif, 46, 8), 6, true},
      {"EXIF directory pointing back at IFD0", Patched(exif, 42, 8), 6, true},
      {"model text past the end", Patched(exif, 18, 0xFFFFFFF0), 6, true},
      {"a count of four billion", Patched(exif, 68, 4'000'000'000), 6, true},
      {"orientation 9", Patched(exif, 30, 9), 1, true},
      {"not TIFF at all", Bytes{'I', 'I', 43, 0, 8, 0, 0, 0}, 1, false},
  };
  for (const auto& damaged : kCases) {
    SCOPED_TRACE(damaged.attack);
    const std::string photo = Photo(stored, "in.jpg", damaged.exif, {}, icc);
    const Bitmap upright = damaged.orientation == 6 ? LetterF() : stored;
    EXPECT_EQ(Shape(Convert(photo, "out.jpg")), Shape(upright));
    EXPECT_EQ(Shape(Convert(photo, "out.png")), Shape(upright));
    EXPECT_EQ(MetadataOfFile(folder.File("out.png")).exif.empty(), !damaged.exifKept);
    EXPECT_EQ(MetadataOfFile(folder.File("out.png")).icc, icc) << "the profile still travels";
  }
  // A profile whose chunks do not add up is dropped; the photo converts.
  const Bytes plain = ReadFileBytes(SaveImageFile(stored, folder.File("in.jpg")));
  std::vector<Piece> chunks = CameraSegments({}, {}, icc, 1000);
  const std::vector<Piece> missing(chunks.begin(), chunks.end() - 1);
  std::vector<Piece> repeated = chunks;
  repeated[1] = repeated[0];
  std::vector<Piece> miscounted = chunks;
  miscounted[1].data[13] = 9;
  for (const auto& broken : {missing, repeated, miscounted}) {
    WriteFileBytes(folder.File("in.jpg"), WithSegments(plain, broken));
    EXPECT_EQ(Shape(Convert(folder.File("in.jpg"), "out.png")), Shape(stored));
    EXPECT_TRUE(MetadataOfFile(folder.File("out.png")).icc.empty());
  }
}

}  // namespace
