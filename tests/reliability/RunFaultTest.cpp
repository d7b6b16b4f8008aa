// Faults during a run: a full disk, an output folder or an input that goes away, a file converted
// onto itself, and the real command-line binary killed while it writes. No file that existed
// before the run is lost or left half written, no temporary stays behind except after a kill, and
// the run counts what was not written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "engine/ControlIds.h"
#include "imaging/Imaging.h"
#include "platform/AtomicFile.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

class RunFaultTest : public reliability::BatchFixture {};

TEST_F(RunFaultTest, AFullDiskKeepsTheOldFileAndTheBatchGoesOn) {
  // A tmpfs of 16 KiB as the output folder; only root can mount one. It is mounted in a mount
  // namespace of this test process alone, so it goes away with the process however that ends.
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tessellarion-test", outFolder.c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "mounting a tmpfs was refused: " << std::strerror(errno);
  }
  const std::string big = SaveImage(testsupport::PhotoLike(640, 480), "big.png");
  const std::string small = SaveImage(testsupport::LetterF(), "small.png");
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    SelectFormat(format);
    List({big, small});
    testsupport::WriteFileText(outFolder + "big." + format.extension, "old");
    EXPECT_EQ(form->BatchRun().notWritten, 1);
    EXPECT_EQ(testsupport::ReadFileText(outFolder + "big." + format.extension), "old");
    EXPECT_EQ(Outputs(), (Names{"big." + format.extension, "small." + format.extension}))
        << "no temporary is left";
  }
  // A BMP is written once as loaded, then again after the edits. When only the second write
  // fails, the target holds the complete first file: the image as loaded, never a partial file.
  SelectFormat(reliability::kOutputFormats[0]);
  controls.SetChecked(kSizeKeepRadio, false);
  controls.SetChecked(kSize640Radio, true);
  List({small});
  EXPECT_EQ(form->BatchRun().notWritten, 1);
  EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "small.bmp"), (std::pair{6, 5}));
  EXPECT_EQ(Outputs(), Names{"small.bmp"});
  umount2(outFolder.c_str(), MNT_DETACH);
}

TEST_F(RunFaultTest, AFileSizeLimitFailsTheWriteWithoutEndingTheProcess) {
  const std::string big = SaveImage(testsupport::PhotoLike(640, 480), "big.png");
  SelectFormat(reliability::kOutputFormats[2]);
  List({big});
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit unlimited = limit;
  limit.rlim_cur = 16 << 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const int notWritten = form->BatchRun().notWritten;
  setrlimit(RLIMIT_FSIZE, &unlimited);
  EXPECT_EQ(notWritten, 1);
  EXPECT_EQ(Outputs(), Names{}) << "no temporary is left";
}

TEST_F(RunFaultTest, AnOutputFolderThatGoesAwayDuringTheRun) {
  // The output folder vanishes after the first entry: the rest are counted, nothing is made. One
  // file at a time, so that no later entry has been converted when the first is reported.
  form->SetJobs(1);
  const std::string first = SaveImage(testsupport::LetterF(), "first.png");
  controls.onProgress = [&](ControlId id, int position, int) {
    if (id == kProgressBar && position == 1) std::filesystem::remove_all(outFolder);
  };
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    SelectFormat(format);
    List({first, first, first});
    EXPECT_EQ(form->BatchRun().notWritten, 2);
    // Each entry a table-art run cannot write shows a message of its own.
    Names messages = {"2件のファイルを変換できませんでした！！", "変換完了！！"};
    if (format.extension == "htm") messages.insert(messages.begin(), 2, "オープン失敗");
    EXPECT_EQ(shell.messages, messages);
    EXPECT_FALSE(testsupport::FileExists(outFolder));
    std::filesystem::create_directory(outFolder);
  }
}

