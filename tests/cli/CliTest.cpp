// The real tessellarion-cli binary, copied into a folder of its own so that its settings file
// lands there, run on generated images.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>

#include "imaging/Imaging.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    std::filesystem::copy_file(TESSELLARION_CLI_PATH, folder.File("tessellarion-cli"));
    std::filesystem::create_directory(folder.File("out"));
    // Odd sizes in each input format.
    testsupport::SaveImageFile(testsupport::PhotoLike(41, 29), folder.File("a.jpg"));
    testsupport::SaveImageFile(testsupport::PhotoLike(17, 9), folder.File("b.bmp"));
    testsupport::SaveImageFile(testsupport::PhotoLike(8, 8), folder.File("c.png"));
  }

  // Runs the binary in the folder with the arguments as the shell splits them: its exit status,
  // with its standard error kept in `errors`.
  int Cli(const std::string& arguments) {
    const std::string command = "cd '" + folder.Path() + "' && ./tessellarion-cli " + arguments;
    const int result = std::system((command + " 2>errors.txt >/dev/null </dev/null").c_str());
    errors = testsupport::ReadFileText(folder.File("errors.txt"));
    return WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  }

  Names Outputs() const { return testsupport::FolderEntries(folder.File("out")); }
  std::string Settings() const { return testsupport::ReadFileText(folder.File("LogFile/Log.ini")); }

  testsupport::TempFolder folder;
  std::string errors;
};

TEST_F(CliTest, ConvertsEveryFileAndSavesTheSettingsItRanWith) {
  EXPECT_EQ(Cli("-o out -f png -s 640x480 -e sepia a.jpg b.bmp c.png"), 0);
  EXPECT_EQ(errors, "Tessellarion: 変換完了！！\n");
  EXPECT_EQ(Outputs(), (Names{"a.png", "b.png", "c.png"}));
  EXPECT_EQ(testsupport::ImageSizeOf(folder.File("out/b.png")), (std::pair{640, 480}));
  EXPECT_NE(Settings().find("\r\n" + folder.File("out/") + "\r\n2\r\n1\r\n"), std::string::npos)
      << "folder, PNG, 640×480 are stored: " << Settings();
}

