// What a JPEG save writes when the library takes a shorter way: straight from the file's
// coefficients, and greyscale images as one component.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "imaging/ColorEffects.h"
#include "imaging/HandleTable.h"
#include "imaging/JpegCodec.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;
using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

// A JPEG file as libjpeg reads it without decoding: every coefficient in file order, component
// after component, each with its quantisation step.
struct Coefficients {
  bool multipleScans = false;
  std::vector<int> values, steps;
};

Coefficients ReadCoefficients(const Bytes& file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  Coefficients result{jpeg_has_multiple_scans(&info) != 0, {}, {}};
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
  for (int index = 0; index < info.num_components; ++index) {
    const jpeg_component_info& component = info.comp_info[index];
    for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
      JBLOCKARRAY blocks = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info),
                                                        arrays[index], row, 1, FALSE);
      for (JDIMENSION column = 0; column < component.width_in_blocks * DCTSIZE2; ++column) {
        result.values.push_back(blocks[0][column / DCTSIZE2][column % DCTSIZE2]);
        result.steps.push_back(component.quant_table->quantval[column % DCTSIZE2]);
      }
    }
  }
  jpeg_destroy_decompress(&info);
  return result;
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

TEST_F(EncodingChoiceTest, AnUneditedJpegIsRequantisedHalfwayValuesTowardZero) {
  // From quality 100 (every step 1) to 50, straight from the coefficients: each coefficient c
  // becomes the level nearest c / step, halfway values toward zero, under the tables a save of
  // pixels writes at quality 50.
  const Bitmap photo = PhotoLike(61, 37);
  const Bytes source = Saved(photo, 100);
  const Coefficients before = ReadCoefficients(source);
  const Coefficients after = ReadCoefficients(Resaved(source, 50));
  EXPECT_EQ(after.steps, ReadCoefficients(Saved(photo, 50)).steps);
  ASSERT_EQ(after.values.size(), before.values.size());
  int halfways = 0;
  for (std::size_t i = 0; i < before.values.size(); ++i) {
    const int scaled = std::abs(before.values[i]) * before.steps[i], step = after.steps[i];
    const int level = (2 * scaled + step - 1) / (2 * step);
    halfways += 2 * (scaled % step) == step ? 1 : 0;
    ASSERT_EQ(after.values[i], before.values[i] < 0 ? -level : level) << "coefficient " << i;
  }
  EXPECT_GT(halfways, 0) << "the test should meet some halfway values";
  EXPECT_TRUE(ReadCoefficients(Resaved(source, 80, true)).multipleScans) << "progressive asked";
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
