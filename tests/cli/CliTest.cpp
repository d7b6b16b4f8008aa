// The real tessellarion-cli binary, copied into a folder of its own so that its settings file
// lands there, run on generated images.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <tuple>

#include "imaging/Imaging.h"
#include "tests/support/PhotoFiles.h"
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

  // Runs the binary in the folder with the arguments as the shell splits them, and the variables
  // of `environment` ("NAME=value ...") set: its exit status, with its standard output kept in
  // `printed` and its standard error in `errors`.
  int Cli(const std::string& arguments, const std::string& environment = "") {
    const std::string command =
        "cd '" + folder.Path() + "' && " + environment + " ./tessellarion-cli " + arguments;
    const int result =
        testsupport::SystemWithinLimit(command + " 2>errors.txt >output.txt </dev/null");
    errors = testsupport::ReadFileText(folder.File("errors.txt"));
    printed = testsupport::ReadFileText(folder.File("output.txt"));
    return WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  }

  std::string Settings() const { return testsupport::ReadFileText(folder.File("LogFile/Log.ini")); }

  testsupport::TempFolder folder;
  std::string printed;
  std::string errors;
};

TEST_F(CliTest, CustomNamesQualityAndFilesNotConverted) {
  // A GIF is refused before it is listed. Files that look like a BMP and a PNG but do not decode
  // are listed, then not written, each with its reason in list order before the count; their
  // numbers stay used.
  testsupport::WriteFileText(folder.File("x.gif"), "GIF89a......");
  std::vector<std::uint8_t> cut = testsupport::BmpFile({40, 3, 2, 24, 0, 0, {}, {}, {}});
  cut.resize(18);  // the file header and the info header's size field
  testsupport::WriteFileBytes(folder.File("cut.bmp"), cut);
  testsupport::WriteFileBytes(folder.File("broken.png"),
                              {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
  EXPECT_EQ(Cli("--output out --format jpg -q 60 --progressive --custom-name img a.jpg x.gif "
                "cut.bmp broken.png b.bmp"),
            1);
  EXPECT_EQ(
      errors,
      "Tessellarion: GIFです!!この形式は変換できません!!\n"
      "Tessellarion: " +
          folder.File("cut.bmp") + ": BMP: the file ends in its headers\n" +
          "Tessellarion: " + folder.File("broken.png") +
          ": PNG: the file ends before its image data\n"
          "Tessellarion: 2件のファイルを変換できませんでした！！\nTessellarion: 変換完了！！\n");
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")), (Names{"img1.jpg", "img4.jpg"}));
  // The first start's settings with what the options chose: the folder, JPG, progressive,
  // compression 100 − 60, custom names and the name.
  EXPECT_EQ(Settings(),
            "TessellarionVer102\r\n" + folder.File("out/") +
                "\r\n1\r\n0\r\n320\r\n240\r\n0\r\n0\r\n1\r\n40\r\n0\r\n0\r\n0\r\n0\r\n0\r\n"
                "100\r\n100\r\n2\r\nimg\r\n");
}

// What a written file shows: its kind and size; BMP bits and RLE, the JPEG's first quantiser and
// progressive scans, PNG interlacing; then its pixels. The letter F is drawn with R and B;
// for six.png, how each channel of its pixel 12 34 56 changed (+ = -); for dot.png, whether its
// grey dot got brighter or darker than its 160; "grey" when red, green and blue are equal.
std::string Summary(const std::string& path, const std::string& input) {
  using testsupport::FileField;
  const std::string bytes = testsupport::ReadFileText(path);
  if (path.ends_with(".htm")) {
    const std::string golden = std::string(TESSELLARION_GOLDEN_DIR) + "/tableart-3x2.htm";
    return bytes == testsupport::ReadFileText(golden) ? "HTM golden" : "HTM";
  }
  const int kind = imaging::ProbeFileKind(path, 0);
  const auto [width, height] = testsupport::ImageSizeOf(path);
  std::string text = std::string(kind == 1   ? "BMP "
                                 : kind == 2 ? "JPG "
                                             : "PNG ") +
                     std::to_string(width) + "x" + std::to_string(height);
  if (kind == 1) text += " " + std::to_string(FileField(path, 28, 2)) + "bit";
  if (kind == 1 && FileField(path, 30, 4) == 1) text += " RLE";
  if (kind == 2) text += " q" + std::to_string(testsupport::JpegFirstQuantiser(path));
  if (kind == 2 && bytes.find("\xFF\xC2") != std::string::npos) text += " progressive";
  if (kind == 3 && FileField(path, 28, 1) == 1) text += " interlaced";
  for (int y = 0; input == "f.png" && kind != 2 && y < height; ++y) {
    text += y == 0 ? " " : "/";
    for (int x = 0; x < width; ++x) {
      const imaging::Rgb color = testsupport::PixelOfFile(path, x, y);
      text += color == testsupport::kRed ? 'R' : color == testsupport::kBlue ? 'B' : '?';
    }
  }
  const auto sign = [](int after, int before) {
    return after > before ? '+' : after < before ? '-' : '=';
  };
  // The dot's centre, the first pixel of the others.
  const imaging::Rgb color = testsupport::PixelOfFile(path, input == "dot.png", input == "dot.png");
  const bool grey = color.red == color.green && color.green == color.blue;
  if (input == "six.png") {
    text += {' ', sign(color.red, 0x12), sign(color.green, 0x34), sign(color.blue, 0x56)};
    if (grey) text += " grey";
    if (color == imaging::Rgb{0xED, 0xCB, 0xA9}) text += " inverted";
    if (color == imaging::Rgb{64, 46, 33}) text += " sepia";  // grey 46 × 1.4, 1, 0.725
  }
  if (input == "dot.png")
    text += std::string(" dot") + sign(color.red, 160) + (grey ? " grey" : "");
  return text;
}

TEST_F(CliTest, EachOptionShapesTheFileItWrites) {
  testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.png"));
  testsupport::SaveImageFile(testsupport::SixColours(), folder.File("six.png"));
  // A grey dot of 160 amid 99.
  const imaging::Rgb dot{160, 160, 160};
  const imaging::Rgb around{99, 99, 99};
  testsupport::SaveImageFile(
      testsupport::Painted(3, 3, [&](int x, int y) { return x == 1 && y == 1 ? dot : around; }),
      folder.File("dot.png"));
  // Options, input, the one file expected and its summary, each from the settings of a first
  // start. Quality 60 gives the quantiser 13, quality 90 gives 3.
  const std::string letter = "RRRRBB/RBBBBB/RRRBBB/RBBBBB/RBBBBB";
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"-f bmp", "f.png", "f.bmp", "BMP 6x5 24bit " + letter},
      {"--bmp-depth 24", "f.png", "f.bmp", "BMP 6x5 24bit " + letter},
      {"--bmp-depth 16", "f.png", "f.bmp", "BMP 6x5 16bit " + letter},
      {"--bmp-depth 8", "f.png", "f.bmp", "BMP 6x5 8bit " + letter},
      {"--bmp-depth 8rle", "f.png", "f.bmp", "BMP 6x5 8bit RLE " + letter},
      {"-f jpg -q 60", "f.png", "f.jpg", "JPG 6x5 q13"},
      {"-f jpg -q 0 -r 0", "f.png", "f.jpg", "JPG 6x5 q255"},
      {"-f jpg -q 90 --progressive --interlace", "f.png", "f.jpg", "JPG 6x5 q3 progressive"},
      {"--format jpg --quality 100", "f.png", "f.jpg", "JPG 6x5 q1"},
      // The later of two switches counts.
      {"-f jpg --progressive --no-progressive", "f.png", "f.jpg", "JPG 6x5 q6"},
      {"-f png --interlace --no-interlace", "f.png", "f.png", "PNG 6x5 " + letter},
      {"-f png --interlace", "f.png", "f.png", "PNG 6x5 interlaced " + letter},
      {"-f png --progressive", "f.png", "f.png", "PNG 6x5 " + letter},
      {"-f png -s 640x480", "six.png", "six.png", "PNG 640x480 ==="},
      {"-f png -s 7x3", "six.png", "six.png", "PNG 7x3 ==="},
      {"-f png -s 7x3 --keep-aspect", "six.png", "six.png", "PNG 5x3 ==="},  // 4.5 rounds up
      {"-f png -s keep", "six.png", "six.png", "PNG 3x2 ==="},
      // Clockwise: the top bar of the F becomes its right-hand column.
      {"-f png -r 90", "f.png", "f.png", "PNG 5x6 RRRRR/BBRBR/BBRBR/BBBBR/BBBBB/BBBBB"},
      {"-f png --rotate 180", "f.png", "f.png", "PNG 6x5 BBBBBR/BBBBBR/BBBRRR/BBBBBR/BBRRRR"},
      {"-f png -r 270", "f.png", "f.png", "PNG 5x6 BBBBB/BBBBB/RBBBB/RBRBB/RBRBB/RRRRR"},
      {"-f png -c 2,1,3,2", "f.png", "f.png", "PNG 3x2 BBB/RBB"},
      {"-f png --crop 0,2,2,1", "f.png", "f.png", "PNG 2x1 RR"},
      {"-f png -c 0,0,3,2 -c off", "f.png", "f.png", "PNG 6x5 " + letter},
      {"-f png --naming number", "f.png", "1.png", "PNG 6x5 " + letter},
      {"-f png --naming custom --custom-name ab", "f.png", "ab1.png", "PNG 6x5 " + letter},
      {"-f png --naming keep --custom-name ab", "f.png", "f.png", "PNG 6x5 " + letter},
      {"-f png --custom-name zz", "f.png", "zz1.png", "PNG 6x5 " + letter},
      {"-f png -e none", "six.png", "six.png", "PNG 3x2 ==="},
      {"-f png -e grey", "six.png", "six.png", "PNG 3x2 +-- grey"},
      {"-f png -e sepia", "six.png", "six.png", "PNG 3x2 +-- sepia"},
      {"-f png -e negative", "six.png", "six.png", "PNG 3x2 +++ inverted"},
      // Turned first: the white corner the turn uncovers is inverted too.
      {"-f png -r 45 -e negative", "six.png", "six.png", "PNG 4x4 --- grey"},
      {"-f png -e red", "six.png", "six.png", "PNG 3x2 +=="},
      {"-f png -e green", "six.png", "six.png", "PNG 3x2 =+="},
      {"-f png -e blue", "six.png", "six.png", "PNG 3x2 ==+"},
      {"-f png -e sharpen", "dot.png", "dot.png", "PNG 3x3 dot+ grey"},
      {"-f png -e blur", "dot.png", "dot.png", "PNG 3x3 dot- grey"},
      // An input given by its absolute path.
      {"-f bmp", folder.File("six.png"), "six.bmp", "BMP 3x2 24bit"},
      // Last, so that the settings file it leaves is looked at below.
      {"-f htm", "six.png", "six.htm", "HTM golden"},
  };
  for (const auto& [options, input, output, summary] : cases) {
    for (const char* name : {"LogFile", "out"}) std::filesystem::remove_all(folder.File(name));
    std::filesystem::create_directory(folder.File("out"));
    EXPECT_EQ(Cli("-o out " + options + " " + input), 0) << options << ": " << errors;
    ASSERT_EQ(testsupport::FolderEntries(folder.File("out")), Names{output}) << options;
    EXPECT_EQ(Summary(folder.File("out/" + output), input), summary) << options;
  }
  // The format written is the one the settings keep (table art is the fourth).
  EXPECT_NE(Settings().find(folder.File("out/") + "\r\n3\r\n"), std::string::npos) << Settings();
}

