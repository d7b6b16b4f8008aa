// The transform pipeline, the conversion routines and their dispatch, and input inspection.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/ControlIds.h"
#include "engine/Converter.h"
#include "engine/ProcessState.h"
#include "imaging/Imaging.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using testsupport::PixelAt;

std::uint32_t LittleEndianAt(const std::vector<std::uint8_t>& bytes, std::size_t offset, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | bytes.at(offset + static_cast<std::size_t>(i));
  return value;
}

bool HasMarker(const std::vector<std::uint8_t>& bytes, std::uint8_t marker) {
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == marker) return true;
  }
  return false;
}

class ConverterTest : public testsupport::FormFixture {
 protected:
  // Loads a file into the current image, runs the pipeline and hands the result back.
  imaging::Bitmap RunPipelineOn(const std::string& path) {
    Engine().CurrentImage = imaging::LoadImageFile(path);
    Converter().RunPipeline();
    imaging::ImageInfoRecord record{};
    imaging::GetImageInfo(Engine().CurrentImage, record);
    imaging::Bitmap result;
    if (Engine().CurrentImage != 0) {
      result = *imaging::MakeBitmap(record[1], record[2]);
      for (int y = 0; y < record[2]; ++y) {
        for (int x = 0; x < record[1]; ++x) {
          const std::uint32_t value = imaging::ReadPixelColor(Engine().CurrentImage, x, y);
          testsupport::SetPixel(
              result, x, y,
              {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
               static_cast<std::uint8_t>(value >> 16)});
        }
      }
    }
    imaging::FreeImage(Engine().CurrentImage);
    Engine().CurrentImage = 0;
    return result;
  }
  void SetJob(int outputKind, int inputKind, const std::string& input, const std::string& output) {
    Job().OutputKind = outputKind;
    Information().CurrentInputKind = inputKind;
    Job().CurrentInputPath = input;
    Job().OutputPath = output;
  }
};

TEST_F(ConverterTest, PipelineRunsCropRotationEffectResizeAndMeasures) {
  const std::string letter = SaveImage(testsupport::LetterF(), "f.png");
  Converter converter;

  imaging::Bitmap plain = RunPipelineOn(letter);
  EXPECT_EQ(Engine().LastOutputWidth, 6) << "with no edit the loaded size is measured";
  EXPECT_EQ(Engine().LastOutputHeight, 5);

  converter.SetRotation(18);  // 90° clockwise: the F's top bar becomes its right column
  imaging::Bitmap turned = RunPipelineOn(letter);
  EXPECT_EQ(Engine().LastOutputWidth, 5);
  EXPECT_EQ(PixelAt(turned, 4, 3), testsupport::kRed);
  EXPECT_EQ(PixelAt(turned, 0, 5), testsupport::kBlue);
  converter.SetRotation(0);

  // Only the value 1 turns a step on.
  Options().CropOn = 2;
  Options().ResizeOn = 2;
  RunPipelineOn(letter);
  EXPECT_EQ(Engine().LastOutputWidth, 6);

  // Crop then an absolute resize: the cropped region scaled to exactly the target.
  const std::string photo = SaveImage(testsupport::PhotoLike(300, 200), "photo.png");
  converter.SetCrop(1, 10, 10, 100, 50);
  converter.SetResize(1, 640, 480);
  imaging::Bitmap scaled = RunPipelineOn(photo);
  EXPECT_EQ(Engine().LastOutputWidth, 640);
  EXPECT_EQ(Engine().LastOutputHeight, 480);
  const imaging::Rgb corner = PixelAt(testsupport::PhotoLike(300, 200), 10, 10);
  EXPECT_NEAR(PixelAt(scaled, 0, 0).red, corner.red, 8);
  EXPECT_NEAR(PixelAt(scaled, 0, 0).blue, corner.blue, 8);

  // A crop outside the image leaves no image; later steps pass it through and measure 0 × 0.
  converter.SetCrop(1, 500, 500, 10, 10);
  RunPipelineOn(photo);
  EXPECT_EQ(Engine().LastOutputWidth, 0);
  EXPECT_EQ(Engine().LastOutputHeight, 0);
}

TEST_F(ConverterTest, ColourEffectsByIndex) {
  imaging::Bitmap blue = *imaging::MakeBitmap(3, 3);
  for (std::size_t i = 2; i < blue.pixels.size(); i += 3) blue.pixels[i] = 200;
  const std::string path = SaveImage(blue, "blue.png");
  Converter converter;
  const auto centre = [&](int index) {
    converter.SetColorEffect(index);
    return PixelAt(RunPipelineOn(path), 1, 1);
  };
  for (int index : {0, 9, -1}) EXPECT_EQ(centre(index), (imaging::Rgb{0, 0, 200})) << index;
  const imaging::Rgb grey = centre(1);
  EXPECT_EQ(grey.red, grey.blue);
  EXPECT_NEAR(grey.red, 23, 1) << "BT.601: 0.114 of 200";
  const imaging::Rgb sepia = centre(2);  // greyscale first, then the channel weights
  EXPECT_NEAR(sepia.red, 32, 2);
  EXPECT_NEAR(sepia.green, 23, 1);
  EXPECT_NEAR(sepia.blue, 17, 1);
  EXPECT_EQ(centre(3), (imaging::Rgb{255, 255, 55}));
  const imaging::Rgb reddish = centre(6);
  EXPECT_GT(reddish.red, 0);
  EXPECT_EQ(reddish.blue, 200);
}

