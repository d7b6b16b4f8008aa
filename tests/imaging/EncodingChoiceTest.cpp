// What a save writes when the library takes a shorter way: JPEG straight from the file's
// coefficients, greyscale images as one component, PNG settings chosen per image; and the
// greyscale effect applied while a BMP decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "imaging/BmpCodec.h"
#include "imaging/ColorEffects.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "tests/support/TestSupport.h"

extern "C" {
#include <jpeglib.h>
}

namespace {

using namespace imaging;
using Bytes = std::vector<std::uint8_t>;

Bytes EncodedJpeg(const Bitmap& bitmap, int quality) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = jpeg::Encode(bitmap, quality, false, stream);
  std::fclose(stream);
  Bytes bytes(buffer, buffer + (written ? size : 0));
  std::free(buffer);
  return bytes;
}

// A JPEG file as libjpeg reads it without decoding: every coefficient in file order, component by
// component, and the quantisation table of each component.
struct Coefficients {
  int components = 0;
  bool multipleScans = false;
  std::vector<std::vector<JCOEF>> values;
  std::vector<std::array<UINT16, DCTSIZE2>> tables;
};

Coefficients ReadCoefficients(const Bytes& file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  Coefficients result;
  result.components = info.num_components;
  result.multipleScans = jpeg_has_multiple_scans(&info) != 0;
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
  for (int index = 0; index < info.num_components; ++index) {
    const jpeg_component_info& component = info.comp_info[index];
    std::array<UINT16, DCTSIZE2> table{};
    std::copy(component.quant_table->quantval, component.quant_table->quantval + DCTSIZE2,
              table.begin());
    result.tables.push_back(table);
    std::vector<JCOEF>& values = result.values.emplace_back();
    for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
      JBLOCKARRAY blocks = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info),
                                                        arrays[index], row, 1, FALSE);
      for (JDIMENSION column = 0; column < component.width_in_blocks; ++column) {
        values.insert(values.end(), blocks[0][column], blocks[0][column] + DCTSIZE2);
      }
    }
  }
  jpeg_destroy_decompress(&info);
  return result;
}

class EncodingChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHandleTable(); }
  void TearDown() override {
    EXPECT_EQ(LiveImageCount(), 0u) << "an image was not released";
    ResetHandleTable();
  }
  // Loads the file, saves it again as JPEG without any edit, and returns what was written.
  Bytes Resaved(const Bytes& file, int quality, bool progressive) {
    testsupport::WriteFileBytes(folder.File("in.jpg"), file);
    const ImageHandle handle = LoadImageFile(folder.File("in.jpg"));
    EXPECT_EQ(SaveJpeg(folder.File("out.jpg"), handle, quality, progressive ? 1 : 0), 1);
    FreeImage(handle);
    return testsupport::ReadFileBytes(folder.File("out.jpg"));
  }
  testsupport::TempFolder folder;
};

TEST_F(EncodingChoiceTest, AnUneditedJpegIsRequantisedHalfwayValuesTowardZero) {
  // From quality 100 (every step 1) to 50: each coefficient c becomes the level nearest c / step,
  // halfway values toward zero, under the tables Encode writes at quality 50.
  const Bytes source = EncodedJpeg(testsupport::PhotoLike(61, 37), 100);
  const Coefficients before = ReadCoefficients(source);
  const Coefficients after = ReadCoefficients(Resaved(source, 50, false));
  const Coefficients encoded = ReadCoefficients(EncodedJpeg(testsupport::PhotoLike(61, 37), 50));
  ASSERT_EQ(after.components, 3);
  EXPECT_EQ(after.tables, encoded.tables);
  for (int component = 0; component < 3; ++component) {
    const std::vector<JCOEF>& from = before.values[static_cast<std::size_t>(component)];
    const std::vector<JCOEF>& to = after.values[static_cast<std::size_t>(component)];
    ASSERT_EQ(from.size(), to.size());
    int halfways = 0;
    for (std::size_t i = 0; i < from.size(); ++i) {
      const int fromStep = before.tables[static_cast<std::size_t>(component)][i % DCTSIZE2];
      const int toStep = after.tables[static_cast<std::size_t>(component)][i % DCTSIZE2];
      const int scaled = std::abs(from[i]) * fromStep;  // in units of 1 / toStep
      const int level = scaled / toStep + (2 * (scaled % toStep) > toStep ? 1 : 0);
      halfways += 2 * (scaled % toStep) == toStep ? 1 : 0;
      ASSERT_EQ(to[i], from[i] < 0 ? -level : level) << "component " << component << ", " << i;
    }
    EXPECT_GT(halfways, 0) << "the test should meet some halfway values";
  }
  // Back up to quality 100 the levels are exact: the same pixels as the source.
  const Bytes lower = EncodedJpeg(testsupport::PhotoLike(61, 37), 75);
  EXPECT_EQ(jpeg::Decode(Resaved(lower, 100, false))->pixels, jpeg::Decode(lower)->pixels);
  EXPECT_TRUE(ReadCoefficients(Resaved(lower, 80, true)).multipleScans) << "progressive asked";
}

