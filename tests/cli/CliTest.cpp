// The real tessellarion-cli binary, copied into a folder of its own so that its settings file
// lands there, run on generated images.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

namespace {

struct CliRun {
  int status = -1;
  std::string errors;
};

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    std::filesystem::copy_file(TESSELLARION_CLI_PATH, folder.File("tessellarion-cli"));
    std::filesystem::create_directory(folder.File("in"));
    std::filesystem::create_directory(folder.File("out"));
  }

  CliRun Cli(const std::vector<std::string>& arguments) {
    std::string command = "cd '" + folder.Path() + "' && ./tessellarion-cli";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>errors.txt </dev/null";
    CliRun run;
    const int result = std::system(command.c_str());
    run.status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    run.errors = testsupport::ReadFileText(folder.File("errors.txt"));
    return run;
  }

  std::string Image(const std::string& name, int width, int height) {
    testsupport::SaveImageFile(testsupport::PhotoLike(width, height), folder.File("in/" + name));
    return "in/" + name;
  }
  std::vector<std::string> Outputs() const {
    return testsupport::FolderEntries(folder.File("out"));
  }

  testsupport::TempFolder folder;
};

TEST_F(CliTest, ConvertsEveryFileAndSavesTheSettingsItRanWith) {
  const CliRun run = Cli({"-o", "out", "-f", "png", "-s", "640x480", "-e", "sepia",
                          Image("a.jpg", 41, 29), Image("b.bmp", 17, 9), Image("c.png", 8, 8)});
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.errors, "Tessellarion: 変換完了！！\n");
  ASSERT_EQ(Outputs(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
  EXPECT_EQ(testsupport::ImageSizeOf(folder.File("out/b.png")), (std::pair{640, 480}));

  const std::string settings = testsupport::ReadFileText(folder.File("LogFile/Log.ini"));
  EXPECT_EQ(settings.substr(0, 20), "TessellarionVer102\r\n");
  EXPECT_NE(settings.find(folder.File("out/") + "\r\n2\r\n1\r\n"), std::string::npos)
      << "folder, PNG, 640×480 are stored: " << settings;
}

TEST_F(CliTest, CustomNamesQualityAndRefusedFiles) {
  testsupport::WriteFileText(folder.File("in/x.gif"), "GIF89a......");
  const CliRun run =
      Cli({"--output", "out", "--format", "jpg", "-q", "60", "--progressive", "--custom-name",
           "img", Image("p.png", 12, 7), "in/x.gif", Image("q.bmp", 5, 3)});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors,
            "Tessellarion: GIFです!!この形式は変換できません!!\nTessellarion: 変換完了！！\n");
  EXPECT_EQ(Outputs(), (std::vector<std::string>{"img1.jpg", "img2.jpg"}));
  const std::string settings = testsupport::ReadFileText(folder.File("LogFile/Log.ini"));
  EXPECT_NE(settings.find("\r\n40\r\n"), std::string::npos) << "compression 100 − 60";
  EXPECT_EQ(settings.substr(settings.size() - 5), "img\r\n");
}

TEST_F(CliTest, ExitStatusTellsWhatHappened) {
  // A file that looks like a PNG but does not decode is listed, then not written.
  testsupport::WriteFileBytes(folder.File("in/broken.png"),
                              {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
  CliRun run = Cli({"-o", "out", "-f", "bmp", Image("fine.png", 3, 3), "in/broken.png"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.errors,
            "Tessellarion: 1件のファイルを変換できませんでした！！\nTessellarion: 変換完了！！\n");

  run = Cli({"-o", "out", "-s", "2001x10", Image("fine.png", 3, 3)});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.errors.find("２０００*２０００"), std::string::npos);
}

TEST_F(CliTest, BadOptionsConvertNothingAndLeaveTheSettingsAlone) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"-f", "gif", "in/a.png"},
                                             {"--quality", "101", "in/a.png"},
                                             {"-r", "7", "in/a.png"},
                                             {"--crop", "1,2,3", "in/a.png"},
                                             {"-o", "no-such-folder", "in/a.png"},
                                             {"--bogus", "in/a.png"},
                                             {"-f"},
                                             {"-f", "png"}}) {
    const CliRun run = Cli(arguments);
    EXPECT_EQ(run.status, 64) << arguments[0];
    EXPECT_NE(run.errors.find("tessellarion-cli:"), std::string::npos) << run.errors;
  }
  EXPECT_NE(Cli({"-f", "gif", "x"}).errors.find("--format"), std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile")));
  EXPECT_EQ(Cli({"--help"}).status, 0);
}

}  // namespace