TEST_F(ConverterTest, DispatchPicksTheRoutineAndTheExtension) {
  const std::string bmp = SaveImage(testsupport::LetterF(), "in.bmp");
  const std::string jpg = SaveImage(testsupport::PhotoLike(31, 17), "in.jpg");
  const std::string png = SaveImage(testsupport::LetterF(), "in.png");
  const std::string out = folder.File("out");
  // Every input kind to every output kind; the probe numbers the kinds as the output kinds do.
  const std::string inputs[] = {"", bmp, jpg, png};
  const char* const extensions[] = {"", ".bmp", ".jpg", ".png"};
  for (int output = kOutputKindBmp; output <= kOutputKindPng; ++output) {
    for (int input = kInputKindBmp; input <= kInputKindPng; ++input) {
      SetJob(output, input, inputs[input], out);
      EXPECT_TRUE(form->ConvertCurrentFile(form::BatchTarget)) << output << " from " << input;
      EXPECT_EQ(Job().OutputPath, out + extensions[output]);
      EXPECT_EQ(imaging::ProbeFileKind(Job().OutputPath, 0), output) << input;
    }
  }

  // Preview mode writes the preview target as named, whatever the format.
  Job().PreviewTargetPath = folder.File("Temp.log");
  SetJob(kOutputKindJpeg, kInputKindPng, png, out);
  EXPECT_TRUE(form->ConvertCurrentFile(form::PreviewTarget));
  EXPECT_EQ(Job().OutputPath, out);
  EXPECT_EQ(imaging::ProbeFileKind(folder.File("Temp.log"), 0), 2);
  EXPECT_FALSE(form->ConvertCurrentFile(2)) << "any other mode does nothing";

  // A refused kind: nothing for the image formats, table art for whatever loads.
  SetJob(kOutputKindJpeg, 5, png, folder.File("refused"));
  EXPECT_FALSE(form->ConvertCurrentFile(form::BatchTarget));
  EXPECT_EQ(Job().OutputPath, folder.File("refused")) << "no extension appended";
  SetJob(kOutputKindHtm, 5, png, folder.File("art"));
  EXPECT_TRUE(form->ConvertCurrentFile(form::BatchTarget));
  EXPECT_TRUE(testsupport::FileExists(folder.File("art.htm")));
}

TEST_F(ConverterTest, BmpOutputIsSavedAsLoadedThenReducedBeforeTheEdits) {
  const std::string input = SaveImage(testsupport::PhotoLike(37, 23), "photo.png");
  Converter converter;
  const auto header = [&](const std::string& path) { return testsupport::ReadFileBytes(path); };

  converter.SetBmpDepth(3);
  converter.SetRotation(18);
  EXPECT_NE(converter.ConvertPngToBmp(folder.File("rle.bmp"), input), 0);
  std::vector<std::uint8_t> bytes = header(folder.File("rle.bmp"));
  EXPECT_EQ(LittleEndianAt(bytes, 28, 2), 8u) << "the depth survives the rotation";
  EXPECT_EQ(LittleEndianAt(bytes, 30, 4), 1u) << "RLE8";
  EXPECT_EQ(LittleEndianAt(bytes, 18, 4), 23u) << "turned by 90°";

  converter.SetRotation(0);
  for (int depthMode : {4, -1, 0}) {
    converter.SetBmpDepth(depthMode);
    EXPECT_NE(converter.ConvertPngToBmp(folder.File("plain.bmp"), input), 0);
    EXPECT_EQ(LittleEndianAt(header(folder.File("plain.bmp")), 28, 2), 24u) << depthMode;
  }
  converter.SetBmpDepth(1);
  converter.ConvertPngToBmp(folder.File("high.bmp"), input);
  EXPECT_EQ(LittleEndianAt(header(folder.File("high.bmp")), 28, 2), 16u);

  // The early save writes the unedited image, so a crop that yields nothing leaves it standing.
  converter.SetBmpDepth(0);
  converter.SetCrop(1, 100, 100, 5, 5);
  EXPECT_EQ(converter.ConvertPngToBmp(folder.File("early.bmp"), input), 0);
  EXPECT_EQ(LittleEndianAt(header(folder.File("early.bmp")), 18, 4), 37u);
}

