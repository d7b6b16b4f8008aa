// The headless controls and shell, the text files and the file helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "platform/TextFile.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::TempFolder;

// A small form of one control of each kind the operations drive.
constexpr platform::ControlId kButton = 1, kRadio = 2, kCombo = 3, kList = 4, kSlider = 5,
                              kProgress = 6;
const std::vector<platform::ControlDefinition>& SmallForm() {
  using platform::ControlKind;
  static const std::vector<platform::ControlDefinition> table = {
      {kButton, ControlKind::kPushButton, "実行", platform::kStyleNone, {}},
      {kRadio, ControlKind::kRadioButton, "BMP", platform::kStyleGroupStart, {}},
      {kCombo, ControlKind::kComboBox, "", platform::kStyleNone, {}},
      {kList, ControlKind::kListBox, "", platform::kStyleAcceptsFiles, {}},
      {kSlider, ControlKind::kSlider, "", platform::kStyleNoTicks, {}},
      {kProgress, ControlKind::kProgressBar, "", platform::kStyleSmooth, {}},
      {platform::kNoControlId, ControlKind::kStatic, "label", platform::kStyleNone, {}},
  };
  return table;
}

TEST(HeadlessControlsTest, BuildsOneControlPerIdWithItsKindAndCaption) {
  platform::HeadlessControls controls(SmallForm());
  EXPECT_TRUE(controls.Exists(kSlider));
  EXPECT_EQ(controls.KindOf(kList), platform::ControlKind::kListBox);
  EXPECT_FALSE(controls.Exists(platform::kNoControlId)) << "labels have no id";
  EXPECT_EQ(controls.Text(kButton), "実行");
  EXPECT_FALSE(controls.IsChecked(kRadio)) << "buttons start unchecked";
  EXPECT_EQ(controls.Text(99), "") << "an unknown id reads as empty";
  controls.SetText(99, "ignored");
}

TEST(HeadlessControlsTest, SelectionsFollowThePlatformRules) {
  platform::HeadlessControls controls(SmallForm());
  EXPECT_EQ(controls.ComboSelection(kCombo), -1);
  controls.AppendComboEntry(kCombo, "a");
  controls.AppendComboEntry(kCombo, "b");
  controls.SetComboSelection(kCombo, 1);
  EXPECT_EQ(controls.Text(kCombo), "b");
  controls.SetComboSelection(kCombo, 2);  // past the entries: none selected
  EXPECT_EQ(controls.ComboSelection(kCombo), -1);

  for (const char* entry : {"x", "y", "z"}) controls.AppendListEntry(kList, entry);
  controls.SetListSelection(kList, 2);
  controls.DeleteListEntry(kList, 0);
  EXPECT_EQ(controls.ListSelection(kList), 1) << "the selection follows its entry";
  controls.DeleteListEntry(kList, 1);
  EXPECT_EQ(controls.ListSelection(kList), -1);
  controls.DeleteListEntry(kList, 7);
  EXPECT_EQ(controls.ListCount(kList), 1);
  EXPECT_EQ(controls.ListEntry(kList, 5), "");
}

TEST(HeadlessControlsTest, SliderAndProgressBarStayInTheirRanges) {
  platform::HeadlessControls controls(SmallForm());
  controls.SetSliderRange(kSlider, 0, 100, false);
  controls.SetSliderPosition(kSlider, 150, true);
  EXPECT_EQ(controls.SliderPosition(kSlider), 100);

  controls.SetProgressRange(kProgress, 0, 3);
  controls.SetProgressStep(kProgress, 1);
  controls.SetProgressPosition(kProgress, 0);
  for (int i = 0; i < 3; ++i) controls.StepProgress(kProgress);
  EXPECT_EQ(controls.ProgressPosition(kProgress), 3);
  controls.StepProgress(kProgress);
  EXPECT_LT(controls.ProgressPosition(kProgress), 3) << "stepping past the end starts over";
}

TEST(HeadlessShellTest, RecordsMessagesAndAnswersDialogsFromItsScript) {
  platform::HeadlessShell shell;
  platform::InstallShell(&shell);
  platform::MessageBox("一");
  platform::MessageBox("二");
  platform::InstallShell(nullptr);
  EXPECT_EQ(shell.messages, (std::vector<std::string>{"一", "二"}));

  shell.fileAnswers = {std::string("/a.bmp"), std::nullopt};
  EXPECT_EQ(shell.ChooseFile("t", {}), "/a.bmp");
  EXPECT_EQ(shell.ChooseFile("t", {}), std::nullopt);
  EXPECT_EQ(shell.ChooseFile("t", {}), std::nullopt) << "an empty script cancels";
  EXPECT_EQ(shell.ChooseFolder("f").outcome, platform::FolderChoiceOutcome::kCancelled);
}