TEST_F(CliTest, AnyNumberOfJobsWritesTheSameFilesMessagesAndSettings) {
  // Numbered names, an edit, and a file that does not decode among good ones, one listed twice:
  // with one, two or three jobs the same bytes, names, messages, status and settings.
  std::vector<std::uint8_t> cut = testsupport::BmpFile({40, 3, 2, 24, 0, 0, {}, {}, {}});
  cut.resize(18);
  testsupport::WriteFileBytes(folder.File("cut.bmp"), cut);
  std::string first;
  for (const char* jobs : {"1", "2", "3"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    for (const char* name : {"LogFile", "out"}) std::filesystem::remove_all(folder.File(name));
    std::filesystem::create_directory(folder.File("out"));
    EXPECT_EQ(Cli(std::string("-o out -f png -e sepia --naming number --jobs ") + jobs +
                  " a.jpg cut.bmp b.bmp c.png a.jpg b.bmp"),
              1);
    std::string seen = errors + Settings();
    for (const std::string& name : testsupport::FolderEntries(folder.File("out")))
      seen += name + ":" + testsupport::ReadFileText(folder.File("out/" + name));
    if (first.empty()) first = seen;
    EXPECT_EQ(seen, first);
  }
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")),
            (Names{"1.png", "3.png", "4.png", "5.png", "6.png"}));
  EXPECT_NE(first.find(": BMP: the file ends in its headers\nTessellarion: 1件"), std::string::npos);
}