TEST_F(ConverterTest, QualityFollowsTheCompressionSlider) {
  const std::string input = SaveImage(testsupport::PhotoLike(64, 48), "photo.png");
  std::vector<std::size_t> sizes;
  for (int compression : {0, 20, 100}) {
    Settings().Compression = compression;
    SetJob(kOutputKindJpeg, kInputKindPng, input, folder.File("q" + std::to_string(compression)));
    ASSERT_TRUE(form->ConvertCurrentFile(form::BatchTarget));
    sizes.push_back(testsupport::ReadFileBytes(Job().OutputPath).size());
  }
  EXPECT_GT(sizes[0], sizes[1]);
  EXPECT_GT(sizes[1], sizes[2]);
}

TEST_F(ConverterTest, BeforeCopyKeepsTheInputFormatWithoutEdits) {
  Converter converter;
  converter.SetRotation(18);
  converter.SetColorEffect(3);
  const std::string copy = folder.File("Now.log");
  const auto copied = [&](const std::string& input) {
    converter.WriteBeforeCopy(input, copy);
    return testsupport::ReadFileBytes(copy);
  };
  EXPECT_TRUE(HasMarker(copied(SaveImage(testsupport::PhotoLike(31, 17), "in.jpg")), 0xC2))
      << "progressive";
  EXPECT_EQ(imaging::ProbeFileKind(copy, 0), 2);
  EXPECT_EQ(copied(SaveImage(testsupport::LetterF(), "in.png")).at(28), 1) << "interlaced";
  EXPECT_EQ(imaging::ProbeFileKind(copy, 0), 3);
  EXPECT_EQ(LittleEndianAt(copied(SaveImage(testsupport::LetterF(), "in.bmp")), 18, 4), 6u)
      << "not turned";

  testsupport::WriteFileText(folder.File("in.gif"), "GIF89a rest");
  converter.WriteBeforeCopy(folder.File("in.gif"), folder.File("Gif.log"));
  EXPECT_FALSE(testsupport::FileExists(folder.File("Gif.log")));
  EXPECT_TRUE(shell.messages.empty()) << "the before copy shows no refusal";
}

TEST_F(ConverterTest, CheckInputKindReportsWhatCannotBeConverted) {
  struct Case {
    std::string bytes;
    int kind;
    const char* message;
  };
  const std::string pcx("\x0A\x05\x01\x08\0\0\0\0\x0F\0\x0F\0", 12);
  const Case cases[] = {
      {"GIF89a......", 4, "GIFです!!この形式は変換できません!!"},
      {std::string("II*\0......", 10), 5, "TIFFです!!この形式は変換できません!!"},
      {"PIC\x1A......", 6, "PICです!!この形式は変換できません!!"},
      {"MAKI02  ....", 7, "MAGです!!この形式は変換できません!!"},
      {pcx, 8, "PCXです!!この形式は変換できません!!"},
      {"just some text", kInputKindUnrecognised, "このファイルは変換できません!!"},
  };
  Converter converter;
  for (const Case& testCase : cases) {
    shell.messages.clear();
    testsupport::WriteFileText(folder.File("file.bmp"), testCase.bytes);
    EXPECT_EQ(converter.CheckInputKind(folder.File("file.bmp")), testCase.kind);
    EXPECT_EQ(shell.messages, (std::vector<std::string>{testCase.message}));
  }
  shell.messages.clear();
  EXPECT_EQ(converter.CheckInputKind(SaveImage(testsupport::LetterF(), "f.png")), kInputKindPng);
  EXPECT_GT(converter.CheckInputKind(folder.File("missing.bmp")), 8);
  EXPECT_GT(converter.CheckInputKind(folder.Path()), 8) << "a folder";
  EXPECT_EQ(shell.messages.size(), 2u);
}

TEST_F(ConverterTest, BeforeColumnShowsSizeDimensionsAndKind) {
  const std::string bmp = SaveImage(*imaging::MakeBitmap(320, 240), "big.bmp");
  Job().CurrentInputPath = bmp;
  form->ShowFileInfo(form::BeforeColumn);
  EXPECT_EQ(Information().BeforeSizeText, std::to_string(54 + 320 * 240 * 3));
  EXPECT_EQ(controls.Text(kBeforeWidthEdit), "320");
  EXPECT_EQ(controls.Text(kBeforeKindEdit), "BMP");

  // A missing file: size −1, the refusal, and the last probed size shown again.
  Job().CurrentInputPath = folder.File("gone.jpg");
  form->ShowFileInfo(form::BeforeColumn);
  EXPECT_EQ(Information().BeforeSizeText, "-1");
  EXPECT_EQ(controls.Text(kBeforeWidthEdit), "320");
  EXPECT_EQ(shell.messages, (std::vector<std::string>{"このファイルは変換できません!!"}));
}

}  // namespace
