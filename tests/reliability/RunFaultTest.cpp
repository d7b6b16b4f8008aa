// Faults during a run: a full disk (the file-size limit on the real command-line binary, and a
// small tmpfs), an output folder or an input that goes away, a file converted onto itself, a list
// of a thousand entries, and the program killed while it writes. No file that existed before the
// run is lost or left half written, no temporary stays behind except after a kill, and the closing
// messages count what was not written.
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
#include <iostream>
#include <optional>
#include <thread>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

const std::string kNotWrittenOne = "1件のファイルを変換できませんでした！！";
const std::string kDone = "変換完了！！";

// Pixels from a fixed pseudo-random sequence: they compress badly in every format, so the size of
// each output is known to be large.
imaging::Bitmap Noise(int width, int height) {
  imaging::Bitmap bitmap = *imaging::MakeBitmap(width, height);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : bitmap.pixels) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 23);
  }
  return bitmap;
}

// A 16 × 16 image of pure red.
imaging::Bitmap Red() {
  imaging::Bitmap bitmap = *imaging::MakeBitmap(16, 16);
  for (std::size_t at = 0; at < bitmap.pixels.size(); at += 3) bitmap.pixels[at] = 255;
  return bitmap;
}

bool IsTemporary(const std::string& name) {
  return name.starts_with(platform::kTemporaryFilePrefix);
}

Names Entries(const std::string& folderPath) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(folderPath)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

Names Temporaries(const std::string& folderPath) {
  Names names = Entries(folderPath);
  std::erase_if(names, [](const std::string& name) { return !IsTemporary(name); });
  return names;
}

// Width and height of an image file, or nothing when it does not load.
std::optional<std::pair<int, int>> ImageSize(const std::string& path) {
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  imaging::ImageInfoRecord record{};
  const bool loaded = imaging::GetImageInfo(handle, record) == 1;
  imaging::FreeImage(handle);
  if (!loaded) return std::nullopt;
  return std::pair{record[1], record[2]};
}

// The real tessellarion-cli, copied into a folder of its own (its settings file lands beside it),
// with inputs in in/ and outputs in out/.
class CliFaultTest : public ::testing::Test {
 protected:
  CliFaultTest() {
    std::filesystem::copy_file(TESSELLARION_CLI_PATH, folder.File("tessellarion-cli"));
    std::filesystem::create_directory(folder.File("in"));
    std::filesystem::create_directory(folder.File("out"));
  }

  std::string Image(const imaging::Bitmap& bitmap, const std::string& name) {
    const imaging::ImageHandle handle = imaging::RegisterBitmap(bitmap);
    imaging::SavePng(folder.File("in/" + name), handle, 0);
    imaging::FreeImage(handle);
    return "in/" + name;
  }

