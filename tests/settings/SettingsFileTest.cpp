// The settings file: first start, the header check, loading with repairs, and saving.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "platform/FileSystem.h"
#include "settings/SettingsFile.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using settings::SettingsFileMode;
using settings::SyncSettingsFile;

std::string Golden(const std::string& name) {
  return testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/" + name);
}

// The 19 lines of a settings file, each ended by CR LF.
std::string FileLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

class SettingsFileTest : public testsupport::FormFixture {
 protected:
  SettingsFileTest() {
    FillComboBoxes();
    Settings().OutputFolder = folder.Path();
  }
  std::string FilePath() const { return folder.File("LogFile/Log.ini"); }
  void WriteSettingsFile(const std::string& text) {
    platform::CreateFolder(folder.File("LogFile"));
    testsupport::WriteFileText(FilePath(), text);
  }
  std::vector<std::string> ValidLines() const {
    return {"TessellarionVer102",
            "/photos/out dir/",
            "2",
            "2",
            "800",
            "600",
            "3",
            "1",
            "0",
            "35",
            "4",
            "71",
            "1",
            "10",
            "20",
            "30",
            "40",
            "2",
            "holiday"};
  }
};

TEST_F(SettingsFileTest, FirstStartCreatesTheFolderAndTheResetFile) {
  SyncSettingsFile(controls, SettingsFileMode::Load);
  std::string expected = Golden("first-start-Log.ini");
  expected.replace(expected.find("@EXECUTABLE_FOLDER@"), 19, folder.Path());
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), expected);
  EXPECT_TRUE(controls.IsChecked(kFormatBmpRadio));
  EXPECT_TRUE(controls.IsChecked(kSizeKeepRadio));
  EXPECT_EQ(controls.Text(kWidthEdit), "320");
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 20);
  EXPECT_EQ(controls.Text(kOutputFolderEdit), folder.Path());
}

TEST_F(SettingsFileTest, LoadReadsEveryFieldIntoRecordAndControls) {
  WriteSettingsFile(FileLines(ValidLines()));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  const ConversionSettings& settings = Settings();
  EXPECT_EQ(settings.OutputFolder, "/photos/out dir/") << "a folder with blanks is read whole";
  EXPECT_EQ(settings.OutputFormatIndex, 2);
  EXPECT_EQ(settings.SizeMode, 2);
  EXPECT_EQ(settings.Width, 800);
  EXPECT_EQ(settings.Height, 600);
  EXPECT_EQ(settings.BmpDepthIndex, 3);
  EXPECT_EQ(settings.PngInterlace, 1);
  EXPECT_EQ(settings.JpegProgressive, 0);
  EXPECT_EQ(settings.Compression, 35);
  EXPECT_EQ(settings.ColorEffectIndex, 4);
  EXPECT_EQ(settings.RotationIndex, 71);
  EXPECT_EQ(settings.CropEnabled, 1);
  EXPECT_EQ(settings.CropX, 10);
  EXPECT_EQ(settings.CropY, 20);
  EXPECT_EQ(settings.CropWidth, 30);
  EXPECT_EQ(settings.CropHeight, 40);
  EXPECT_EQ(settings.NamingScheme, 2);
  EXPECT_EQ(settings.CustomName, "holiday");
  EXPECT_TRUE(controls.IsChecked(kFormatPngRadio));
  EXPECT_TRUE(controls.IsChecked(kNamingCustomRadio));
  EXPECT_EQ(controls.Text(kRotationCombo), "355°回転");
  EXPECT_EQ(controls.Text(kOutputFolderEdit), "/photos/out dir/");

  // Saving what was loaded gives the same file back, byte for byte.
  SyncSettingsFile(controls, SettingsFileMode::Save);
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), FileLines(ValidLines()));
}

TEST_F(SettingsFileTest, TheHeaderCheckComparesTenCharacters) {
  std::vector<std::string> lines = ValidLines();
  lines[0] = "TessellariXXX999";  // the version part is not compared
  WriteSettingsFile(FileLines(lines));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().Width, 800);

  for (const std::string& header :
       {std::string("Tessellar"), std::string(""), std::string("tessellarionVer102")}) {
    ResetProcessState();
    Job().ExecutableFolder = folder.Path();
    lines[0] = header;
    WriteSettingsFile(FileLines(lines));
    SyncSettingsFile(controls, SettingsFileMode::Load);
    EXPECT_EQ(Settings().Width, 320) << "header '" << header << "' must reset";
    EXPECT_EQ(testsupport::ReadFileText(FilePath()).substr(0, 20), "TessellarionVer102\r\n");
  }
}

TEST_F(SettingsFileTest, BadValuesAreRepairedAndOddLinesReadSafely) {
  std::vector<std::string> lines = ValidLines();
  lines[4] = "0";                      // Width below its range
  lines[7] = "5";                      // PngInterlace: any non-zero number is on
  lines[9] = "150";                    // Compression above its range
  lines[11] = "abc";                   // RotationIndex not a number
  lines[13] = "99999999999999999999";  // CropX beyond 32 bits
  lines[18] = "   two  blanks ";       // leading blanks of the name are not kept
  WriteSettingsFile("TessellarionVer102\n" + FileLines({lines.begin() + 1, lines.end()}));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().Width, 320);
  EXPECT_EQ(Settings().PngInterlace, 1);
  EXPECT_EQ(Settings().Compression, 20);
  EXPECT_EQ(Settings().RotationIndex, 0);
  EXPECT_EQ(Settings().CropX, 0);
  EXPECT_EQ(Settings().CustomName, "two  blanks ");
  EXPECT_EQ(controls.Text(kWidthEdit), "320") << "repaired values are shown";

  // A short file: the fields it does not reach keep what the controls held.
  ResetProcessState();
  Job().ExecutableFolder = folder.Path();
  controls.SetText(kCropHeightEdit, "77");
  controls.SetText(kCustomNameEdit, "kept");
  WriteSettingsFile(FileLines({lines.begin(), lines.begin() + 12}));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().CropHeight, 77);
  EXPECT_EQ(Settings().CustomName, "kept");
  EXPECT_EQ(Settings().Width, 320);
}

TEST_F(SettingsFileTest, AnEmptyNameSurvivesAndASaveKeepsTheEditBoxAsTyped) {
  std::vector<std::string> lines = ValidLines();
  lines[18] = "";
  WriteSettingsFile(FileLines(lines));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().CustomName, "");

  controls.SetText(kWidthEdit, "0");
  SyncSettingsFile(controls, SettingsFileMode::Save);
  std::istringstream saved(testsupport::ReadFileText(FilePath()));
  std::string line;
  for (int i = 0; i < 5; ++i) std::getline(saved, line);
  EXPECT_EQ(line, "320\r") << "the file gets the fallback";
  EXPECT_EQ(controls.Text(kWidthEdit), "0") << "the edit box keeps what was typed";
  EXPECT_EQ(testsupport::ReadFileText(FilePath())
                .substr(testsupport::ReadFileText(FilePath()).size() - 4),
            "\r\n\r\n")
      << "an empty name is an empty last line";
}

TEST_F(SettingsFileTest, AnUnwritableFolderIsNoError) {
  Job().ExecutableFolder = folder.File("missing/deeper/");
  SyncSettingsFile(controls, SettingsFileMode::Load);
  SyncSettingsFile(controls, SettingsFileMode::Save);
  EXPECT_EQ(Settings().Width, 320);
  EXPECT_FALSE(testsupport::FileExists(folder.File("missing")));
}

}  // namespace
