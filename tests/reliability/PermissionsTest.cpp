// Saving as an ordinary user, through the real tessellarion-cli: write-protected outputs and
// settings files are left alone, replaced files keep their mode, a writable file in a
// write-protected folder is rewritten in place, a custom name that would leave the output folder is
// refused, a kill during a write loses no file, and a stop signal leaves no stray file. Root may
// write anything, so when the suite runs as root the binary runs as the unprivileged user 65534
// ("nobody").
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;

constexpr uid_t kUnprivileged = 65534;
const std::string kDone = "Tessellarion: 変換完了！！\n";
const std::string kOpenFailed = "Tessellarion: オープン失敗\n";

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class PermissionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chmod(folder.Path().c_str(), 0755);
    std::filesystem::copy_file(TESSELLARION_CLI_PATH, folder.File("tessellarion-cli"));
    testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.png"));
    std::filesystem::create_directory(out);
    Own(folder.Path());
    Own(out);
    if (Cli({"--version"}) != 0) {
      GTEST_SKIP() << "the binary cannot be run as an unprivileged user here (as root, switching "
                      "to user 65534 failed, or that user cannot reach the temporary folder)";
    }
  }
  void TearDown() override { chmod(out.c_str(), 0755); }

  // What the command line says when it could not write f.png's output, for the reason.
  std::string NotWritten(const std::string& reason) const {
    return "Tessellarion: " + folder.File("f.png") + ": " + reason +
           "\nTessellarion: 1件のファイルを変換できませんでした！！\n" + kDone;
  }

  // Gives a file or folder to the user the binary runs as, when that is not the suite's user.
  void Own(const std::string& path) {
    EXPECT_TRUE(geteuid() != 0 || lchown(path.c_str(), kUnprivileged, kUnprivileged) == 0) << path;
  }

  // Starts the binary in the folder, as the unprivileged user when the suite runs as root, with
  // its standard error in errors.txt; it exits with 126 when it cannot become that user.
  pid_t Start(std::vector<std::string> arguments) {
    std::string cli = folder.File("tessellarion-cli");
    const std::string errorsPath = folder.File("errors.txt");
    const pid_t child = fork();
    if (child == 0) {
      dup2(open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 2);
      dup2(open("/dev/null", O_WRONLY | O_CLOEXEC), 1);
      if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kUnprivileged) != 0 ||
                             setuid(kUnprivileged) != 0)) {
        _exit(126);
      }
      if (chdir(folder.Path().c_str()) != 0) _exit(126);
      std::vector<char*> argv{cli.data()};
      for (std::string& argument : arguments) argv.push_back(argument.data());
      argv.push_back(nullptr);
      execv(cli.c_str(), argv.data());
      _exit(127);
    }
    return child;
  }

  // Runs the binary to its end: its exit status, its standard error in `errors`; −1 when it could
  // not be started as the unprivileged user.
  int Cli(std::vector<std::string> arguments) {
    int status = 0;
    waitpid(Start(std::move(arguments)), &status, 0);
    errors = testsupport::ReadFileText(folder.File("errors.txt"));
    return WIFEXITED(status) && WEXITSTATUS(status) < 126 ? WEXITSTATUS(status) : -1;
  }

  Names Outputs() const { return testsupport::FolderEntries(out); }

  testsupport::TempFolder folder;
  std::string out = folder.File("out/");
  std::string errors;
};