  // Starts the binary in the folder, standard error going to errors.txt, under a file-size limit
  // in bytes when one is given. The binary itself decides what a write past the limit does.
  pid_t Start(const Names& arguments, std::optional<rlim_t> fileSizeLimit = std::nullopt) {
    std::vector<std::string> words = {"./tessellarion-cli"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string errors = folder.File("errors.txt");
    const pid_t child = fork();
    if (child == 0) {
      const int errorFile = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int nothing = open("/dev/null", O_RDONLY);
      if (errorFile < 0 || nothing < 0 || dup2(errorFile, 2) < 0 || dup2(nothing, 0) < 0 ||
          chdir(folder.Path().c_str()) != 0) {
        _exit(126);
      }
      if (fileSizeLimit) {
        const rlimit limit{*fileSizeLimit, *fileSizeLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    return child;
  }

  // Runs the binary to its end; the exit status, or −1 when a signal ended it.
  int Run(const Names& arguments, std::optional<rlim_t> fileSizeLimit = std::nullopt) {
    const pid_t child = Start(arguments, fileSizeLimit);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Errors() const { return testsupport::ReadFileText(folder.File("errors.txt")); }

  testsupport::TempFolder folder;
  reliability::Watchdog watchdog{600};
};

TEST_F(CliFaultTest, AWriteBeyondTheFileSizeLimitKeepsTheOldFileAndTheBatchGoesOn) {
  const std::string big = Image(Noise(300, 200), "big.png");
  const std::string small = Image(testsupport::LetterF(), "small.png");
  // 16 KiB: the big image's output in every format is larger, the small one's and the settings
  // file are smaller.
  constexpr rlim_t kLimit = 16 << 10;
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    const std::string old = folder.File("out/big." + std::string(format.extension));
    testsupport::WriteFileText(old, "the file that was there before the run");
    const int status = Run({"-o", "out", "-f", format.extension, big, small}, kLimit);
    EXPECT_EQ(status, 1) << "some files not written";
    EXPECT_EQ(Errors(), "Tessellarion: " + kNotWrittenOne + "\nTessellarion: " + kDone + "\n");
    EXPECT_TRUE(testsupport::ReadFileText(old) == "the file that was there before the run");
    EXPECT_TRUE(testsupport::FileExists(folder.File("out/small." + std::string(format.extension))));
    EXPECT_EQ(Temporaries(folder.File("out")), Names{});
    EXPECT_EQ(Temporaries(folder.File("LogFile")), Names{});
  }
  // A BMP is written once as loaded, then again after the edits. When only the second write
  // fails, the target holds the complete first file: the image as loaded, never a partial file.
  std::filesystem::remove(folder.File("out/small.bmp"));
  EXPECT_EQ(Run({"-o", "out", "-f", "bmp", "-s", "640x480", small}, kLimit), 1);
  EXPECT_EQ(ImageSize(folder.File("out/small.bmp")), (std::pair{6, 5}));
  EXPECT_EQ(Temporaries(folder.File("out")), Names{});
}

TEST_F(CliFaultTest, AKillDuringAWriteLeavesTheOldFileOrTheNewOneAndNamedTemporaries) {
  const std::string big = Image(testsupport::PhotoLike(2000, 1500), "big.png");
  for (const char* extension : {"png", "bmp"}) {
    SCOPED_TRACE(extension);
    std::filesystem::remove_all(folder.File("out"));
    std::filesystem::create_directory(folder.File("out"));
    const std::string target = folder.File("out/big." + std::string(extension));
    // The complete new file, from a run that is not disturbed.
    ASSERT_EQ(Run({"-o", "out", "-f", extension, big}), 0);
    const Bytes complete = testsupport::ReadFileBytes(target);
    const Bytes old = {'o', 'l', 'd'};
    int killedWhileWriting = 0;
    for (int delayMilliseconds : {0, 0, 1, 3, 10, 30, 100, 300}) {
      testsupport::WriteFileBytes(target, old);
      const pid_t child = Start({"-o", "out", "-f", extension, big});
      // Waits for the first temporary in the output folder (or the end), then for the delay.
      bool ended = false;
      while (!ended && Temporaries(folder.File("out")).empty()) {
        ended = waitpid(child, nullptr, WNOHANG) == child;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMilliseconds));
      if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
      }
      const Bytes now = testsupport::ReadFileBytes(target);
      EXPECT_TRUE(now == old || now == complete) << delayMilliseconds << " ms: a mixed file";
      // Whatever a kill leaves besides the target carries the temporary prefix.
      for (const std::string& name : Entries(folder.File("out"))) {
        EXPECT_TRUE(name == "big." + std::string(extension) || IsTemporary(name)) << name;
      }
      const Names leftovers = Temporaries(folder.File("out"));
      if (!leftovers.empty()) ++killedWhileWriting;
      for (const std::string& name : leftovers) std::filesystem::remove(folder.File("out/" + name));
    }
    EXPECT_GT(killedWhileWriting, 0) << "no kill landed during a write";
    RecordProperty(std::string("kills_during_write_") + extension, killedWhileWriting);
    std::cout << extension << ": " << killedWhileWriting << " of 8 kills landed during a write\n";
  }
}

TEST_F(CliFaultTest, AFolderOrNameTheSettingsFileCannotKeepIsABadOption) {
  // The settings file keeps each as one line; nothing runs and the settings stay unwritten.
  std::filesystem::create_directory(folder.File("two\nlines"));
  const std::string input = Image(testsupport::LetterF(), "f.png");
  EXPECT_EQ(Run({"-o", "two\nlines", input}), 64);
  EXPECT_EQ(Run({"-o", "out", "--custom-name", "first\nsecond", input}), 64);
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile")));
}

// The form's side of a run: folders and inputs that change, and files converted onto themselves.
class RunFaultTest : public reliability::BatchFixture {
 protected:
  // Saves LetterF in the format the name ends with, into the temporary folder.
  std::string Letter(const std::string& name) { return SaveImage(testsupport::LetterF(), name); }
};

TEST_F(RunFaultTest, AFullFileSystemKeepsTheOldFileAndTheBatchGoesOn) {
  // A tmpfs of 128 KiB as the output folder; only root can mount one. It is mounted in a mount
  // namespace of this test process alone, so it goes away with the process however that ends.
  const std::string disk = folder.File("disk");
  platform::CreateFolder(disk);
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tessellarion-test", disk.c_str(), "tmpfs", 0, "size=128k") != 0) {
    GTEST_SKIP() << "mounting a tmpfs was refused: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  outFolder = disk + "/";
  Settings().OutputFolder = outFolder;
  platform::CreateFolder(folder.File("in"));
  const std::string big = SaveImage(Noise(600, 400), "in/big.png");
  const std::string small = Letter("in/small.png");
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    Clear();
    SelectFormat(format);
    const std::string old = outFolder + "big." + format.extension;
    testsupport::WriteFileText(old, "before");
    List({big, small});
    const form::BatchOutcome outcome = form->BatchRun();
    EXPECT_EQ(outcome.notWritten, 1);
    EXPECT_EQ(ClosingMessages(), (Names{kNotWrittenOne, kDone}));
    EXPECT_TRUE(testsupport::ReadFileText(old) == "before") << "the old file is kept";
    EXPECT_EQ(Outputs(), (Names{"big." + std::string(format.extension),
                                "small." + std::string(format.extension)}))
        << "no temporary is left";
  }
}

TEST_F(RunFaultTest, AnOutputFolderOrAnInputThatGoesAwayDuringTheRun) {
  const std::string first = Letter("first.png");
  const std::string second = Letter("second.png");
  const std::string third = Letter("third.png");
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    Clear();
    SelectFormat(format);
    // The output folder vanishes after the first entry: the rest are counted, nothing is made.
    List({first, second, third});
    controls.onProgress = [&](ControlId id, int position, int) {
      if (id == kProgressBar && position == 1) std::filesystem::remove_all(outFolder);
    };
    EXPECT_EQ(form->BatchRun().notWritten, 2);
    EXPECT_EQ(ClosingMessages(), (Names{"2件のファイルを変換できませんでした！！", kDone}));
    EXPECT_FALSE(testsupport::FileExists(outFolder));
    platform::CreateFolder(outFolder);

    // The second input is deleted after the first entry, the third replaced by text.
    const std::string text = folder.File("text.png");
    std::filesystem::copy_file(third, text, std::filesystem::copy_options::overwrite_existing);
    const std::string gone = folder.File("gone.png");
    std::filesystem::copy_file(second, gone, std::filesystem::copy_options::overwrite_existing);
    Clear();
    List({first, gone, text});
    controls.onProgress = [&](ControlId id, int position, int) {
      if (id != kProgressBar || position != 1) return;
      std::filesystem::remove(gone);
      testsupport::WriteFileText(text, "no longer an image");
    };
    EXPECT_EQ(form->BatchRun().notWritten, 2);
    EXPECT_EQ(Outputs(), Names{"first." + std::string(format.extension)});
    controls.onProgress = nullptr;
  }
}

