// The real tessellarion-cli binary, copied into a folder of its own so that its settings file
// lands there, run on generated images.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

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

TEST_F(CliTest, PhotosComeOutUprightWithTheirMetadataUnlessTurnedOff) {
  // A phone's portrait photo: stored on its side (5 × 6), tagged with orientation 6.
  const std::string stored = testsupport::SaveImageFile(
      testsupport::StoredForOrientation(testsupport::LetterF(), 6), folder.File("phone.jpg"));
  const std::vector<std::uint8_t> exif = testsupport::CameraExif(6, {5, 6}, false);
  testsupport::WriteFileBytes(
      stored, testsupport::WithSegments(testsupport::ReadFileBytes(stored),
                                        testsupport::CameraSegments(exif, {}, {}, 1)));
  const struct {
    const char* options;
    std::pair<int, int> size;
    int orientation;  // in the output's EXIF; 0 for none
  } kRuns[] = {{"", {6, 5}, 1},
               {"--no-auto-orient", {5, 6}, 6},
               {"--strip", {6, 5}, 0},
               {"--strip --no-auto-orient", {5, 6}, 0}};
  for (const auto& run : kRuns) {
    for (const std::string format : {"jpg", "png"}) {
      SCOPED_TRACE(std::string(run.options) + " " + format);
      ASSERT_EQ(Cli("-o out -f " + format + " -s keep " + run.options + " phone.jpg"), 0);
      const std::string output = folder.File("out/phone." + format);
      const std::vector<std::uint8_t> found = testsupport::MetadataOfFile(output).exif;
      // The size as stored, whatever the file's orientation says.
      const imaging::ImageHandle image = imaging::LoadImageFile(output, {false, false});
      imaging::ImageInfoRecord record{};
      imaging::GetImageInfo(image, record);
      imaging::FreeImage(image);
      EXPECT_EQ(std::pair(record[1], record[2]), run.size);
      EXPECT_EQ(found.empty() ? 0 : imaging::ExifOrientation(found), run.orientation);
    }
  }
  ASSERT_EQ(
      std::system(("cd '" + folder.Path() + "' && ./tessellarion-cli --help >help.txt").c_str()),
      0);
  const std::string help = testsupport::ReadFileText(folder.File("help.txt"));
  EXPECT_NE(help.find("--strip"), std::string::npos);
  EXPECT_NE(help.find("--no-auto-orient"), std::string::npos);
}

}  // namespace