TEST_F(PermissionsTest, WhatStandsUnderTheOutputNameDecidesWhetherAndHowItIsReplaced) {
  constexpr mode_t kFolder = 0;
  constexpr mode_t kAbsent = 01;
  const struct {
    const char* what;
    std::string format;
    mode_t targetMode;  // of the file "old" under the output name, or kFolder
    mode_t folderMode;
    int exitStatus;  // 0: replaced, keeping the mode; otherwise left as it was
    std::string errors;
  } cases[] = {
      {"0444 image", "png", 0444, 0755, 1, NotWritten("write-protected file")},
      {"0444 page", "htm", 0444, 0755, 1, kOpenFailed + NotWritten("write-protected file")},
      // The rename is the step that fails here; nothing is left behind either way.
      {"folder in an image's place", "png", kFolder, 0755, 1, NotWritten("a folder has that name")},
      {"folder in a page's place", "htm", kFolder, 0755, 1,
       kOpenFailed + NotWritten("a folder has that name")},
      {"0600 image", "png", 0600, 0755, 0, kDone},
      {"0640 BMP, written twice", "bmp", 0640, 0755, 0, kDone},
      // No temporary can go beside it, nor a new file replace it: new content shows that the
      // file was rewritten in place.
      {"writable image, read-only folder", "png", 0644, 0555, 0, kDone},
      {"writable BMP, read-only folder", "bmp", 0600, 0555, 0, kDone},
      {"0444 image, read-only folder", "png", 0444, 0555, 1, NotWritten("write-protected file")},
      {"new image, read-only folder", "png", kAbsent, 0555, 1,
       NotWritten("write-protected folder")},
      {"new page, read-only folder", "htm", kAbsent, 0555, 1,
       kOpenFailed + NotWritten("write-protected folder")},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    chmod(out.c_str(), 0755);
    for (const std::string& name : Outputs()) std::filesystem::remove_all(out + name);
    const std::string target = out + "f." + test.format;
    if (test.targetMode == kFolder) std::filesystem::create_directory(target);
    // Longer than any output, so that a rewrite in place must also cut the file short.
    const std::string old(500, 'o');
    if (test.targetMode != kFolder && test.targetMode != kAbsent)
      testsupport::WriteFileText(target, old);
    if (test.targetMode != kAbsent) {
      Own(target);
      chmod(target.c_str(), test.targetMode == kFolder ? 0755 : test.targetMode);
    }
    chmod(out.c_str(), test.folderMode);
    EXPECT_EQ(Cli({"-o", "out", "-f", test.format, "f.png"}), test.exitStatus);
    EXPECT_EQ(errors, test.errors);
    if (test.targetMode == kAbsent) {
      EXPECT_EQ(Outputs(), Names{});
      continue;
    }
    EXPECT_EQ(Outputs(), Names{"f." + test.format}) << "no temporary is left";
    EXPECT_EQ(std::filesystem::is_directory(target), test.targetMode == kFolder);
    if (test.targetMode == kFolder) continue;
    // A replaced file holds the new image alone: rewritten in place, it is cut short as well.
    const bool replaced = test.exitStatus == 0;
    EXPECT_EQ(testsupport::ReadFileText(target) == old, !replaced);
    EXPECT_EQ(testsupport::ImageSizeOf(target), (replaced ? std::pair{6, 5} : std::pair{0, 0}));
    EXPECT_EQ(std::filesystem::file_size(target) < old.size(), replaced);
    EXPECT_EQ(ModeOf(target), test.targetMode);
  }
}

TEST_F(PermissionsTest, AWriteProtectedSettingsFileIsLeftAsItIs) {
  ASSERT_EQ(Cli({"-o", "out", "-f", "png", "f.png"}), 0);
  const std::string settings = folder.File("LogFile/Log.ini");
  const std::string saved = testsupport::ReadFileText(settings);
  ASSERT_TRUE(saved.starts_with("TessellarionVer102\r\n"));
  chmod(settings.c_str(), 0444);
  EXPECT_EQ(Cli({"-f", "jpg", "f.png"}), 0);
  EXPECT_EQ(testsupport::ReadFileText(settings), saved);
  EXPECT_EQ(ModeOf(settings), 0444u);

  // Writable, in a write-protected folder: LogFile cannot be written there, so the settings move
  // to the user's folder and the file beside the program is left alone.
  chmod(settings.c_str(), 0644);
  chmod(folder.File("LogFile").c_str(), 0555);
  // ctest runs every test in a process of its own, so the environment is the test's to change.
  setenv("XDG_CONFIG_HOME", folder.File("config").c_str(), 1);
  setenv("XDG_CACHE_HOME", folder.File("cache").c_str(), 1);
  EXPECT_EQ(Cli({"-o", out, "-f", "jpg", "f.png"}), 0);
  EXPECT_EQ(testsupport::ReadFileText(settings), saved);
  EXPECT_NE(
      testsupport::ReadFileText(folder.File("config/tessellarion/Log.ini")).find(out + "\r\n1\r\n"),
      std::string::npos);
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), Names{"Log.ini"});
  chmod(folder.File("LogFile").c_str(), 0755);
}