TEST_F(RunFaultTest, AFileConvertedOntoItselfIsReplacedOnlyByCompleteContent) {
  controls.SetComboSelection(kColorEffectCombo, 3);  // the negative: red becomes cyan
  for (const char* extension : {"bmp", "jpg", "png"}) {
    SCOPED_TRACE(extension);
    Clear();
    Select(extension == std::string("bmp")   ? kFormatBmpRadio
           : extension == std::string("jpg") ? kFormatJpegRadio
                                             : kFormatPngRadio,
           kFormatBmpRadio, 4);
    // The same path as input and output: the new content replaces the old once it is complete.
    const std::string same = SaveImage(Red(), "out/f." + std::string(extension));
    List({same});
    EXPECT_EQ(form->BatchRun().notWritten, 0);
    const imaging::ImageHandle negative = imaging::LoadImageFile(same);
    EXPECT_LT(imaging::ReadPixelColor(negative, 0, 0) & 0xFF, 0x40u) << "red turned cyan";
    imaging::FreeImage(negative);

    // A conversion that fails (the crop misses the image) leaves the file; a BMP is by design
    // first written as loaded, so it holds the same image, complete.
    const Bytes before =
        testsupport::ReadFileBytes(SaveImage(Red(), "out/f." + std::string(extension)));
    controls.SetChecked(kCropCheck, true);
    controls.SetText(kCropXEdit, "500");
    EXPECT_EQ(form->BatchRun().notWritten, 1);
    controls.SetChecked(kCropCheck, false);
    if (extension == std::string("bmp")) {
      EXPECT_EQ(ImageSize(same), (std::pair{16, 16}));
    } else {
      EXPECT_TRUE(testsupport::ReadFileBytes(same) == before) << "the file is kept";
    }
    EXPECT_EQ(Temporaries(outFolder), Names{});
  }

  // The output is a symbolic link to the input: the link is replaced by the new file, and the
  // input it pointed at stays as it was.
  Clear();
  Select(kFormatPngRadio, kFormatBmpRadio, 4);
  platform::CreateFolder(folder.File("in"));
  const std::string input = Letter("in/photo.png");
  const Bytes original = testsupport::ReadFileBytes(input);
  std::filesystem::create_symlink(input, outFolder + "photo.png");
  List({input});
  EXPECT_EQ(form->BatchRun().notWritten, 0);
  EXPECT_TRUE(testsupport::ReadFileBytes(input) == original) << "the input is kept";
  EXPECT_FALSE(std::filesystem::is_symlink(outFolder + "photo.png"));
  EXPECT_EQ(ImageSize(outFolder + "photo.png"), (std::pair{6, 5}));
}