TEST(TextFileTest, WritesCrLfAndReadsBothLineEnds) {
  TempFolder folder;
  ASSERT_TRUE(platform::WriteTextFile(folder.File("a.txt"), "one\ntwo\n"));
  EXPECT_EQ(testsupport::ReadFileText(folder.File("a.txt")), "one\r\ntwo\r\n");
  EXPECT_EQ(platform::ReadTextFile(folder.File("a.txt")), "one\ntwo\n");
  testsupport::WriteFileText(folder.File("b.txt"), "x\ny\r\nz\rw");
  EXPECT_EQ(platform::ReadTextFile(folder.File("b.txt")), "x\ny\nz\rw") << "a lone CR stays";
  EXPECT_EQ(platform::ReadTextFile(folder.File("missing.txt")), std::nullopt);
}

TEST(TextFileTest, ScannerReadsTokensAndLinesLikeBufferedTextFunctions) {
  platform::TextScanner scanner("head rest of line\n  12px\n\n -3 \n   name with blanks\n");
  EXPECT_EQ(scanner.ReadToken(), "head");
  scanner.SkipWhiteSpace();
  EXPECT_EQ(scanner.ReadRestOfLine(), "rest of line");
  EXPECT_EQ(scanner.ReadToken(), "12px");
  EXPECT_EQ(scanner.ReadToken(), "-3") << "blank lines between tokens are skipped";
  scanner.SkipWhiteSpace();
  EXPECT_EQ(scanner.ReadRestOfLine(), "name with blanks");
  EXPECT_TRUE(scanner.AtEnd());
  EXPECT_EQ(scanner.ReadToken(), "");
}

TEST(FileSystemTest, SizesFoldersAndTheExecutableFolder) {
  TempFolder folder;
  testsupport::WriteFileText(folder.File("five"), "12345");
  EXPECT_EQ(platform::FileSize(folder.File("five")), 5u);
  EXPECT_EQ(platform::FileSizeField(folder.File("five")), 5);
  EXPECT_EQ(platform::FileSizeField(folder.File("missing")), -1);
  EXPECT_EQ(platform::FileSizeField(folder.Path()), -1) << "a folder has no file size";

  EXPECT_TRUE(platform::CreateFolder(folder.File("sub")));
  EXPECT_FALSE(platform::CreateFolder(folder.File("sub"))) << "an existing folder is reported";
  EXPECT_TRUE(platform::TouchFile(folder.File("sub/empty")));
  EXPECT_EQ(platform::FileSize(folder.File("sub/empty")), 0u);
  EXPECT_TRUE(platform::DeleteFile(folder.File("sub/empty")));
  EXPECT_FALSE(platform::DeleteFile(folder.File("sub/empty")));

  const std::string executableFolder = platform::ExecutableFolder();
  ASSERT_FALSE(executableFolder.empty());
  EXPECT_EQ(executableFolder.back(), '/');
  EXPECT_TRUE(testsupport::FileExists(executableFolder + "platform_tests"));
}

TEST(AtomicFileTest, TheTargetChangesOnlyOnASuccessfulCommit) {
  TempFolder folder;
  const std::string target = folder.File("target");
  testsupport::WriteFileText(target, "old");
  chmod(target.c_str(), 0640);
  {
    platform::AtomicFileWriter writer(target);
    ASSERT_NE(writer.Stream(), nullptr);
    std::fputs("abandoned", writer.Stream());
  }  // destroyed without Commit
  EXPECT_EQ(testsupport::ReadFileText(target), "old");
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"target"})) << "no temporary left";
  {
    platform::AtomicFileWriter writer(target);
    std::fputs("new", writer.Stream());
    EXPECT_TRUE(writer.Commit());
  }
  EXPECT_EQ(testsupport::ReadFileText(target), "new");
  struct stat status {};
  stat(target.c_str(), &status);
  EXPECT_EQ(status.st_mode & 0777, 0640u) << "the replacement keeps the file's permissions";

  platform::AtomicFileWriter nowhere(folder.File("no/such/folder/file"));
  EXPECT_EQ(nowhere.Stream(), nullptr);
  EXPECT_FALSE(nowhere.Commit());
}

TEST(AtomicFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  TempFolder folder;
  const std::string target = folder.File("target");
  testsupport::WriteFileText(target, "old");
  {
    platform::AtomicFileWriter writer(target);
    ASSERT_NE(writer.Stream(), nullptr);
    // A stream that reports an error, as a full disk does, must not be committed.
    std::fputs("partial", writer.Stream());
    std::fgetc(writer.Stream());  // reading a write-only stream sets its error flag
    EXPECT_FALSE(writer.Commit());
  }
  EXPECT_EQ(testsupport::ReadFileText(target), "old");
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"target"}));
}

}  // namespace