TEST_F(EncodingChoiceTest, AGreyImageIsWrittenAsOneComponentWithTheSamePixels) {
  const ImageHandle handle = RegisterBitmap(testsupport::PhotoLike(45, 31));
  ASSERT_EQ(MakeGreyscale(handle, 255), 1);
  const auto saved = [&](const char* name) {
    EXPECT_EQ(SaveJpeg(folder.File(name), handle, 85, 0), 1);
    return testsupport::ReadFileBytes(folder.File(name));
  };
  EXPECT_EQ(ReadCoefficients(saved("grey.jpg")).components, 1);
  // One component or three, the same grey bitmap decodes to exactly the same pixels.
  Bitmap grey = testsupport::PhotoLike(45, 31);
  MakeGreyscale(grey, 255);
  grey.grey = true;
  Bitmap unmarked = grey;
  unmarked.grey = false;
  EXPECT_EQ(jpeg::Decode(EncodedJpeg(grey, 85))->pixels,
            jpeg::Decode(EncodedJpeg(unmarked, 85))->pixels);

  // Edits that treat the channels alike keep it grey; those that may colour it do not.
  ASSERT_EQ(RotateImage(handle, 5000, 0xFFFFFF), 1);
  ASSERT_EQ(ResizeImage(handle, 30, 20), 1);
  std::array<std::uint8_t, 768> negative{};
  for (std::size_t i = 0; i < negative.size(); ++i) {
    negative[i] = static_cast<std::uint8_t>(255 - i % 256);
  }
  ASSERT_EQ(ApplyLookupTables(handle, negative.data()), 1);
  EXPECT_EQ(ReadCoefficients(saved("still.jpg")).components, 1);
  ASSERT_EQ(TintRgb(handle, 100, 0, 0), 1);
  EXPECT_EQ(ReadCoefficients(saved("tinted.jpg")).components, 3);
  ASSERT_EQ(MakeGreyscale(handle, 255), 1);
  ASSERT_EQ(RotateImage(handle, 5000, 0x0000FF), 1);  // on a red background
  EXPECT_EQ(ReadCoefficients(saved("red.jpg")).components, 3);
  FreeImage(handle);
}

TEST_F(EncodingChoiceTest, GreyscaleWhileABmpDecodesEqualsGreyscaleAfterwards) {
  for (const bool palette : {false, true}) {
    SCOPED_TRACE(palette ? "8-bit" : "24-bit");
    const ImageHandle source = RegisterBitmap(testsupport::PhotoLike(33, 21));
    if (palette) ReduceTo8Bit(source, 0, 0);
    ASSERT_EQ(SaveBmp(folder.File("in.bmp"), source), 1);
    FreeImage(source);
    Bitmap expected = *bmp::Decode(testsupport::ReadFileBytes(folder.File("in.bmp")));
    MakeGreyscale(expected, 255);
    const ImageHandle loaded = LoadBmp(folder.File("in.bmp"));
    ASSERT_EQ(MakeGreyscale(loaded, 255), 1);
    for (int y = 0; y < expected.height; ++y) {
      for (int x = 0; x < expected.width; ++x) {
        const Rgb pixel = testsupport::PixelAt(expected, x, y);
        ASSERT_EQ(ReadPixelColor(loaded, x, y), std::uint32_t{pixel.red} |
                                                    std::uint32_t{pixel.green} << 8 |
                                                    std::uint32_t{pixel.blue} << 16);
      }
    }
    FreeImage(loaded);
  }
}

TEST(GreyscalePixelsTest, IsTheRoundedBt601LumaForEveryColourSampled) {
  for (unsigned red = 0; red < 256; red += 3) {
    for (unsigned green = 0; green < 256; green += 5) {
      for (unsigned blue = 0; blue < 256; ++blue) {
        std::uint8_t pixel[3] = {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                 static_cast<std::uint8_t>(blue)};
        GreyscalePixels(pixel, 1);
        const unsigned luma = (299 * red + 587 * green + 114 * blue + 500) / 1000;
        ASSERT_EQ(pixel[0], luma) << red << " " << green << " " << blue;
        ASSERT_TRUE(pixel[1] == luma && pixel[2] == luma);
      }
    }
  }
}

TEST(PngSettingsTest, PhotosAndFlatGraphicsRoundTripExactlyUnderTheirOwnSettings) {
  const Bitmap photo = testsupport::PhotoLike(64, 43);
  Bitmap flat = *MakeBitmap(57, 45);  // odd width: rows of 171 bytes
  for (int y = 0; y < flat.height; ++y) {
    for (int x = 0; x < flat.width; ++x) {
      testsupport::SetPixel(flat, x, y,
                            testsupport::PixelAt(testsupport::LetterF(), x / 10, y / 9));
    }
  }
  EXPECT_EQ(png::ChooseSettings(photo).filter, png::kPhotoSettings.filter);
  EXPECT_EQ(png::ChooseSettings(flat).filter, png::kFlatSettings.filter);
  // Without interlacing the image data is compressed in one piece, with it libpng streams it.
  for (const Bitmap* bitmap : {&photo, static_cast<const Bitmap*>(&flat)}) {
    for (const bool interlace : {false, true}) {
      char* buffer = nullptr;
      std::size_t size = 0;
      std::FILE* stream = open_memstream(&buffer, &size);
      ASSERT_TRUE(png::Encode(*bitmap, interlace, stream));
      std::fclose(stream);
      const std::optional<Bitmap> decoded = png::Decode(Bytes(buffer, buffer + size));
      std::free(buffer);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->pixels, bitmap->pixels) << interlace;
    }
  }
}

}  // namespace
