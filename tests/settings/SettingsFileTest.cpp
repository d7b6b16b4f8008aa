// The settings file: first start, the header check, loading with repairs, and saving.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <tuple>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/Session.h"
#include "engine/SettingRows.h"
#include "platform/FileSystem.h"
#include "settings/SettingsFile.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using settings::SettingsFileMode;
using testsupport::FileText;

class SettingsFileTest : public testsupport::FormFixture {
 protected:
  // The form started, with the buttons its start checked cleared again: a loaded file checks its
  // own buttons, and the headless controls keep the others of the group as they were.
  SettingsFileTest() {
    form->InitialUpdate();
    for (ControlId id : {kFormatBmpRadio, kSizeKeepRadio, kNamingKeepRadio})
      controls.SetChecked(id, false);
  }
  std::string FilePath() const { return folder.File("LogFile/Log.ini"); }
  // The settings file in the mode, on the form's session.
  void SyncSettingsFile(platform::Controls& on, SettingsFileMode mode) {
    settings::SyncSettingsFile(on, Session().Settings, Session().Job.SettingsFolder, mode);
  }
  // Loads the text as the settings file, with the controls as they are.
  void Load(const std::string& text) {
    testsupport::WriteFileText(FilePath(), text);
    SyncSettingsFile(controls, SettingsFileMode::Load);
  }

  std::vector<std::string> lines = testsupport::kValidSettingsLines;
};

TEST_F(SettingsFileTest, FirstStartCreatesTheFolderAndTheResetFile) {
  std::filesystem::remove_all(folder.File("LogFile"));  // made by the form's start
  SyncSettingsFile(controls, SettingsFileMode::Load);
  std::string expected =
      testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/first-start-Log.ini");
  expected.replace(expected.find("@EXECUTABLE_FOLDER@"), 19, folder.Path());
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), expected);
}

TEST_F(SettingsFileTest, LoadReadsEveryFieldIntoRecordAndControlsAndSavesThemBack) {
  Load(FileText(lines));
  EXPECT_EQ(settings::SettingsFileText(Session().Settings), FileText(lines, "\n"))
      << "the record holds every field";
  EXPECT_EQ(controls.Text(kOutputFolderEdit), "/photos/out dir/") << "read whole, blanks and all";
  // A save reads every control back into the record first: the file is the same.
  SyncSettingsFile(controls, SettingsFileMode::Save);
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), FileText(lines));

  // An empty name is an empty last line. A width out of range goes to the file as its fallback,
  // while the edit box keeps what was typed.
  controls.SetText(kCustomNameEdit, "");
  controls.SetText(kWidthEdit, "0");
  SyncSettingsFile(controls, SettingsFileMode::Save);
  lines[4] = "320";
  lines[18] = "";
  EXPECT_EQ(testsupport::ReadFileText(FilePath()), FileText(lines));
  EXPECT_EQ(controls.Text(kWidthEdit), "0");
  // Loaded from the file, it is shown repaired.
  lines[4] = "0";
  Load(FileText(lines));
  EXPECT_EQ(controls.Text(kWidthEdit), "320");
}

TEST_F(SettingsFileTest, EachSettingRowReadsItsLineAtItsRangeEndsAndRepairsPastThem) {
  // Every row's line holds its field: both ends of its range load and save unchanged, a number
  // just past either end loads as its fallback (a switch reads any non-zero number as on).
  for (std::size_t index = 0; index < SettingRows().size(); ++index) {
    const SettingRow& row = SettingRows()[index];
    SCOPED_TRACE(std::string(row.name));
    const std::size_t line = index + 2;  // after the header and the folder
    const int past = row.flag != nullptr ? 1 : row.fallback;
    const std::pair<int, int> cases[] = {{row.minimum, row.minimum}, {row.maximum, row.maximum},
                                         {row.minimum - 1, past}, {row.maximum + 1, past}};
    for (const auto& [written, loaded] : cases) {
      std::vector<std::string> file = lines;
      file[line] = std::to_string(written);
      Load(FileText(file));
      EXPECT_EQ(row.Get(Session().Settings), loaded) << written;
      file[line] = std::to_string(loaded);
      EXPECT_EQ(settings::SettingsFileText(Session().Settings), FileText(file, "\n")) << written;
    }
  }
}

