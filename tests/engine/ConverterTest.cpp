// The transform pipeline, the conversion routines and their dispatch, and the kind checks.
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "engine/ControlIds.h"
#include "engine/Conversion.h"
#include "engine/Converter.h"
#include "engine/FileFormats.h"
#include "engine/Pipeline.h"
#include "engine/Session.h"
#include "imaging/Imaging.h"
#include "tests/support/FormFixture.h"
#include "tests/support/PhotoFiles.h"

namespace {

using namespace engine;
using Messages = std::vector<std::string>;

using testsupport::FileField;

class ConverterTest : public testsupport::FormFixture {
 protected:
  ~ConverterTest() override { imaging::FreeImage(Session().Engine.CurrentImage); }
  // Loads a file as the current image and runs the pipeline on it; the result stays current.
  std::pair<int, int> RunPipelineOn(const std::string& path) {
    imaging::FreeImage(Session().Engine.CurrentImage);
    Session().Engine.CurrentImage = imaging::LoadImageFile(path);
    engine::RunPipelineOn(Session().Options, Session().Photo, Session().Engine);
    return {Session().Engine.LastOutputWidth, Session().Engine.LastOutputHeight};
  }
  // Converts as a batch entry does, with the job the records hold.
  ConversionResult ConvertAs(int outputKind, int inputKind, const std::string& input,
                             const std::string& output) {
    Session().Job.OutputKind = outputKind;
    return ConvertFile(JobSnapshot::Of(Session()), inputKind, input, output, Session().Engine);
  }
  void SetJob(int outputKind, int inputKind, const std::string& input, const std::string& output) {
    Session().Job.OutputKind = outputKind;
    Session().Information.CurrentInputKind = inputKind;
    Session().Job.CurrentInputPath = input;
    Session().Job.OutputPath = output;
  }
};

TEST_F(ConverterTest, PipelineCropsRotatesResizesAndMeasuresTheResult) {
  const std::string letter = SaveImage(testsupport::LetterF(), "f.png");
  Converter converter(Session());
  // A rectangle hanging over the left and top edges keeps the part inside: R R / R B. Colour
  // effect indices past either end of the list change nothing.
  converter.SetCrop(1, -2, -1, 4, 3);
  for (int effect : {9, -1}) {
    converter.SetColorEffect(effect);
    EXPECT_EQ(RunPipelineOn(letter), (std::pair{2, 2}));
    EXPECT_EQ(testsupport::PixelOf(Session().Engine.CurrentImage, 1, 0), testsupport::kRed)
        << effect;
    EXPECT_EQ(testsupport::PixelOf(Session().Engine.CurrentImage, 1, 1), testsupport::kBlue)
        << effect;
  }
  converter.SetCrop(2, 0, 0, 1, 1);  // only the value 1 turns a step on
  converter.SetResize(2, 640, 480);
  EXPECT_EQ(RunPipelineOn(letter), (std::pair{6, 5}));

  // Crop, then an absolute resize: the cropped region scaled to exactly the target.
  const std::string photo = SaveImage(testsupport::PhotoLike(300, 200), "photo.png");
  converter.SetCrop(1, 10, 10, 100, 50);
  converter.SetResize(1, 640, 480);
  EXPECT_EQ(RunPipelineOn(photo), (std::pair{640, 480}));
  EXPECT_NEAR(testsupport::PixelOf(Session().Engine.CurrentImage, 0, 0).red,
              testsupport::PixelAt(testsupport::PhotoLike(300, 200), 10, 10).red, 8);
  // A crop outside the image leaves no image; the later steps pass it through and measure 0 × 0.
  converter.SetCrop(1, 500, 500, 10, 10);
  EXPECT_EQ(RunPipelineOn(photo), (std::pair{0, 0}));
}

TEST(FitWithinTest, TheImageMeetsTheBoxOnOneSideAndKeepsItsProportions) {
  struct Row {
    const char* what;
    int width, height, boxWidth, boxHeight;
    PixelSize fitted;
  };
  constexpr int kIntMax = std::numeric_limits<int>::max();
  const Row rows[] = {
      {"portrait photo in 640×480", 450, 600, 640, 480, {360, 480}},
      {"landscape photo in 640×480", 1920, 1080, 640, 480, {640, 360}},
      {"small image enlarged until it meets the box", 37, 23, 100, 100, {100, 62}},
      {"very wide: the short side is 1, never 0", 65535, 1, 2000, 2000, {2000, 1}},
      {"very tall", 3, 65535, 2000, 2000, {1, 2000}},
      {"exact fit stays", 640, 480, 640, 480, {640, 480}},
      {"same proportions, smaller", 320, 240, 640, 480, {640, 480}},
      {"a half rounds up (1.5)", 8, 3, 4, 4, {4, 2}},
      {"a half rounds up on the width (1.5)", 3, 8, 4, 4, {2, 4}},
      {"below a half rounds down (4.44)", 9, 4, 10, 10, {10, 4}},
      {"products beyond 32 bits", kIntMax, kIntMax - 1, 2000, 2000, {2000, 2000}},
      {"products beyond 62 bits", kIntMax - 1, kIntMax, kIntMax, kIntMax, {kIntMax - 1, kIntMax}},
      {"no image: the box as it is", 0, 0, 640, 480, {640, 480}},
      {"an empty box as it is", 37, 23, 0, 480, {0, 480}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(FitWithin(row.width, row.height, row.boxWidth, row.boxHeight), row.fitted);
  }
}

TEST_F(ConverterTest, KeepingProportionsFitsTheCroppedAndTurnedImageAndLeavesKeepAlone) {
  const std::string photo = SaveImage(testsupport::PhotoLike(300, 200), "photo.png");
  Session().Photo.KeepAspect = 1;
  Converter converter(Session());
  // 100 × 50 cropped, turned a quarter to 50 × 100, then fitted: the height meets the box.
  converter.SetCrop(1, 10, 10, 100, 50);
  converter.SetRotation(18);
  converter.SetResize(1, 640, 480);
  EXPECT_EQ(RunPipelineOn(photo), (std::pair{240, 480}));
  converter.SetResize(0, 640, 480);
  EXPECT_EQ(RunPipelineOn(photo), (std::pair{50, 100}));
}

TEST_F(ConverterTest, DispatchPicksTheRoutineAndTheExtensionAndTheBeforeCopyKeepsTheInput) {
  const std::string out = folder.File("out");
  // Every input kind to every output kind: OutputKind 1 BMP, 2 JPG, 3 PNG; the probe numbers the
  // input kinds alike.
  const std::string inputs[] = {"", SaveImage(testsupport::LetterF(), "in.bmp"),
                                SaveImage(testsupport::PhotoLike(31, 17), "in.jpg"),
                                SaveImage(testsupport::LetterF(), "in.png")};
  // The preview's copy of the input keeps its format, without the edits: a progressive JPEG, an
  // interlaced PNG, a BMP not turned.
  Converter converter(Session());
  converter.SetRotation(18);
  converter.SetColorEffect(3);
  const std::string copy = folder.File("Now.log");
  converter.WriteBeforeCopy(inputs[2], copy);
  EXPECT_NE(testsupport::ReadFileText(copy).find("\xFF\xC2"), std::string::npos) << "progressive";
  converter.WriteBeforeCopy(inputs[3], copy);
  EXPECT_EQ(FileField(copy, 28, 1), 1u) << "interlaced PNG";
  converter.WriteBeforeCopy(inputs[1], copy);
  EXPECT_EQ(FileField(copy, 18, 4), 6u) << "a BMP, not turned";

  const char* const extensions[] = {"", ".bmp", ".jpg", ".png"};
  // Quality 100 − 40, progressive JPEG, PNG without interlace, whatever the input.
  Session().Settings.Compression = 40;
  Session().Settings.JpegProgressive = 1;
  Session().Settings.PngInterlace = 0;
  for (int output = 1; output <= 3; ++output) {
    for (int input = 1; input <= 3; ++input) {
      SCOPED_TRACE(std::to_string(output) + " from " + std::to_string(input));
      SetJob(output, input, inputs[input], out);
      EXPECT_TRUE(form->ConvertCurrentFile(form::BatchTarget)) << output << " from " << input;
      EXPECT_EQ(Session().Job.OutputPath, out + extensions[output]);
      EXPECT_EQ(imaging::ProbeFileKind(Session().Job.OutputPath, 0), output) << input;
      if (output == 2) {
        EXPECT_EQ(testsupport::JpegFirstQuantiser(Session().Job.OutputPath), 13u) << input;
        EXPECT_NE(testsupport::ReadFileText(Session().Job.OutputPath).find("\xFF\xC2"),
                  std::string::npos);
      }
      if (output == 3) {
        EXPECT_EQ(FileField(Session().Job.OutputPath, 28, 1), 0u) << input;
      }
    }
  }

  // A refused kind: nothing for the image formats, table art for whatever loads.
  SetJob(2, 5, inputs[3], folder.File("refused"));
  EXPECT_FALSE(form->ConvertCurrentFile(form::BatchTarget));
  EXPECT_EQ(Session().Job.OutputPath, folder.File("refused")) << "no extension appended";
  EXPECT_EQ(ConvertAs(2, 5, inputs[3], folder.File("refused")).reason,
            "TIFF files are not converted");
  SetJob(0, 5, inputs[3], folder.File("art"));
  EXPECT_TRUE(form->ConvertCurrentFile(form::BatchTarget));
  EXPECT_TRUE(testsupport::FileExists(folder.File("art.htm")));
}

TEST_F(ConverterTest, BmpOutputIsSavedAsLoadedThenReducedBeforeTheEdits) {
  const std::string input = SaveImage(testsupport::PhotoLike(37, 23), "photo.png");
  const std::string output = folder.File("out.bmp");
  Converter converter(Session());
  converter.SetCrop(1, 1, 0, 30, 20);
  converter.SetRotation(18);
  // Depth mode, bits per pixel and compression (1 is RLE8); other modes keep 24 bits.
  const std::tuple<int, std::uint32_t, std::uint32_t> depths[] = {
      {3, 8, 1}, {2, 8, 0}, {1, 16, 0}, {0, 24, 0}, {4, 24, 0}, {-1, 24, 0}};
  for (const auto& [mode, bits, compression] : depths) {
    converter.SetBmpDepth(mode);
    EXPECT_TRUE(ConvertAs(1, imaging::kFileKindPng, input, output).written);
    EXPECT_EQ(FileField(output, 28, 2), bits) << mode;
    EXPECT_EQ(FileField(output, 30, 4), compression) << mode;
    EXPECT_EQ(FileField(output, 18, 4), 20u) << "the depth survives the crop and the turn";
  }
  // The early save writes the image as loaded, before its depth changes, so a crop that yields
  // nothing leaves it standing; the crop is the reason the final save did not happen.
  converter.SetBmpDepth(3);
  converter.SetCrop(1, 100, 100, 5, 5);
  EXPECT_EQ(ConvertAs(1, imaging::kFileKindPng, input, output).reason,
            "the crop rectangle holds no pixel of the image");
  EXPECT_EQ(std::pair(FileField(output, 18, 4), FileField(output, 28, 2)), std::pair(37u, 24u));
}

TEST_F(ConverterTest, AnEditThatFailsWritesNothingAndSaysWhy) {
  // A turn whose result would pass the pixel limit: a 1 × 20000 strip at 45° needs 14143 × 14143.
  // The strip without the turn is not written in its place, in any format (a BMP keeps the copy
  // it saves as loaded, before the edits); table art writes no page, where a crop that yields
  // nothing gives the empty table.
  const std::string strip = SaveImage(testsupport::PhotoLike(1, 20000), "strip.png");
  Converter converter(Session());
  converter.SetRotation(9);
  for (const int format : {1, 2, 3, 0}) {
    SCOPED_TRACE(format);
    const std::string output = folder.File("out" + std::to_string(format));
    const ConversionResult result = ConvertAs(format, imaging::kFileKindPng, strip, output);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.reason, "the edit would leave the size limits, or memory ran out");
    EXPECT_EQ(testsupport::ImageSizeOf(output),
              (format == 1 ? std::pair(1, 20000) : std::pair(0, 0)));
    EXPECT_EQ(testsupport::FileExists(output), format == 1);
  }
  // The run's next file, whose turn fits, is written in every format, table art too.
  const std::string small = SaveImage(testsupport::PhotoLike(7, 5), "small.png");
  for (const int format : {0, 1, 2, 3}) {
    SCOPED_TRACE(format);
    EXPECT_TRUE(ConvertAs(format, imaging::kFileKindPng, small,
                          folder.File("small" + std::to_string(format)))
                    .written);
  }
}

TEST_F(ConverterTest, WhatCannotBeConvertedIsReportedByItsKind) {
  const std::tuple<std::string, int, const char*> cases[] = {
      {"GIF89a......", 4, "GIFです!!この形式は変換できません!!"},
      {"GIF87a......", 4, "GIFです!!この形式は変換できません!!"},
      {std::string("II*\0......", 10), 5, "TIFFです!!この形式は変換できません!!"},
      {"PIC\x1A......", 6, "PICです!!この形式は変換できません!!"},
      {"MAKI02  ....", 7, "MAGです!!この形式は変換できません!!"},
      {std::string("\x0A\x05\x01\x08\0\0\0\0\x0F\0\x0F\0", 12), 8,
       "PCXです!!この形式は変換できません!!"},
      {"just some text", 9, "このファイルは変換できません!!"}};
  for (const auto& [bytes, kind, message] : cases) {
    shell.messages.clear();
    testsupport::WriteFileText(folder.File("file.bmp"), bytes);
    EXPECT_EQ(Converter(Session()).CheckInputKind(folder.File("file.bmp")), kind);
    EXPECT_EQ(shell.messages, Messages{message});
  }
  // The names the kind fields show, for table-art output (0) and every kind the probe tells.
  std::string names;
  for (int kind = 0; kind <= 8; ++kind) names += KindName(kind) + " ";
  EXPECT_EQ(names, "HTM BMP JPG PNG GIF TIFF PIC MAG PCX ");
  // A file that has gone: size −1 in the before column, and the refusal.
  Session().Job.CurrentInputPath = folder.File("gone.jpg");
  form->ShowFileInfo(form::BeforeColumn);
  EXPECT_EQ(Session().Information.BeforeSizeText, "-1");
  EXPECT_EQ(shell.messages,
            (Messages{"このファイルは変換できません!!", "このファイルは変換できません!!"}));
}

TEST_F(ConverterTest, ATaggedPhotoIsConvertedToSrgbWhereverItsOutputCannotCarryTheProfile) {
  // An Adobe RGB photo whose colours differ from their sRGB values.
  const imaging::Bitmap photo = testsupport::PhotoLike(29, 15);
  const std::vector<std::uint8_t> adobe = testsupport::AdobeRgbProfile();
  const std::string input = folder.File("adobe.png");
  testsupport::WriteFileBytes(
      input, testsupport::WithChunks(testsupport::ReadFileBytes(SaveImage(photo, "plain.png")),
                                     testsupport::PngMetadataChunks({}, {}, adobe)));
  // Its pixels converted, as an untagged file: what every output without the profile must show.
  imaging::Bitmap converted = photo;
  for (int y = 0; y < photo.height; ++y) {
    for (int x = 0; x < photo.width; ++x) {
      testsupport::SetPixel(converted, x, y,
                            testsupport::AdobeRgbToSrgb(testsupport::PixelAt(photo, x, y)));
    }
  }
  const auto largestDifference = [](const imaging::Bitmap& one, const imaging::Bitmap& other) {
    int largest = one.pixels.size() == other.pixels.size() ? 0 : 255;
    for (std::size_t i = 0; largest < 255 && i < one.pixels.size(); ++i)
      largest = std::max(largest, std::abs(one.pixels[i] - other.pixels[i]));
    return largest;
  };
  ASSERT_GT(largestDifference(photo, converted), 10);

  Converter converter(Session());
  const struct {
    const char* output;
    int kind;  // the job's OutputKind: 1 BMP, 3 PNG
    std::uint8_t keep;
    bool carried;  // pixels as stored and the profile in the file
  } kOutputs[] = {{"BMP", 1, 1, false},
                  {"PNG", 3, 1, true},
                  {"PNG, stripped", 3, 0, false},
                  {"BMP, stripped", 1, 0, false}};
  for (const auto& row : kOutputs) {
    SCOPED_TRACE(row.output);
    Session().Photo.KeepMetadata = row.keep;
    const std::string out = folder.File("out");
    SetJob(row.kind, imaging::kFileKindPng, input, out);
    ASSERT_TRUE(form->ConvertCurrentFile(form::BatchTarget));
    const imaging::ImageHandle written = imaging::LoadImageFile(Session().Job.OutputPath);
    const imaging::Bitmap pixels = testsupport::PixelsOf(written);
    imaging::FreeImage(written);
    EXPECT_LE(largestDifference(pixels, row.carried ? photo : converted), row.carried ? 0 : 2);
    if (row.kind == 3) {
      EXPECT_EQ(testsupport::MetadataOfFile(Session().Job.OutputPath).icc == adobe, row.carried);
    }
    // The preview's copy of the input (a PNG too) follows the same rule as a PNG output.
    converter.WriteBeforeCopy(input, folder.File("Now.log"));
    const imaging::ImageHandle copy = imaging::LoadImageFile(folder.File("Now.log"));
    EXPECT_LE(largestDifference(testsupport::PixelsOf(copy), row.keep ? photo : converted),
              row.keep ? 0 : 2);
    imaging::FreeImage(copy);
  }

  // Table art shows the converted colours: the same page as the converted pixels untagged give.
  Session().Photo.KeepMetadata = 1;
  SetJob(0, imaging::kFileKindPng, input, folder.File("tagged"));
  ASSERT_TRUE(form->ConvertCurrentFile(form::BatchTarget));
  const imaging::ImageHandle loaded = imaging::LoadImageFile(input, {true, true, true});
  const std::string exact = SaveImage(testsupport::PixelsOf(loaded), "converted.png");
  imaging::FreeImage(loaded);
  SetJob(0, imaging::kFileKindPng, exact, folder.File("untagged"));
  ASSERT_TRUE(form->ConvertCurrentFile(form::BatchTarget));
  EXPECT_EQ(testsupport::ReadFileText(folder.File("tagged.htm")),
            testsupport::ReadFileText(folder.File("untagged.htm")));
}

}  // namespace
