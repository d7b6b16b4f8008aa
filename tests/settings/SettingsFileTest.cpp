// The settings file: first start, the header check, loading with repairs, and saving.
#include <gtest/gtest.h>

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
  // Values away from the reset ones, mostly distinct, so that a swapped field shows.
  std::vector<std::string> ValidLines() const {
    std::vector<std::string> lines = {"TessellarionVer102", "/photos/out dir/"};
    for (const char* number : {"2", "2", "800", "600", "3", "1", "0", "35", "4", "71", "1", "10",
                               "20", "30", "40", "2"}) {
      lines.push_back(number);
    }
    lines.push_back("holiday");
    return lines;
  }
};

// The numbers of a settings record in file order, for comparing all fields at once.
std::vector<long long> Numbers(const ConversionSettings& settings) {
  return {settings.OutputFormatIndex,
          settings.SizeMode,
          settings.Width,
          settings.Height,
          settings.BmpDepthIndex,
          settings.PngInterlace,
          settings.JpegProgressive,
          settings.Compression,
          settings.ColorEffectIndex,
          settings.RotationIndex,
          settings.CropEnabled,
          settings.CropX,
          settings.CropY,
          settings.CropWidth,
          settings.CropHeight,
          settings.NamingScheme};
}

TEST_F(SettingsFileTest, FirstStartCreatesTheFolderAndTheResetFile) {
  SyncSettingsFile(controls, SettingsFileMode::Load);
  std::string expected = Golden("first-start-Log.ini");
  expected.replace(expected.find("@EXECUTABLE_FOLDER@"), 19, folder.Path());
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), expected);
  EXPECT_EQ(controls.Text(kOutputFolderEdit), folder.Path());
}

TEST_F(SettingsFileTest, LoadReadsEveryFieldIntoRecordAndControls) {
  WriteSettingsFile(FileLines(ValidLines()));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Numbers(Settings()),
            (std::vector<long long>{2, 2, 800, 600, 3, 1, 0, 35, 4, 71, 1, 10, 20, 30, 40, 2}));
  EXPECT_EQ(Settings().OutputFolder, "/photos/out dir/") << "a folder with blanks is read whole";
  EXPECT_EQ(Settings().CustomName, "holiday");
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
  for (const auto& [header, read] : std::vector<std::pair<std::string, bool>>{
           {"TessellariXXX999", true},  // the version part is not compared
           {"Tessellar", false},
           {"", false},
           {"tessellarionVer102", false}}) {
    ResetProcessState();
    Job().ExecutableFolder = folder.Path();
    lines[0] = header;
    WriteSettingsFile(FileLines(lines));
    SyncSettingsFile(controls, SettingsFileMode::Load);
    EXPECT_EQ(Settings().Width, read ? 800 : 320) << "header '" << header << "'";
    if (!read) {
      EXPECT_EQ(testsupport::ReadFileText(FilePath()).substr(0, 20), "TessellarionVer102\r\n");
    }
  }
}

TEST_F(SettingsFileTest, OddLinesReadSafely) {
  // Out-of-range and unreadable numbers are repaired in every field; what is left here is how a
  // line is read, not what it repairs to.
  std::vector<std::string> lines = ValidLines();
  lines[7] = "5";                 // PngInterlace: any non-zero number is on
  lines[18] = "   two  blanks ";  // leading blanks of the name are not kept
  WriteSettingsFile("TessellarionVer102\n" + FileLines({lines.begin() + 1, lines.end()}));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().PngInterlace, 1);
  EXPECT_EQ(Settings().CustomName, "two  blanks ");

  // A short file: the fields it does not reach keep what the controls held.
  ResetProcessState();
  Job().ExecutableFolder = folder.Path();
  controls.SetText(kCropHeightEdit, "77");
  controls.SetText(kCustomNameEdit, "kept");
  WriteSettingsFile(FileLines({lines.begin(), lines.begin() + 12}));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().CropHeight, 77);
  EXPECT_EQ(Settings().CustomName, "kept");
}

TEST_F(SettingsFileTest, AnEmptyNameSurvivesAndASaveKeepsTheEditBoxAsTyped) {
  std::vector<std::string> lines = ValidLines();
  lines[18] = "";
  WriteSettingsFile(FileLines(lines));
  SyncSettingsFile(controls, SettingsFileMode::Load);
  EXPECT_EQ(Settings().CustomName, "");

  controls.SetText(kWidthEdit, "0");
  SyncSettingsFile(controls, SettingsFileMode::Save);
  lines[4] = "320";  // the file gets the fallback
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), FileLines(lines))
      << "an empty name is an empty last line";
  EXPECT_EQ(controls.Text(kWidthEdit), "0") << "the edit box keeps what was typed";
}

TEST_F(SettingsFileTest, AnUnwritableFolderIsNoError) {
  Job().ExecutableFolder = folder.File("missing/deeper/");
  SyncSettingsFile(controls, SettingsFileMode::Load);
  SyncSettingsFile(controls, SettingsFileMode::Save);
  EXPECT_EQ(Settings().Width, 320);
  EXPECT_FALSE(testsupport::FileExists(folder.File("missing")));
}

}  // namespace
