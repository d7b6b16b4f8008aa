// The message box, the text files, the file helpers and atomic replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "platform/TextFile.h"
#include "tests/support/TestSupport.h"

namespace {

using testsupport::TempFolder;

TEST(ShellTest, MessagesGoToTheInstalledShellInOrder) {
  platform::HeadlessShell shell;
  platform::InstallShell(&shell);
  platform::MessageBox("一");
  platform::MessageBox("二");
  platform::InstallShell(nullptr);
  platform::MessageBox("三");  // no shell installed: standard error, not the old shell
  EXPECT_EQ(shell.messages, (std::vector<std::string>{"一", "二"}));
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
  EXPECT_TRUE(platform::DeleteFile(folder.File("sub/empty")));
  EXPECT_FALSE(platform::DeleteFile(folder.File("sub/empty")));

  EXPECT_TRUE(testsupport::FileExists(platform::ExecutableFolder() + "platform_tests"));
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