TEST_F(RunFaultTest, AFileConvertedOntoItselfIsReplacedOnlyByCompleteContent) {
  controls.SetComboSelection(kColorEffectCombo, 3);  // the negative
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    if (format.extension == "htm") continue;
    SCOPED_TRACE(format.extension);
    SelectFormat(format);
    // The same path as input and output: the new content replaces the old once it is complete.
    const std::string same = outFolder + "f." + format.extension;
    List({same});
    const Bytes original =
        testsupport::ReadFileBytes(testsupport::SaveImageFile(testsupport::LetterF(), same));
    EXPECT_EQ(form->BatchRun().notWritten, 0);
    EXPECT_NE(testsupport::ReadFileBytes(same), original);
    EXPECT_EQ(testsupport::ImageSizeOf(same), (std::pair{6, 5}));
    EXPECT_EQ(Outputs(), Names{"f." + format.extension}) << "no temporary is left";
  }

  // The output is a symbolic link to the input: the link is replaced by the new file, and the
  // input it pointed at stays as it was.
  const std::string input = SaveImage(testsupport::LetterF(), "photo.png");
  const Bytes original = testsupport::ReadFileBytes(input);
  List({input});
  std::filesystem::create_symlink(input, outFolder + "photo.png");
  std::filesystem::permissions(input, std::filesystem::perms(0640));
  EXPECT_EQ(form->BatchRun().notWritten, 0);
  EXPECT_TRUE(testsupport::ReadFileBytes(input) == original) << "the input is kept";
  EXPECT_FALSE(std::filesystem::is_symlink(outFolder + "photo.png"));
  EXPECT_EQ(std::filesystem::status(outFolder + "photo.png").permissions(),
            std::filesystem::perms(0640))
      << "the mode of the file the link named";
  EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "photo.png"), (std::pair{6, 5}));
}

TEST_F(RunFaultTest, AKillDuringAWriteLeavesTheOldFileOrTheNewOneAndNamedTemporaries) {
  // A copy of the real tessellarion-cli, run in the temporary folder, so that its settings file
  // lands there too.
  const std::string cli = folder.File("cli");
  std::filesystem::copy_file(TESSELLARION_CLI_PATH, cli);
  const std::string big = SaveImage(testsupport::PhotoLike(2000, 1500), "big.png");
  const auto start = [&](const std::string& extension) {
    const pid_t child = fork();
    if (child == 0) {
      dup2(open("/dev/null", O_WRONLY), 2);
      execl(cli.c_str(), cli.c_str(), "-o", outFolder.c_str(), "-f", extension.c_str(), big.c_str(),
            nullptr);
      _exit(127);
    }
    return child;
  };
  for (const std::string extension : {"png", "bmp"}) {
    SCOPED_TRACE(extension);
    List({});
    const std::string target = outFolder + "big." + extension;
    // The complete new file, from a run that is not disturbed.
    ASSERT_TRUE(waitpid(start(extension), nullptr, 0) > 0 && testsupport::FileExists(target));
    const Bytes complete = testsupport::ReadFileBytes(target);
    int leftovers = 0;
    for (int delayMilliseconds : {0, 0, 1, 3, 10, 30, 100, 300}) {
      testsupport::WriteFileText(target, "old");
      const pid_t child = start(extension);
      // Waits for the first temporary in the output folder (or the end), then for the delay.
      bool ended = false;
      while (!ended && Outputs().size() == 1) {
        ended = waitpid(child, nullptr, WNOHANG) == child;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMilliseconds));
      if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
      }
      EXPECT_TRUE(testsupport::ReadFileBytes(target) == complete ||
                  testsupport::ReadFileText(target) == "old")
          << delayMilliseconds << " ms";
      // Whatever a kill leaves besides the target carries the temporary prefix.
      for (const std::string& name : Outputs()) {
        if (name == "big." + extension) continue;
        EXPECT_TRUE(name.starts_with(platform::kTemporaryFilePrefix)) << name;
        std::filesystem::remove(outFolder + name);
        ++leftovers;
      }
    }
    EXPECT_GT(leftovers, 0) << "no kill landed during a write";
  }
}

}  // namespace