TEST_F(CliTest, CustomNamesQualityAndFilesNotConverted) {
  // A GIF is refused before it is listed. A file that looks like a PNG but does not decode is
  // listed, then not written; its number stays used.
  testsupport::WriteFileText(folder.File("x.gif"), "GIF89a......");
  testsupport::WriteFileBytes(folder.File("broken.png"),
                              {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
  EXPECT_EQ(Cli("--output out --format jpg -q 60 --progressive --custom-name img a.jpg x.gif "
                "broken.png b.bmp"),
            1);
  EXPECT_EQ(errors,
            "Tessellarion: GIFです!!この形式は変換できません!!\n"
            "Tessellarion: 1件のファイルを変換できませんでした！！\nTessellarion: 変換完了！！\n");
  EXPECT_EQ(Outputs(), (Names{"img1.jpg", "img3.jpg"}));
  EXPECT_NE(Settings().find("\r\n40\r\n"), std::string::npos) << "compression 100 − 60";
  EXPECT_TRUE(Settings().ends_with("\r\nimg\r\n"));
}

TEST_F(CliTest, EachOptionShapesTheFileItWrites) {
  using imaging::Rgb;
  using testsupport::FileField;
  using testsupport::PixelOfFile;
  testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.png"));
  testsupport::SaveImageFile(testsupport::SixColours(), folder.File("six.png"));
  imaging::Bitmap dot = *imaging::MakeBitmap(3, 3);
  for (int pixel = 0; pixel < 9; ++pixel) {
    testsupport::SetPixel(dot, pixel % 3, pixel / 3,
                          pixel == 4 ? Rgb{160, 160, 160} : Rgb{99, 99, 99});
  }
  testsupport::SaveImageFile(dot, folder.File("dot.png"));
  // How each channel of pixel (0, 0) of six.png, 12 34 56, changed: raised, kept or lowered.
  const auto changes = [](const std::string& path) {
    const Rgb color = PixelOfFile(path, 0, 0);
    std::string signs;
    for (const auto& [after, before] :
         {std::pair{color.red, 0x12}, {color.green, 0x34}, {color.blue, 0x56}}) {
      signs += after > before ? '+' : after == before ? '=' : '-';
    }
    return signs;
  };
  // Each case starts from the settings of a first start; it names its options, its input and the
  // file expected, and checks that file.
  struct Case {
    std::string options, input, output;
    std::function<void(const std::string&)> check;
  };
  const Case cases[] = {
      {"-f bmp", "f.png", "f.bmp",
       [](auto& path) { EXPECT_EQ(imaging::ProbeFileKind(path, 0), 1); }},
      {"-f jpg -q 60", "f.png", "f.jpg",
       [](auto& path) { EXPECT_EQ(testsupport::JpegFirstQuantiser(path), 13u); }},
      {"-f jpg -q 90 --progressive", "f.png", "f.jpg",
       [](auto& path) {
         EXPECT_EQ(testsupport::JpegFirstQuantiser(path), 3u);
         EXPECT_NE(testsupport::ReadFileText(path).find("\xFF\xC2"), std::string::npos);
       }},
      {"-f jpg --interlace", "f.png", "f.jpg",
       [](auto& path) {
         EXPECT_EQ(testsupport::ReadFileText(path).find("\xFF\xC2"), std::string::npos);
       }},
      {"-f png --interlace", "f.png", "f.png",
       [](auto& path) { EXPECT_EQ(FileField(path, 28, 1), 1u); }},
      {"-f png --progressive", "f.png", "f.png",
       [](auto& path) { EXPECT_EQ(FileField(path, 28, 1), 0u); }},
      {"-f htm", "six.png", "six.htm",
       [](auto& path) {
         EXPECT_EQ(
             testsupport::ReadFileText(path),
             testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/tableart-3x2.htm"));
       }},
      // BMP depth: bits per pixel and compression (1 is RLE8).
      {"--bmp-depth 16", "f.png", "f.bmp",
       [](auto& path) { EXPECT_EQ(FileField(path, 28, 2), 16u); }},
      {"--bmp-depth 8", "f.png", "f.bmp",
       [](auto& path) {
         EXPECT_EQ(FileField(path, 28, 2) << 8 | FileField(path, 30, 4), 8u << 8);
       }},
      {"--bmp-depth 8rle", "f.png", "f.bmp",
       [](auto& path) {
         EXPECT_EQ(FileField(path, 28, 2) << 8 | FileField(path, 30, 4), 8u << 8 | 1);
       }},
      {"-f png -s 7x3", "f.png", "f.png",
       [](auto& path) {
         EXPECT_EQ(testsupport::ImageSizeOf(path), (std::pair{7, 3}));
       }},
      {"-f png -s 640x480", "f.png", "f.png",
       [](auto& path) {
         EXPECT_EQ(testsupport::ImageSizeOf(path), (std::pair{640, 480}));
       }},
      // Clockwise: the top bar of the F becomes its right-hand column.
      {"-f png -r 90", "f.png", "f.png",
       [](auto& path) {
         EXPECT_EQ(testsupport::ImageSizeOf(path), (std::pair{5, 6}));
         EXPECT_EQ(PixelOfFile(path, 4, 3), testsupport::kRed);
         EXPECT_EQ(PixelOfFile(path, 0, 2), testsupport::kBlue);
       }},
      // Columns 2 to 4 of rows 1 and 2 of the F: B B B / R B B.
      {"-f png -c 2,1,3,2", "f.png", "f.png",
       [](auto& path) {
         EXPECT_EQ(testsupport::ImageSizeOf(path), (std::pair{3, 2}));
         EXPECT_EQ(PixelOfFile(path, 0, 0), testsupport::kBlue);
         EXPECT_EQ(PixelOfFile(path, 0, 1), testsupport::kRed);
         EXPECT_EQ(PixelOfFile(path, 1, 1), testsupport::kBlue);
       }},
      {"-f png --naming number", "f.png", "1.png", [](auto&) {}},
      {"-f png --naming custom --custom-name ab", "f.png", "ab1.png", [](auto&) {}},
      {"-f png --naming keep --custom-name ab", "f.png", "f.png", [](auto&) {}},
      // The colour effects on a known pixel.
      {"-f png -e none", "six.png", "six.png",
       [&](auto& path) { EXPECT_EQ(changes(path), "==="); }},
      {"-f png -e negative", "six.png", "six.png",
       [](auto& path) {
         EXPECT_EQ(PixelOfFile(path, 0, 0), (Rgb{0xED, 0xCB, 0xA9}));
       }},
      {"-f png -e grey", "six.png", "six.png",
       [](auto& path) {
         const Rgb grey = PixelOfFile(path, 0, 0);
         EXPECT_TRUE(grey.red == grey.green && grey.green == grey.blue && grey.red > 18 &&
                     grey.red < 86);
       }},
      {"-f png -e sepia", "six.png", "six.png",
       [](auto& path) {
         const Rgb sepia = PixelOfFile(path, 0, 0);
         EXPECT_TRUE(sepia.red > sepia.green && sepia.green > sepia.blue);
       }},
      {"-f png -e red", "six.png", "six.png", [&](auto& path) { EXPECT_EQ(changes(path), "+=="); }},
      {"-f png -e green", "six.png", "six.png",
       [&](auto& path) { EXPECT_EQ(changes(path), "=+="); }},
      {"-f png -e blue", "six.png", "six.png",
       [&](auto& path) { EXPECT_EQ(changes(path), "==+"); }},
      {"-f png -e sharpen", "dot.png", "dot.png",
       [](auto& path) { EXPECT_GT(PixelOfFile(path, 1, 1).red, 160); }},
      {"-f png -e blur", "dot.png", "dot.png",
       [](auto& path) { EXPECT_LT(PixelOfFile(path, 1, 1).red, 160); }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.options);
    std::filesystem::remove_all(folder.File("LogFile"));
    std::filesystem::remove_all(folder.File("out"));
    std::filesystem::create_directory(folder.File("out"));
    EXPECT_EQ(Cli("-o out " + test.options + " " + test.input), 0) << errors;
    ASSERT_EQ(Outputs(), Names{test.output});
    test.check(folder.File("out/" + test.output));
  }
}

TEST_F(CliTest, BadOptionsConvertNothingAndLeaveTheSettingsAlone) {
  // A folder or a name with a line feed is one the settings file cannot keep as one line; "-f"
  // lacks its value, "-f png" the files.
  std::filesystem::create_directory(folder.File("two\nlines"));
  for (const std::string options :
       {"-f gif c.png", "--quality 101 c.png", "-r 7 c.png", "--crop 1,2,3 c.png",
        "-o no-such-folder c.png", "-o 'two\nlines' c.png", "--custom-name 'first\nsecond' c.png",
        "--bogus c.png", "-f", "-f png"}) {
    EXPECT_EQ(Cli(options), 64) << options;
    EXPECT_TRUE(errors.starts_with("tessellarion-cli:")) << errors;
  }
  Cli("-f gif c.png");
  EXPECT_NE(errors.find("--format"), std::string::npos) << "the message names the option";
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile")));
  EXPECT_EQ(Cli("--help"), 0);
  // A size out of range is the form's precondition: status 2, with its message.
  EXPECT_EQ(Cli("-o out -s 2001x10 c.png"), 2);
  EXPECT_NE(errors.find("２０００*２０００"), std::string::npos);
}

}  // namespace