TEST_F(CliTest, HelpAndVersionPrintAndConvertNothing) {
  // The help gives the ranges the settings allow and names every option.
  EXPECT_EQ(Cli("--help c.png"), 0);
  const std::string help = printed;
  for (const char* text :
       {"Usage: tessellarion-cli [OPTION]... FILE...", "JPEG quality 0..100",
        "clockwise, 0..355 in steps of 5", "--bmp-depth DEPTH     24, 16, 8 or 8rle",
        "--no-progressive", "--no-interlace", "--no-auto-orient", "--strip", "--keep-aspect",
        "--custom-name", "--naming SCHEME       keep, number or custom", "-j, --jobs N",
        "-c, --crop X,Y,W,H", "-e, --effect EFFECT       none, grey, sepia, negative, sharpen, "
        "blur, red, green, blue", "64 a bad option"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(Cli("-h"), 0);
  EXPECT_EQ(printed, help);
  EXPECT_EQ(Cli("--version c.png"), 0);
  EXPECT_EQ(printed + errors, "Tessellarion 1.02\n");
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile")));
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")), Names{});
}

TEST_F(CliTest, BadOptionsConvertNothingAndLeaveTheSettingsAlone) {
  // A folder or a name with a line feed is one the settings file cannot keep as one line; "-f"
  // lacks its value, "-f png" the files. Each message names what is wrong.
  std::filesystem::create_directory(folder.File("two\nlines"));
  const std::pair<std::string, std::string> cases[] = {
      {"--quality 101 c.png", "invalid value '101' for --quality (expected 0..100)"},
      {"-q -1 c.png", "invalid value '-1' for --quality (expected 0..100)"},
      {"-q 8x c.png", "invalid value '8x' for --quality (expected 0..100)"},
      {"-r 7 c.png", "--rotate takes a multiple of 5, not 7"},
      {"-r 360 c.png", "invalid value '360' for --rotate (expected 0..355)"},
      {"-j 0 c.png", "invalid value '0' for --jobs (expected 1..256)"},
      {"--jobs 257 c.png", "invalid value '257' for --jobs (expected 1..256)"},
      {"--crop 1,2,3 c.png", "--crop takes X,Y,W,H or off, not '1,2,3'"},
      {"--crop 1,2,3,2001 c.png", "invalid value '2001' for --crop (expected 0..2000)"},
      {"-s 7x c.png", "invalid value '7x' for --size (expected keep, 640x480 or WxH)"},
      {"-s 7x3x2 c.png", "invalid value '7x3x2' for --size (expected keep, 640x480 or WxH)"},
      {"-s 7ax3 c.png", "invalid value '7ax3' for --size (expected keep, 640x480 or WxH)"},
      {"-s 7x-3 c.png", "invalid value '7x-3' for --size (expected keep, 640x480 or WxH)"},
      {"-o no-such-folder c.png", "output folder 'no-such-folder' does not exist"},
      {"-o c.png c.png", "output folder 'c.png' does not exist"},
      {"-o 'two\nlines' c.png", "an output folder name with a line feed cannot be used"},
      {"--custom-name 'first\nsecond' c.png", "--custom-name takes one line of text"},
      {"--bogus c.png", "unknown option --bogus"},
      {"-x c.png", "unknown option -x"},
      {"-f", "option -f needs a value"},
      {"c.png --crop", "option --crop needs a value"},
      {"-f png", "no input FILE given"},
      {"-f gif c.png", "invalid value 'gif' for --format (expected bmp, jpg, png, htm)"},
      {"--bmp-depth 32 c.png", "invalid value '32' for --bmp-depth (expected 24, 16, 8, 8rle)"},
      {"-e purple c.png",
       "invalid value 'purple' for --effect (expected none, grey, sepia, negative, sharpen, blur, "
       "red, green, blue)"},
      {"--naming date c.png", "invalid value 'date' for --naming (expected keep, number, custom)"}};
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(options);
    EXPECT_EQ(Cli(options), 64);
    EXPECT_EQ(errors, "tessellarion-cli: " + message + "\nTry 'tessellarion-cli --help'.\n");
  }
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile")));
  // A precondition of the form: status 2, its message, nothing written.
  std::string eleven;
  for (int index = 0; index < 11; ++index) eleven += " c.png";
  const std::pair<std::string, std::string> preconditions[] = {
      {"-s 2001x10 c.png", "ファイルサイズは１*１以上２０００*２０００以内にしてください！！"},
      {"-s 0x10 c.png", "ファイルサイズは１*１以上２０００*２０００以内にしてください！！"},
      {"-f htm" + eleven, "TableArtは１０件までしか一括変換できません。"},
      {"--custom-name a/b c.png", "任意の文字列には「/」を含む名前や「.」「..」は使えません！！"},
      {"--custom-name .. c.png", "任意の文字列には「/」を含む名前や「.」「..」は使えません！！"},
      {"x.gif", "GIFです!!この形式は変換できません!!\nTessellarion: 入力ファイルを追加してください！！"}};
  testsupport::WriteFileText(folder.File("x.gif"), "GIF89a......");
  for (const auto& [options, message] : preconditions) {
    SCOPED_TRACE(options);
    std::filesystem::remove_all(folder.File("LogFile"));  // the settings the row before saved
    EXPECT_EQ(Cli("-o out " + options), 2);
    EXPECT_EQ(errors, "Tessellarion: " + message + "\n");
  }
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")), Names{});
}

TEST_F(CliTest, PhotosComeOutUprightWithTheirMetadataUnlessTurnedOff) {
  // A phone's portrait photo: stored on its side (5 × 6), tagged with orientation 6.
  const std::string stored = testsupport::SaveImageFile(
      testsupport::StoredForOrientation(testsupport::LetterF(), 6), folder.File("phone.jpg"));
  const std::vector<std::uint8_t> exif = testsupport::CameraExif(6, {5, 6}, false);
  testsupport::WriteFileBytes(
      stored, testsupport::WithSegments(testsupport::ReadFileBytes(stored),
                                        testsupport::CameraSegments(exif, {}, {}, 1)));
  // Options, the size a viewer shows (turned by the orientation the file keeps, so the two tell
  // how the pixels are stored) and that orientation in the output's metadata, 0 for none. Kept
  // proportions fit the image as it is turned (6 × 5 upright, 5 × 6 stored) into 640 × 480.
  const std::tuple<std::string, int, int, int> runs[] = {
      {"-s keep", 6, 5, 1},
      {"-s keep --no-auto-orient", 6, 5, 6},
      {"-s keep --strip", 6, 5, 0},
      {"-s keep --strip --no-auto-orient", 5, 6, 0},
      {"-s 640x480 --keep-aspect", 576, 480, 1},
      {"-s 640x480 --keep-aspect --no-auto-orient", 480, 400, 6}};
  for (const auto& [options, width, height, orientation] : runs) {
    for (const std::string format : {"jpg", "png"}) {
      SCOPED_TRACE(options + " " + format);
      ASSERT_EQ(Cli("-o out -f " + format + " " + options + " phone.jpg"), 0);
      const std::string output = folder.File("out/phone." + format);
      const std::vector<std::uint8_t> found = testsupport::MetadataOfFile(output).exif;
      EXPECT_EQ(testsupport::ImageSizeOf(output), std::pair(width, height));
      EXPECT_EQ(found.empty() ? 0 : imaging::ExifOrientation(found), orientation);
    }
  }
}

// A folder of phone photos and pictures saved from the web converts in one batch, each to JPEG and
// PNG at its size, beside the kinds that are refused as before; a HEIC cut short before its
// headers end is refused when it is added.
TEST_F(CliTest, PhonePhotosAndWebPicturesConvertInOneBatch) {
  for (const char* tool : {"heif-enc", "avifenc", "cwebp"}) {
    if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0) {
      GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    }
  }
  testsupport::SaveImageFile(testsupport::PhotoLike(37, 23), folder.File("photo.png"));
  const std::string make = "cd '" + folder.Path() +
                           "' && heif-enc -o phone.heic photo.png && avifenc photo.png saved.avif"
                           " && cwebp photo.png -o browser.webp";
  ASSERT_EQ(std::system(("(" + make + ") >/dev/null 2>&1").c_str()), 0);
  const std::vector<std::uint8_t> heic = testsupport::ReadFileBytes(folder.File("phone.heic"));
  testsupport::WriteFileBytes(folder.File("cut.heic"),
                              std::vector<std::uint8_t>(heic.begin(), heic.begin() + 40));
  testsupport::WriteFileText(folder.File("x.gif"), "GIF89a......");
  for (const std::string format : {"jpg", "png"}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(
        Cli("-o out -f " + format + " -q 80 phone.heic x.gif saved.avif cut.heic browser.webp"), 0);
    EXPECT_EQ(errors,
              "Tessellarion: GIFです!!この形式は変換できません!!\n"
              "Tessellarion: このファイルは変換できません!!\nTessellarion: 変換完了！！\n");
    for (const std::string name : {"phone", "saved", "browser"}) {
      EXPECT_EQ(testsupport::ImageSizeOf(folder.File("out/" + name + "." + format)),
                std::pair(37, 23))
          << name;
    }
  }
  EXPECT_EQ(
      testsupport::FolderEntries(folder.File("out")),
      (Names{"browser.jpg", "browser.png", "phone.jpg", "phone.png", "saved.jpg", "saved.png"}));
}

