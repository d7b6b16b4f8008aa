// Faults during a run: a write that fails, an output folder that goes away, a file converted onto
// itself. No file that existed before the run is lost or left half written, no temporary stays
// behind, and the run counts what was not written.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <span>
#include <thread>

#include "tests/reliability/ReliabilitySupport.h"

namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

class RunFaultTest : public testsupport::BatchFixture {};

TEST_F(RunFaultTest, AWriteThatFailsKeepsTheOldFileAndTheBatchGoesOn) {
  const std::string big = SaveImage(testsupport::PhotoLike(1280, 960), "big.png");
  const std::string small = SaveImage(testsupport::LetterF(), "small.png");
  // Writes fail past 16 KiB: first past the process's file-size limit, whose signal must not end
  // the process, then on a full disk.
  for (const bool fullDisk : {false, true}) {
    SCOPED_TRACE(fullDisk ? "full disk" : "file-size limit");
    // A tmpfs of 16 KiB as the output folder; only root can mount one. It is mounted in a mount
    // namespace of this test process alone, so it goes away with the process however that ends.
    if (fullDisk && (unshare(CLONE_NEWNS) != 0 ||
                     mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                     mount("tessellarion-test", outFolder.c_str(), "tmpfs", 0, "size=16k") != 0)) {
      GTEST_SKIP() << "mounting a tmpfs was refused: " << std::strerror(errno);
    }
    rlimit limit{};
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    limit.rlim_cur = fullDisk ? limit.rlim_max : 16 << 10;
    const bool limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    EXPECT_TRUE(limited);
    if (!limited) continue;
    Select(kSizeKeepRadio, kSizeKeepRadio, 3);
    for (const testsupport::OutputFormat& format : testsupport::kOutputFormats) {
      SCOPED_TRACE(format.extension);
      SelectFormat(format.radio);
      List({big, small});
      testsupport::WriteFileText(outFolder + "big." + format.extension, "old");
      const form::BatchOutcome outcome = form->BatchRun();
      EXPECT_EQ(outcome.notWritten, 1);
      for (const form::FileNotWritten& failure : outcome.failures) {
        EXPECT_EQ(failure.input + ": " + failure.reason,
                  big + (fullDisk ? ": disk full" : ": file too large"));
      }
      // A page stopped part-way is reported as one that could not be opened.
      const std::string counted = "1件のファイルを変換できませんでした！！";
      const Names expected = format.extension == "htm"
                                 ? Names{"オープン失敗", counted, "変換完了！！"}
                                 : Names{counted, "変換完了！！"};
      EXPECT_EQ(shell.messages, expected);
      EXPECT_EQ(testsupport::ReadFileText(outFolder + "big." + format.extension), "old");
      EXPECT_EQ(Outputs(), (Names{"big." + format.extension, "small." + format.extension}))
          << "no temporary is left";
    }
    // A BMP is written once as loaded, then again after the edits. When only the second write
    // fails, the target holds the complete first file: the image as loaded, never a partial file.
    SelectFormat(kFormatBmpRadio);
    Select(kSize640Radio, kSizeKeepRadio, 3);
    List({small});
    EXPECT_EQ(form->BatchRun().notWritten, 1);
    EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "small.bmp"), (std::pair{6, 5}));
    EXPECT_EQ(Outputs(), Names{"small.bmp"});
  }
  umount2(outFolder.c_str(), MNT_DETACH);
}

TEST_F(RunFaultTest, AnOutputFolderThatGoesAwayDuringTheRun) {
  // The output folder vanishes after the first entry: the rest are counted, nothing is made. One
  // file at a time, so that no later entry has been converted when the first is reported; a worker
  // that ran ahead would have converted the second by the time the folder goes.
  form->SetJobs(1);
  const std::string first = SaveImage(testsupport::LetterF(), "first.png");
  controls.onProgress = [&](ControlId id, int position, int) {
    if (id != kProgressBar || position != 1) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::filesystem::remove_all(outFolder);
  };
  for (const testsupport::OutputFormat& format : testsupport::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    SelectFormat(format.radio);
    List({first, first, first});
    const form::BatchOutcome outcome = form->BatchRun();
    EXPECT_EQ(outcome.notWritten, 2);
    for (const form::FileNotWritten& failure : outcome.failures)
      EXPECT_EQ(failure.reason, "the folder does not exist");
    // Each entry a table-art run cannot write shows a message of its own.
    Names messages = {"2件のファイルを変換できませんでした！！", "変換完了！！"};
    if (format.extension == "htm") messages.insert(messages.begin(), 2, "オープン失敗");
    EXPECT_EQ(shell.messages, messages);
    EXPECT_FALSE(testsupport::FileExists(outFolder));
    std::filesystem::create_directory(outFolder);
  }
  // Folders that were never there, nested (a settings file from another machine, a disk not
  // mounted): they are not made, since writing into a made-up tree could fill another disk
  // unseen; every entry is counted with the reason.
  controls.onProgress = nullptr;
  Session().Settings.OutputFolder = outFolder + "new/deeper/";
  for (const testsupport::OutputFormat& format : testsupport::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    SelectFormat(format.radio);
    List({first, first});
    const form::BatchOutcome outcome = form->BatchRun();
    EXPECT_EQ(outcome.notWritten, 2);
    for (const form::FileNotWritten& failure : outcome.failures) {
      EXPECT_EQ(failure.reason, "the folder does not exist");
    }
    EXPECT_EQ(Outputs(), Names{}) << "no folder is made";
  }
}

TEST_F(RunFaultTest, AFileConvertedOntoItselfIsReplacedOnlyByCompleteContent) {
  controls.SetComboSelection(kColorEffectCombo, 3);  // the negative
  // Every image format; a table-art page is no input.
  for (const testsupport::OutputFormat& format : std::span(testsupport::kOutputFormats).first(3)) {
    SCOPED_TRACE(format.extension);
    SelectFormat(format.radio);
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

}  // namespace