TEST_F(RunFaultTest, AThousandEntriesRunInFlatMemory) {
  const std::string image = SaveImage(testsupport::PhotoLike(64, 48), "photo.png");
  // A drop of 1,200 files stops at the limit, with its message once.
  form->AddDroppedFiles(std::vector<std::string>(1200, image));
  EXPECT_EQ(controls.ListCount(kInputList), 1000);
  EXPECT_EQ(shell.messages, Names{"1001個以上のリスト登録はできません。"});

  shell.messages.clear();
  Select(kFormatJpegRadio, kFormatBmpRadio, 4);
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  const std::uint64_t before = reliability::ResidentMemory();
  reliability::ResetPeakMemory();
  const form::BatchOutcome outcome = form->BatchRun();
  const std::uint64_t peak = reliability::PeakMemory();
  EXPECT_EQ(outcome.entries, 1000);
  EXPECT_EQ(outcome.notWritten, 0);
  EXPECT_EQ(shell.messages, Names{kDone});
  EXPECT_EQ(Outputs().size(), 1000u);
  const std::uint64_t growth = peak - std::min(peak, before);
  RecordProperty("peak_growth_kib", static_cast<int>(growth >> 10));
  std::cout << "1000 entries: peak memory " << (growth >> 10) << " KiB above the start\n";
  // Each entry holds a few kilobytes at a time; anything kept per entry would add up far beyond
  // this bound. The sanitizer build's allocator keeps freed memory a while, so only the plain
  // build measures.
  if (!reliability::kSanitized) {
    EXPECT_LT(peak, before + (64u << 20));
  }
}

}  // namespace