// Without a working libheif, one that does not load or one that lacks the functions the codec
// calls, a HEIC is refused when it is added and the other files convert as before.
TEST_F(CliTest, OtherKindsConvertWithoutAWorkingHeifLibrary) {
  if (std::system("command -v heif-enc >/dev/null") != 0) {
    GTEST_SKIP() << "heif-enc is not installed (scripts/install-deps installs it)";
  }
  testsupport::SaveImageFile(testsupport::PhotoLike(37, 23), folder.File("photo.png"));
  ASSERT_EQ(
      std::system(
          ("cd '" + folder.Path() + "' && heif-enc -o phone.heic photo.png >/dev/null").c_str()),
      0);
  std::filesystem::create_directory(folder.File("not-elf"));
  testsupport::WriteFileText(folder.File("not-elf/libheif.so.1"), "not a shared library\n");
  for (const std::string& libraries :
       {folder.File("not-elf"), std::string(TESSELLARION_HEIF_STAND_IN_DIR)}) {
    SCOPED_TRACE(libraries);
    std::filesystem::remove_all(folder.File("out"));
    std::filesystem::create_directory(folder.File("out"));
    EXPECT_EQ(Cli("-o out -f png phone.heic a.jpg", "LD_LIBRARY_PATH='" + libraries + "'"), 0);
    EXPECT_EQ(errors, "Tessellarion: このファイルは変換できません!!\nTessellarion: 変換完了！！\n");
    EXPECT_EQ(testsupport::FolderEntries(folder.File("out")), (Names{"a.png"}));
  }
}

}  // namespace
