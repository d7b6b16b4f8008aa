// Damaged and odd settings files: whatever LogFile/Log.ini holds, the form starts with every field
// in its range, shown as such in the controls, without hanging or reading more than it needs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "settings/SettingsFile.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace {

using namespace engine;

const std::vector<std::string> kValidLines = {"TessellarionVer102",
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

std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

// The valid lines with line `index` replaced.
std::vector<std::string> With(std::size_t index, const std::string& line) {
  std::vector<std::string> lines = kValidLines;
  lines.at(index) = line;
  return lines;
}

// The valid lines with all 16 number lines replaced.
std::vector<std::string> EveryNumber(const std::string& line) {
  std::vector<std::string> lines = kValidLines;
  for (std::size_t index = 2; index < 18; ++index) lines[index] = line;
  return lines;
}

// Something other than a file in the settings file's place, or no file at all.
enum class Kind { kText, kMissing, kFolder, kPipe, kSparse };

// Every field in its range, and the controls showing exactly the record.
void ExpectValid(const platform::HeadlessControls& controls) {
  const ConversionSettings& settings = Settings();
  for (const auto& [value, maximum] :
       std::vector<std::pair<long long, long long>>{{settings.OutputFormatIndex, 3},
                                                    {settings.SizeMode, 2},
                                                    {settings.BmpDepthIndex, 3},
                                                    {settings.PngInterlace, 1},
                                                    {settings.JpegProgressive, 1},
                                                    {settings.Compression, 100},
                                                    {settings.ColorEffectIndex, 8},
                                                    {settings.RotationIndex, 71},
                                                    {settings.CropEnabled, 1},
                                                    {settings.CropX, 2000},
                                                    {settings.CropY, 2000},
                                                    {settings.CropWidth, 2000},
                                                    {settings.CropHeight, 2000},
                                                    {settings.NamingScheme, 2}}) {
    EXPECT_GE(value, 0);
    EXPECT_LE(value, maximum);
  }
  for (std::int32_t side : {settings.Width, settings.Height}) {
    EXPECT_GE(side, 1);
    EXPECT_LE(side, 2000);
  }
  for (const std::string& text : {settings.OutputFolder, settings.CustomName}) {
    EXPECT_EQ(text.find_first_of(std::string("\n\0", 2)), std::string::npos);
  }
  EXPECT_FALSE(settings.OutputFolder.empty());
  EXPECT_LT(settings.OutputFolder.size(), 4096u);
  EXPECT_LE(settings.CustomName.size(), 255u);

  // One button of each group, the record's.
  for (const auto& [first, index] : {std::pair{kFormatBmpRadio, settings.OutputFormatIndex},
                                     std::pair{kSizeKeepRadio, settings.SizeMode},
                                     std::pair{kNamingKeepRadio, settings.NamingScheme}}) {
    for (int button = 0; button < (first == kFormatBmpRadio ? 4 : 3); ++button) {
      EXPECT_EQ(controls.IsChecked(first + button), button == index) << first + button;
    }
  }
  EXPECT_EQ(controls.ComboSelection(kBmpDepthCombo), settings.BmpDepthIndex);
  EXPECT_EQ(controls.ComboSelection(kRotationCombo), settings.RotationIndex);
  EXPECT_EQ(controls.ComboSelection(kColorEffectCombo), settings.ColorEffectIndex);
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), settings.Compression);
  EXPECT_EQ(controls.Text(kCompressionEdit), std::to_string(settings.Compression));
  EXPECT_EQ(controls.Text(kWidthEdit), std::to_string(settings.Width));
  EXPECT_EQ(controls.Text(kCropHeightEdit), std::to_string(settings.CropHeight));
  EXPECT_EQ(controls.Text(kOutputFolderEdit), settings.OutputFolder);
  EXPECT_EQ(controls.Text(kCustomNameEdit), settings.CustomName);
}

class SettingsFileRobustnessTest : public testsupport::FormFixture {
 protected:
  reliability::Watchdog watchdog{300};
};