TEST_F(PermissionsTest, CustomNamesStayInTheOutputFolder) {
  const std::string refused =
      "Tessellarion: 任意の文字列には「/」を含む名前や「.」「..」は使えません！！\n";
  const std::string tooLong(300, 'n');
  const struct {
    std::string name;
    std::string format;
    int exitStatus;
    std::string errors;
    Names outputs;
  } cases[] = {
      // Refused before the run: nothing is written anywhere.
      {"../x", "png", 2, refused, {}},
      {"a/b", "png", 2, refused, {}},
      {".", "png", 2, refused, {}},
      {"..", "htm", 2, refused, {}},
      // Names that merely start with dots are names like any other.
      {"..x", "png", 0, kDone, {"..x1.png"}},
      // Too long for a file name: the rename fails, and the entry is counted.
      {tooLong, "png", 1, NotWritten("name too long"), {}},
      {tooLong, "htm", 1, kOpenFailed + NotWritten("name too long"), {}},
  };
  umask(002);  // a new file gets what the umask leaves of 0666
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name.substr(0, 10));
    for (const std::string& name : Outputs()) std::filesystem::remove_all(out + name);
    EXPECT_EQ(Cli({"-o", "out", "-f", test.format, "--custom-name", test.name, "f.png"}),
              test.exitStatus);
    EXPECT_EQ(errors, test.errors);
    EXPECT_EQ(Outputs(), test.outputs);
    for (const std::string& name : test.outputs) EXPECT_EQ(ModeOf(out + name), 0664u) << name;
    EXPECT_EQ(testsupport::FolderEntries(folder.Path()),
              (Names{"LogFile", "errors.txt", "f.png", "out", "tessellarion-cli"}));
  }
}

// The real binary killed while it writes: the target holds the old file or the complete new one,
// and whatever else the kill leaves carries the temporary prefix.
using CliKillTest = PermissionsTest;
TEST_F(CliKillTest, AKillDuringAWriteLeavesTheOldFileOrTheNewOneAndNamedTemporaries) {
  testsupport::SaveImageFile(testsupport::PhotoLike(2000, 1500), folder.File("big.png"));
  for (const std::string extension : {"png", "bmp"}) {
    SCOPED_TRACE(extension);
    for (const std::string& name : Outputs()) std::filesystem::remove(out + name);
    const std::string target = out + "big." + extension;
    const Names arguments = {"-o", "out", "-f", extension, "big.png"};
    // The complete new file, from a run that is not disturbed.
    const int exitStatus = Cli(arguments);
    EXPECT_EQ(exitStatus, 0);
    if (exitStatus != 0) continue;
    const std::vector<std::uint8_t> complete = testsupport::ReadFileBytes(target);
    int leftovers = 0;
    for (const useconds_t delay : {0u, 0u, 1'000u, 3'000u, 10'000u, 30'000u, 100'000u, 300'000u}) {
      testsupport::WriteFileText(target, "old");
      const pid_t child = Start(arguments);
      // Waits for the first temporary in the output folder (or the end), then for the delay.
      bool ended = false;
      while (!ended && Outputs().size() == 1) {
        ended = waitpid(child, nullptr, WNOHANG) == child;
        usleep(100);
      }
      usleep(delay);
      if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
      }
      EXPECT_TRUE(testsupport::ReadFileBytes(target) == complete ||
                  testsupport::ReadFileText(target) == "old")
          << delay << " µs";
      for (const std::string& name : Outputs()) {
        if (name == "big." + extension) continue;
        EXPECT_TRUE(name.starts_with(platform::kTemporaryFilePrefix)) << name;
        std::filesystem::remove(out + name);
        ++leftovers;
      }
    }
    EXPECT_GT(leftovers, 0) << "no kill landed during a write";
  }
}

// The real binary stopped by signals during a long batch, one file at a time and two at once. The
// first signal stops the run as Esc does in the window: the files being written are finished, the
// rest counted as not converted, the closing messages printed, and the status is 128 + the
// signal. A second signal ends it at once. Either way every output is complete or absent, no
// temporary stays, and the settings file is whole.
class CliStopTest : public PermissionsTest {
 protected:
  static constexpr int kEntries = 60;

  void SetUp() override {
    PermissionsTest::SetUp();
    if (IsSkipped()) return;
    testsupport::SaveImageFile(testsupport::PhotoLike(1999, 1499), folder.File("big.png"));
    // The complete output and the settings file, from a run that is not disturbed.
    ASSERT_EQ(Cli({"-o", "out", "-f", "png", "--naming", "number", "big.png"}), 0);
    complete = testsupport::ReadFileBytes(out + "1.png");
    settings = testsupport::ReadFileText(folder.File("LogFile/Log.ini"));
    std::filesystem::remove(out + "1.png");
  }