TEST_F(SettingsFileTest, EveryNumberLineReadsOverlongAndNonNumericTokensAsItsLeadingDigits) {
  // A token is read as its leading digits after an optional sign; none read as 0. The number it
  // reads, or none for one beyond 32 bits, which no field's range holds.
  const std::string digits(400, '7');
  const std::pair<std::string, std::optional<long long>> tokens[] = {
      {digits, std::nullopt}, {"-" + digits, std::nullopt}, {"0" + digits, std::nullopt},
      {"2147483648", std::nullopt}, {"12a", 12}, {"-", 0}, {"+", 0}, {"-7", -7}, {" 7", 7},
      {"\t+3", 3}, {"0x10", 0}, {"1e3", 1}, {"x9", 0}, {"3.9", 3}, {"00000000000000000002", 2}};
  for (std::size_t index = 0; index < SettingRows().size(); ++index) {
    const SettingRow& row = SettingRows()[index];
    for (const auto& [token, number] : tokens) {
      SCOPED_TRACE(std::string(row.name) + " '" + token.substr(0, 24) + "'");
      std::vector<std::string> file = lines;
      file[index + 2] = token;
      // Buttons and boxes unchecked, as at a start: showing a record only checks.
      for (const SettingRow& shown : SettingRows()) {
        if (shown.control == SettingControl::kRadioGroup || shown.control == SettingControl::kCheckBox)
          for (const ControlId id : shown.controls) controls.SetChecked(id, false);
      }
      Load(FileText(file));
      // A switch is on for any non-zero number; a number field outside its range takes its
      // fallback. The other lines load as written, and the controls show the same.
      const int loaded = row.flag != nullptr          ? (number != 0 ? 1 : 0)
                         : number && row.InRange(*number) ? static_cast<int>(*number)
                                                          : row.fallback;
      file[index + 2] = std::to_string(loaded);
      EXPECT_EQ(settings::SettingsFileText(Session().Settings), FileText(file, "\n"));
      SettingsFromControls(controls, Session().Settings);
      EXPECT_EQ(settings::SettingsFileText(Session().Settings), FileText(file, "\n"));
    }
  }
  // An empty number line counts for none: the lines after it move up one field, the name's line
  // is read as the last number (no digits: 0) and the name is empty.
  for (std::size_t index = 0; index < SettingRows().size(); ++index) {
    SCOPED_TRACE(std::string(SettingRows()[index].name) + " empty");
    std::vector<std::string> file = lines;
    file[index + 2] = "";
    Load(FileText(file));
    std::vector<std::string> expected = lines;
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(index) + 2);
    expected.back() = "0";
    expected.push_back("");
    for (std::size_t field = index; field < SettingRows().size(); ++field) {
      const SettingRow& row = SettingRows()[field];
      const int value = std::stoi(expected[field + 2]);
      expected[field + 2] = std::to_string(row.flag != nullptr ? value != 0
                                           : row.InRange(value) ? value
                                                                : row.fallback);
    }
    EXPECT_EQ(settings::SettingsFileText(Session().Settings), FileText(expected, "\n"));
  }
}

TEST_F(SettingsFileTest, TheHeaderCheckComparesTenCharacters) {
  // The version part is not compared; ten characters are enough.
  for (const std::string header : {"TessellariXXX999", "Tessellari"}) {
    lines[0] = header;
    Load(FileText(lines));
    EXPECT_EQ(Session().Settings.Width, 800) << header;
  }
  // A reset checks the boxes its values turn on and unchecks none, so the loaded ones are cleared
  // here by hand, as they are at a first start.
  for (ControlId id : {kPngInterlaceCheck, kCropCheck}) controls.SetChecked(id, false);
  for (const std::string header : {"Tessellar", "", "tessellarionVer102"}) {
    lines[0] = header;
    Load(FileText(lines));
    // A refused file is replaced by the reset one, which keeps the folder, the colour effect,
    // the rotation, the naming and the name that were shown.
    EXPECT_EQ(testsupport::ReadFileText(FilePath()),
              FileText({"TessellarionVer102", "/photos/out dir/", "0", "0", "320", "240", "0", "0",
                        "0", "20", "4", "71", "0", "0", "0", "100", "100", "2", "holiday"}))
        << "header '" << header << "'";
  }
}

TEST_F(SettingsFileTest, OddLinesReadSafely) {
  // Out-of-range and unreadable numbers are repaired in every field; what is left here is how a
  // line is read, not what it repairs to. The line ends are LF alone.
  lines[1] = "  /photos/out dir/";  // the blanks that start the folder line are skipped
  lines[18] = "   two  blanks ";    // leading blanks of the name are not kept
  lines[2] = "2\t2";                // a tab parts numbers on one line,
  lines[3] = "";                    // and a blank line counts for none
  // PngInterlace: any non-zero number is on, however long.
  const std::pair<const char*, int> switches[] = {
      {"5", 1}, {"99999999999", 1}, {"-99999999999", 1}, {"0", 0}, {"000000000000", 0}};
  for (const auto& [line, on] : switches) {
    lines[7] = line;
    Load(FileText(lines, "\n"));
    EXPECT_EQ(Session().Settings.PngInterlace, on) << line;
  }
  EXPECT_EQ(std::tie(Session().Settings.OutputFolder, Session().Settings.CustomName,
                     Session().Settings.Width),
            std::tuple("/photos/out dir/", "two  blanks ", 800));
  // A short file: the fields it does not reach keep what the controls held.
  controls.SetText(kCropHeightEdit, "77");
  controls.SetText(kCustomNameEdit, "kept");
  Load(FileText({lines.begin(), lines.begin() + 12}));
  EXPECT_EQ(std::tie(Session().Settings.CropHeight, Session().Settings.CustomName),
            std::tuple(77, "kept"));
}

}  // namespace