TEST_F(SettingsFileRobustnessTest, EveryFileStartsTheFormWithValidSettings) {
  const std::string megabyte(1 << 20, '9');
  const std::string exe = folder.Path();
  const struct {
    const char* what;
    Kind kind;
    std::string text;
    // What the start must show: the width (a number line), the folder and the name.
    std::int32_t width;
    std::string folder;
    std::string name;
  } cases[] = {
      // Nothing there, an empty file, a folder or a pipe in its place: the reset settings.
      {"missing", Kind::kMissing, "", 320, exe, ""},
      {"empty", Kind::kText, "", 320, exe, ""},
      {"folder in its place", Kind::kFolder, "", 320, exe, ""},
      {"pipe in its place", Kind::kPipe, "", 320, exe, ""},
      // One line short (no name) and one line over (ignored).
      {"18 lines", Kind::kText, Lines({kValidLines.begin(), kValidLines.end() - 1}), 800,
       "/photos/out dir/", ""},
      {"20 lines", Kind::kText, Lines(kValidLines) + "extra\r\n", 800, "/photos/out dir/",
       "holiday"},
      {"LF only", Kind::kText, Lines(kValidLines, "\n"), 800, "/photos/out dir/", "holiday"},
      // An editor's byte-order mark before the header: the header still counts.
      {"byte-order mark", Kind::kText, "\xEF\xBB\xBF" + Lines(kValidLines), 800, "/photos/out dir/",
       "holiday"},
      // A NUL byte ends a text field and a number.
      {"NUL in the folder", Kind::kText, Lines(With(1, std::string("/photos/out\0dir/", 16))), 800,
       "/photos/out", "holiday"},
      {"NUL in a number", Kind::kText,
       Lines(With(4, std::string("8\0"
                                 "00",
                                 4))),
       8, "/photos/out dir/", "holiday"},
      {"NUL in the name", Kind::kText, Lines(With(18, std::string("holi\0day", 8))), 800,
       "/photos/out dir/", "holi"},
      // Lines of a megabyte: no folder or name is that long, no number that large.
      {"1 MB folder", Kind::kText, Lines(With(1, "/" + megabyte)), 800, exe, "holiday"},
      {"1 MB number", Kind::kText, Lines(With(4, megabyte)), 320, "/photos/out dir/", "holiday"},
      {"1 MB name", Kind::kText, Lines(With(18, megabyte)), 800, "/photos/out dir/", ""},
      // Numbers beyond 64 bits either way, negative numbers, no numbers at all.
      {"beyond 64 bits", Kind::kText, Lines(EveryNumber("123456789012345678901234567890")), 320,
       "/photos/out dir/", "holiday"},
      {"below -2^64", Kind::kText, Lines(EveryNumber("-123456789012345678901234567890")), 320,
       "/photos/out dir/", "holiday"},
      {"negative", Kind::kText, Lines(EveryNumber("-1")), 320, "/photos/out dir/", "holiday"},
      {"not numbers", Kind::kText, Lines(EveryNumber("abc")), 320, "/photos/out dir/", "holiday"},
      // A sparse file of 4 GiB after valid lines: only the first 16 MB are read.
      {"sparse 4 GiB", Kind::kSparse, Lines(kValidLines), 800, "/photos/out dir/", "holiday"},
  };
  const std::string path = folder.File("LogFile/Log.ini");
  const std::uint64_t before = reliability::ResidentMemory();
  reliability::ResetPeakMemory();
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    std::filesystem::remove_all(folder.File("LogFile"));
    if (test.kind != Kind::kMissing) platform::CreateFolder(folder.File("LogFile"));
    switch (test.kind) {
      case Kind::kMissing:
        break;
      case Kind::kFolder:
        platform::CreateFolder(path);
        testsupport::WriteFileText(path + "/inside", "kept");
        break;
      case Kind::kPipe:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
      case Kind::kText:
      case Kind::kSparse:
        testsupport::WriteFileText(path, test.text);
        if (test.kind == Kind::kSparse) {
          ASSERT_EQ(truncate(path.c_str(), off_t{4} << 30), 0);
        }
        break;
    }
    // A fresh start: new process state and new controls.
    ResetProcessState();
    platform::HeadlessControls fresh(form::MainFormControls());
    form::MainForm start(fresh, shell, folder.Path());
    start.InitialUpdate();
    ExpectValid(fresh);
    EXPECT_EQ(Settings().Width, test.width);
    EXPECT_EQ(Settings().OutputFolder, test.folder);
    EXPECT_EQ(Settings().CustomName, test.name);
    EXPECT_EQ(testsupport::FileExists(path + "/inside"), test.kind == Kind::kFolder)
        << "a folder in the way is left alone";
  }
  if (!reliability::kSanitized) {
    EXPECT_LT(reliability::PeakMemory(), before + (128u << 20));
  }
}

TEST_F(SettingsFileRobustnessTest, TextWithALineFeedNeverBreaksTheFileIntoMoreLines) {
  // The executable's folder is the output folder of a first start; with a line feed in its name
  // it is stored as an empty line, which loads as that same folder.
  const std::string exe = folder.File("two\nlines/");
  ASSERT_TRUE(platform::CreateFolder(exe));
  platform::HeadlessControls fresh(form::MainFormControls());
  form::MainForm start(fresh, shell, exe);
  start.InitialUpdate();
  fresh.SetText(kCustomNameEdit, "first\nsecond");
  fresh.SetText(kWidthEdit, "640");
  settings::SyncSettingsFile(fresh, settings::SettingsFileMode::Save);
  const std::string text = testsupport::ReadFileText(exe + "LogFile/Log.ini");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 19);
  ResetProcessState();
  start.InitialUpdate();
  EXPECT_EQ(Settings().OutputFolder, exe);
  EXPECT_EQ(Settings().Width, 640) << "the lines after the folder stay in place";
  EXPECT_EQ(Settings().CustomName, "");

  // Such a folder cannot be chosen as the output folder.
  shell.folderAnswers = {{platform::FolderChoiceOutcome::kChosen, exe}};
  Settings().OutputFolder = folder.Path();
  start.ChooseOutputFolder();
  EXPECT_EQ(shell.messages.back(), "改行を含む名前のフォルダは出力先にできません。");
  EXPECT_EQ(Settings().OutputFolder, folder.Path());
}

}  // namespace