  // Starts a batch of kEntries copies of the photo, converted `jobs` at a time, and waits until
  // the first output is complete and, when asked, a temporary is being written.
  pid_t StartBatch(int jobs, bool untilATemporary) {
    Names arguments = {"-o", "out", "-f", "png", "--naming", "number", "-j", std::to_string(jobs)};
    arguments.insert(arguments.end(), kEntries, "big.png");
    const pid_t child = Start(arguments);
    const auto hasTemporary = [&] {
      for (const std::string& name : Outputs()) {
        if (name.starts_with(platform::kTemporaryFilePrefix)) return true;
      }
      return false;
    };
    // At most a minute, however slow the machine.
    for (int wait = 0; wait < 60'000; ++wait) {
      const bool ready =
          testsupport::FileExists(out + "1.png") && (!untilATemporary || hasTemporary());
      if (ready) return child;
      if (waitpid(child, nullptr, WNOHANG) == child) {
        ADD_FAILURE() << "the batch ended before its first output was written:\n"
                      << testsupport::ReadFileText(folder.File("errors.txt"));
        return -1;
      }
      usleep(1000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ADD_FAILURE() << "no output appeared within a minute";
    return -1;
  }

  // Waits for the end: the exit status, or -1 when the process did not exit by itself.
  int Finish(pid_t child) {
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    errors = testsupport::ReadFileText(folder.File("errors.txt"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Every output is the complete file, under the numbers of the first entries; no temporary
  // stays, here or beside the settings file, which is whole. Returns the number of outputs and
  // removes them.
  int CheckLeftFiles() {
    const Names outputs = Outputs();
    for (std::size_t index = 0; index < outputs.size(); ++index) {
      EXPECT_TRUE(testsupport::FileExists(out + std::to_string(index + 1) + ".png"))
          << "outputs are the first entries' and nothing else: " << outputs[index];
    }
    for (const std::string& name : outputs) {
      EXPECT_TRUE(testsupport::ReadFileBytes(out + name) == complete) << name << " is complete";
      std::filesystem::remove(out + name);
    }
    EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), Names{"Log.ini"});
    EXPECT_EQ(testsupport::ReadFileText(folder.File("LogFile/Log.ini")), settings);
    return static_cast<int>(outputs.size());
  }

  std::vector<std::uint8_t> complete;
  std::string settings;
};

TEST_F(CliStopTest, TheFirstSignalStopsTheBatchAndCountsTheEntriesLeftUndone) {
  const struct {
    int signalNumber;
    int jobs;
    int exitStatus;
  } cases[] = {
      {SIGINT, 1, 130}, {SIGTERM, 1, 143}, {SIGINT, 2, 130}, {SIGTERM, 2, 143}, {SIGHUP, 2, 129},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(sigabbrev_np(test.signalNumber)) + " -j " + std::to_string(test.jobs));
    const pid_t child = StartBatch(test.jobs, false);
    if (child < 0) continue;
    kill(child, test.signalNumber);
    EXPECT_EQ(Finish(child), test.exitStatus);
    const int written = CheckLeftFiles();
    EXPECT_LT(written, kEntries) << "the batch was stopped";
    std::string undone;
    for (int entry = written; entry < kEntries; ++entry) {
      undone += "Tessellarion: " + folder.File("big.png") +
                ": the run was stopped before this file\n";
    }
    EXPECT_EQ(errors, undone + "Tessellarion: " + std::to_string(kEntries - written) +
                          "件のファイルを変換できませんでした！！\n" + kDone);
  }
}

TEST_F(CliStopTest, ASecondSignalEndsAtOnceAndRemovesTheTemporaries) {
  // Ending at once leaves the workers' threads running, which ThreadSanitizer would report as
  // leaked in its own build; that is the point here, not a fault.
  const char* sanitizer = std::getenv("TSAN_OPTIONS");
  setenv("TSAN_OPTIONS",
         (std::string(sanitizer != nullptr ? sanitizer : "") + ":report_thread_leaks=0").c_str(), 1);
  const pid_t child = StartBatch(2, true);
  if (child < 0) return;
  kill(child, SIGINT);
  kill(child, SIGTERM);
  // Two signals pending at once may be taken in either order (ThreadSanitizer's runtime, for one,
  // delivers them as it sees fit): the second one taken ends the process with 128 + its number.
  const int status = Finish(child);
  EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGINT)
      << status << " is not 128 + the signal that ended it";
  EXPECT_EQ(errors, "") << "ended without the closing messages";
  EXPECT_LT(CheckLeftFiles(), kEntries);
}

}  // namespace
