// Damaged and odd settings files: whatever LogFile/Log.ini holds, the form starts with every field
// in its range, shown as such in the controls, without hanging or reading more than it needs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "form/ControlTable.h"
#include "settings/SettingsFile.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace {

using namespace engine;

// A valid settings file with its lines from `first` up to `last` replaced by `line`.
std::string Text(std::size_t first = 0, std::size_t last = 0, const std::string& line = {}) {
  std::vector<std::string> lines = testsupport::kValidSettingsLines;
  for (std::size_t index = first; index < last; ++index) lines[index] = line;
  return testsupport::FileText(lines);
}

// A fresh start of a form over the settings file as it is: new session, new controls.
class SettingsFileRobustnessTest : public testsupport::BatchFixture {
 protected:
  void Start(const std::string& executableFolder) {
    started.reset();
    fresh = std::make_unique<platform::HeadlessControls>(form::MainFormControls());
    started = std::make_unique<form::MainForm>(*fresh, shell, executableFolder);
    started->InitialUpdate();
  }
  // The settings the started form holds.
  ConversionSettings& Loaded() { return started->Session().Settings; }
  std::unique_ptr<platform::HeadlessControls> fresh;
  std::unique_ptr<form::MainForm> started;
};

TEST_F(SettingsFileRobustnessTest, EveryFileStartsTheFormWithValidSettings) {
  const std::string megabyte(1 << 20, '9');
  const std::string exe = folder.Path();
  const std::string valid = "/photos/out dir/";
  enum class Kind { kText, kFolder, kPipe, kSparse, kDanglingLink };
  const struct {
    const char* what;
    Kind kind;
    std::string text;
    // What the start must show: the width (a number line), the folder and the name.
    std::int32_t width;
    std::string folder;
    std::string name;
  } cases[] = {
      // A folder or a pipe in the file's place: the reset settings, the folder left alone.
      {"folder in its place", Kind::kFolder, "", 320, exe, ""},
      {"pipe in its place", Kind::kPipe, "", 320, exe, ""},
      // A link to a file that is not there: the reset settings replace the link, and nothing is
      // made where it pointed.
      {"dangling link in its place", Kind::kDanglingLink, "", 320, exe, ""},
      // An editor's byte-order mark before the header: the header still counts.
      {"byte-order mark", Kind::kText, "\xEF\xBB\xBF" + Text(), 800, valid, "holiday"},
      // A NUL byte ends a text field and a number.
      {"NUL in the folder", Kind::kText, Text(1, 2, std::string("/photos/out\0dir/", 16)), 800,
       "/photos/out", "holiday"},
      {"NUL in a number", Kind::kText, Text(4, 5, {'8', 0, '0', '0'}), 8, valid, "holiday"},
      // Too long for the system, yet kept as read: the run then fails visibly on them.
      {"1 MB folder", Kind::kText, Text(1, 2, "/" + megabyte), 800, "/" + megabyte, "holiday"},
      {"1 MB name", Kind::kText, Text(18, 19, megabyte), 800, valid, megabyte},
      // Numbers beyond 64 bits in every number line.
      {"beyond 64 bits", Kind::kText, Text(2, 18, "123456789012345678901234567890"), 320, valid,
       "holiday"},
      // A sparse file of 4 GiB after valid lines: only the first 16 MB are read.
      {"sparse 4 GiB", Kind::kSparse, Text(), 800, valid, "holiday"},
  };
  const std::string path = folder.File("LogFile/Log.ini");
  const std::string pointed = folder.File("elsewhere/Log.ini");
  std::filesystem::create_directory(folder.File("elsewhere"));
  const std::uint64_t before = reliability::PeakMemory();
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    std::filesystem::remove_all(path);
    if (test.kind == Kind::kFolder) std::filesystem::create_directories(path + "/inside");
    if (!test.text.empty()) testsupport::WriteFileText(path, test.text);
    const bool made = test.kind == Kind::kPipe     ? mkfifo(path.c_str(), 0600) == 0
                      : test.kind == Kind::kSparse ? truncate(path.c_str(), off_t{4} << 30) == 0
                      : test.kind == Kind::kDanglingLink
                          ? symlink(pointed.c_str(), path.c_str()) == 0
                          : true;
    EXPECT_TRUE(made);
    if (!made) continue;
    Start(exe);
    EXPECT_EQ(std::tie(Loaded().Width, Loaded().OutputFolder, Loaded().CustomName),
              std::tie(test.width, test.folder, test.name));
    // Read back from the controls and validated again, the record stays as it is.
    const std::string shown = settings::SettingsFileText(Loaded());
    SettingsFromControls(*fresh, Loaded());
    ValidateSettings(*fresh, Loaded());
    EXPECT_EQ(settings::SettingsFileText(Loaded()), shown);
    EXPECT_EQ(testsupport::FileExists(path + "/inside"), test.kind == Kind::kFolder);
    EXPECT_FALSE(testsupport::FileExists(pointed)) << "written through a link";
  }
  if (!reliability::kSanitized) {
    EXPECT_LT(reliability::PeakMemory(), before + (128u << 20));
  }
}

TEST_F(SettingsFileRobustnessTest, ALineFeedInAFolderOrNameNeverBreaksTheFileIntoMoreLines) {
  // The executable's folder is the output folder of a first start; with a line feed in its name
  // it is stored as an empty line, which loads as that same folder. A name with one is stored
  // as an empty line too.
  const std::string exe = folder.File("two\nlines/");
  std::filesystem::create_directory(exe);
  Start(exe);
  fresh->SetText(kCustomNameEdit, "first\nsecond");
  fresh->SetText(kWidthEdit, "640");
  settings::SyncSettingsFile(*fresh, Loaded(), started->Session().Job.SettingsFolder,
                             settings::SettingsFileMode::Save);
  Start(exe);
  EXPECT_EQ(Loaded().OutputFolder, exe);
  EXPECT_EQ(Loaded().Width, 640) << "the lines after the folder stay in place";
  EXPECT_EQ(Loaded().CustomName, "");

  // Such a folder cannot be chosen as the output folder.
  shell.folderAnswers = {{platform::FolderChoiceOutcome::kChosen, exe}};
  started->ChooseOutputFolder();
  EXPECT_EQ(shell.messages.back(), "改行を含む名前のフォルダは出力先にできません。");
  EXPECT_EQ(Loaded().OutputFolder, exe) << "the folder as it was";
}

}  // namespace
