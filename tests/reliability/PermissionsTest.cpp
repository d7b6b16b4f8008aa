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

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;

constexpr uid_t kUnprivileged = 65534;
#if defined(__SANITIZE_THREAD__)
constexpr bool kSignalsReordered = true;
#else
constexpr bool kSignalsReordered = false;
#endif
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
      if (geteuid() == 0 && (setgroups(groups.size(), groups.data()) != 0 ||
                             setgid(kUnprivileged) != 0 || setuid(kUnprivileged) != 0)) {
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
    const int status = testsupport::WaitForExit(Start(arguments), "tessellarion-cli");
    errors = testsupport::ReadFileText(folder.File("errors.txt"));
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) < 126 ? WEXITSTATUS(status)
                                                                         : -1;
  }

  Names Outputs() const { return testsupport::FolderEntries(out); }

  testsupport::TempFolder folder;
  std::string out = folder.File("out/");
  std::string errors;
  // The supplementary groups of the unprivileged user, when the suite runs as root.
  std::vector<gid_t> groups;
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

// A symbolic link under the output name whose target does not exist: the link is replaced by the
// new file, and nothing is made where it pointed, in a folder that exists or one that does not.
TEST_F(PermissionsTest, ADanglingLinkUnderTheOutputNameIsReplacedAndItsTargetNeverMade) {
  std::filesystem::create_directory(folder.File("elsewhere"));
  Own(folder.File("elsewhere"));
  for (const std::string pointed : {"elsewhere/f", "missing/f"}) {
    for (const std::string format : {"png", "bmp", "htm"}) {
      SCOPED_TRACE(pointed + "." + format);
      for (const std::string& name : Outputs()) std::filesystem::remove_all(out + name);
      const std::string target = out + "f." + format;
      std::filesystem::create_symlink(folder.File(pointed + "." + format), target);
      Own(target);
      EXPECT_EQ(Cli({"-o", "out", "-f", format, "f.png"}), 0);
      EXPECT_EQ(errors, kDone);
      EXPECT_EQ(Outputs(), Names{"f." + format});
      EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(target)));
      EXPECT_GT(std::filesystem::file_size(target), 0u);
      EXPECT_EQ(testsupport::FolderEntries(folder.File("elsewhere")), Names{});
      EXPECT_FALSE(testsupport::FileExists(folder.File("missing")));
    }
  }
}

// A replaced file of another user's, writable through its group, keeps that group when the user
// belongs to it as a supplementary group only; a group the user is not in gives way to the user's
// own. As root, the binary runs as user 65534 with a supplementary group of its own; otherwise the
// file is the suite's user's, in one of its supplementary groups.
TEST_F(PermissionsTest, AReplacedFileKeepsAGroupTheUserBelongsToOnlyAsASupplementaryOne) {
  constexpr gid_t kSupplementary = 4242;
  constexpr uid_t kOtherUser = 4343;
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    gid_t newGroup;
  };
  std::vector<Case> cases;
  if (geteuid() == 0) {
    groups = {kSupplementary};
    cases = {{kOtherUser, kSupplementary, 0664, kSupplementary},
             {kOtherUser, 0, 0666, kUnprivileged}};
  } else {
    std::vector<gid_t> own(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
    own.resize(static_cast<std::size_t>(std::max(getgroups(int(own.size()), own.data()), 0)));
    const auto supplementary =
        std::find_if(own.begin(), own.end(), [](gid_t group) { return group != getegid(); });
    if (supplementary == own.end()) {
      GTEST_SKIP() << "not root, and the suite's user belongs to no supplementary group";
    }
    cases = {{geteuid(), *supplementary, 0664, *supplementary}};
  }
  for (const Case& test : cases) {
    SCOPED_TRACE("group " + std::to_string(test.group));
    const std::string target = out + "f.png";
    testsupport::WriteFileText(target, "old");
    ASSERT_EQ(chown(target.c_str(), test.owner, test.group), 0);
    chmod(target.c_str(), test.mode);
    EXPECT_EQ(Cli({"-o", "out", "-f", "png", "f.png"}), 0);
    struct stat status {};
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_NE(testsupport::ReadFileText(target), "old");
    EXPECT_EQ(status.st_gid, test.newGroup);
    EXPECT_EQ(status.st_mode & 07777, test.mode);
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
      testsupport::WaitUntil(
          [&] {
            return (ended = waitpid(child, nullptr, WNOHANG) == child) || Outputs().size() > 1;
          },
          "a temporary or the end of tessellarion-cli");
      usleep(delay);
      if (!ended) {
        kill(child, SIGKILL);
        testsupport::WaitForExit(child, "tessellarion-cli after SIGKILL");
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
    const int status = testsupport::WaitForExit(child, "tessellarion-cli after the signals");
    errors = testsupport::ReadFileText(folder.File("errors.txt"));
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

// True once the process has taken the signal: it is no longer pending for it or any thread.
bool SignalTaken(pid_t process, int signalNumber) {
  const std::string status = testsupport::ReadFileText("/proc/" + std::to_string(process) +
                                                       "/status");
  for (const char* field : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
    const std::size_t at = status.find(field);
    if (at == std::string::npos) return true;  // the process has ended
    const unsigned long long pending = std::stoull(status.substr(at + 9, 16), nullptr, 16);
    if ((pending >> (signalNumber - 1) & 1) != 0) return false;
  }
  return true;
}

TEST_F(CliStopTest, ASecondSignalEndsAtOnceAndRemovesTheTemporaries) {
  // Ending at once leaves the workers' threads running, which ThreadSanitizer would report as
  // leaked in its own build; that is the point here, not a fault.
  const char* sanitizer = std::getenv("TSAN_OPTIONS");
  setenv("TSAN_OPTIONS",
         (std::string(sanitizer != nullptr ? sanitizer : "") + ":report_thread_leaks=0").c_str(), 1);
  // Each signal as the second one, and one signal twice. The second is sent once the first has
  // been taken, while a file is still being written: the status says which one ended it.
  const std::pair<int, int> kPairs[] = {
      {SIGINT, SIGTERM}, {SIGTERM, SIGHUP}, {SIGHUP, SIGINT}, {SIGTERM, SIGTERM}};
  for (const auto& [first, second] : kPairs) {
    SCOPED_TRACE(std::string(sigabbrev_np(first)) + " then " + sigabbrev_np(second));
    const pid_t child = StartBatch(2, true);
    if (child < 0) continue;
    kill(child, first);
    testsupport::WaitUntil([&] { return SignalTaken(child, first); }, "the first signal taken");
    kill(child, second);
    // ThreadSanitizer's runtime holds signals and delivers them as it sees fit, in either order.
    const int status = Finish(child);
    EXPECT_TRUE(status == 128 + second || (kSignalsReordered && status == 128 + first)) << status;
    EXPECT_EQ(errors, "") << "ended without the closing messages";
    EXPECT_LT(CheckLeftFiles(), kEntries);
  }
}

}  // namespace
