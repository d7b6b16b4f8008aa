// The text files, Shift_JIS conversion, the file helpers, atomic replacement and the choice of
// working folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Encoding.h"
#include "platform/FileSystem.h"
#include "platform/StopSignals.h"
#include "platform/TemporaryFiles.h"
#include "platform/TextFile.h"
#include "platform/WorkingFolders.h"
#include "tests/support/TestSupport.h"

namespace {

using Names = std::vector<std::string>;
using namespace testsupport;

TEST(TextFileTest, WritesCrLfAndReadsBothLineEnds) {
  TempFolder folder;
  ASSERT_TRUE(platform::WriteTextFile(folder.File("a.txt"), "one\ntwo\n"));
  EXPECT_EQ(ReadFileText(folder.File("a.txt")), "one\r\ntwo\r\n");
  WriteFileText(folder.File("b.txt"), "x\ny\r\nz\rw");
  EXPECT_EQ(platform::ReadTextFile(folder.File("b.txt")), "x\ny\nz\rw") << "a lone CR stays";
  EXPECT_EQ(platform::ReadTextFile(folder.File("missing.txt")), std::nullopt);
}

TEST(TextFileTest, ShiftJisIsCodePage932) {
  // "①" exists in code page 932 but not in plain Shift_JIS; an emoji has no form in either.
  EXPECT_EQ(platform::Utf8ToShiftJis("変換①"), "\x95\xCF\x8A\xB7\x87\x40");
  EXPECT_EQ(platform::Utf8ToShiftJis("変換\xF0\x9F\x98\x80"), std::nullopt);
}

TEST(FileSystemTest, SizesAndFolders) {
  TempFolder folder;
  WriteFileText(folder.File("five"), "12345");
  EXPECT_EQ(platform::FileSizeField(folder.File("five")), 5);
  // A sparse file of 3 GiB: its low 32 bits read as a signed number.
  ASSERT_EQ(truncate(folder.File("five").c_str(), 3LL << 30), 0);
  EXPECT_EQ(platform::FileSizeField(folder.File("five")), -(1 << 30));
  EXPECT_EQ(platform::FileSizeField(folder.Path()), -1) << "a folder has no file size";
  EXPECT_FALSE(platform::CreateFolder(folder.Path())) << "an existing folder is reported";
  EXPECT_FALSE(platform::DeleteFile(folder.File("missing")));
  // A touched file is new with what the umask leaves, group write included where it allows it.
  const mode_t previousMask = umask(002);
  ASSERT_TRUE(platform::TouchFile(folder.File("touched")));
  umask(previousMask);
  EXPECT_EQ(std::filesystem::status(folder.File("touched")).permissions(),
            std::filesystem::perms(0664));
}

TEST(AtomicFileTest, TheTargetChangesOnlyOnASuccessfulCommit) {
  TempFolder folder;
  const std::string target = folder.File("target");
  WriteFileText(target, "old");
  // Only root may give the file to another owner; the replacement then keeps that owner, and the
  // set-group-ID bit, which is set after the owner because changing the owner clears it.
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || chown(target.c_str(), 65534, 65534) == 0);
  const mode_t mode = root ? 02640 : 0640;
  chmod(target.c_str(), mode);
  {
    platform::AtomicFileWriter abandoned(target);
    ASSERT_NE(abandoned.Stream(), nullptr);
    std::fputs("abandoned", abandoned.Stream());
    // A stream that reports an error, as a full disk does, is not committed.
    platform::AtomicFileWriter failed(target);
    std::fputs("partial", failed.Stream());
    std::fgetc(failed.Stream());  // reading a write-only stream sets its error flag
    EXPECT_FALSE(failed.Commit());
  }
  EXPECT_EQ(ReadFileText(target), "old");
  EXPECT_EQ(folder.Entries(), Names{"target"}) << "no temporary left";
  std::filesystem::create_hard_link(target, folder.File("link"));
  platform::AtomicFileWriter writer(target);
  std::fputs("new", writer.Stream());
  EXPECT_TRUE(writer.Commit());
  EXPECT_EQ(ReadFileText(target), "new");
  EXPECT_EQ(ReadFileText(folder.File("link")), "old") << "the replacement is a new file";
  struct stat status {};
  stat(target.c_str(), &status);
  EXPECT_EQ(status.st_mode & 07777, mode) << "the replacement keeps the file's permissions";
  EXPECT_EQ(std::pair(status.st_uid, status.st_gid),
            root ? std::pair(65534u, 65534u) : std::pair(geteuid(), getegid()));
  EXPECT_EQ(platform::AtomicFileWriter(folder.File("no/such/file")).Stream(), nullptr);
}

// What a handler that ends the process on a signal removes: the temporaries being written, not
// the files they became, nor another program's file of the same prefix.
TEST(AtomicFileTest, TemporaryNamesEndInSixLettersOrDigits) {
  // Hundreds of names, so a suffix drawn from the wrong range (a string's terminator, say) shows.
  TempFolder folder;
  const std::string prefix = folder.File(platform::kTemporaryFilePrefix);
  for (int round = 0; round < 300; ++round) {
    platform::RegisteredTemporary temporary(prefix);
    ASSERT_GE(temporary.Descriptor(), 0);
    const std::string name = temporary.Path();
    close(temporary.Descriptor());
    unlink(name.c_str());
    temporary.Forget();
    const std::string suffix = name.substr(std::min(name.size(), prefix.size()));
    EXPECT_EQ(suffix.size(), 6u) << name;
    EXPECT_TRUE(std::all_of(suffix.begin(), suffix.end(),
                            [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
        << name;
  }
}

TEST(AtomicFileTest, TheTemporariesBeingWrittenAreListedForASignalHandler) {
  TempFolder folder;
  const std::string foreign = folder.File(std::string(platform::kTemporaryFilePrefix) + "other");
  WriteFileText(foreign, "not ours");
  platform::AtomicFileWriter committed(folder.File("done"));
  std::fputs("done", committed.Stream());
  ASSERT_TRUE(committed.Commit());
  // In a child, as in a process a second signal ends: the removal is its last act.
  EXPECT_EXIT(
      {
        platform::AtomicFileWriter open(folder.File("open"));
        std::fputs("partial", open.Stream());
        std::fflush(open.Stream());
        if (folder.Entries().size() != 3u) _exit(2);  // the open writer's temporary is there
        platform::RemoveRegisteredTemporaries();
        _exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(folder.Entries(),
            (Names{std::string(platform::kTemporaryFilePrefix) + "other", "done"}));
}

TEST(WorkingFoldersTest, BesideTheProgramWhenWritableThereElseTheUsersFolders) {
  TempFolder program, home, blocked;
  // A file in the way: LogFile cannot be created beside this program, even by root.
  WriteFileText(blocked.File("LogFile"), "");
  // ctest runs every test in a process of its own, so the environment is the test's to change.
  setenv("HOME", home.Path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
  unsetenv("XDG_CACHE_HOME");
  const auto folders = [](const std::string& executableFolder) {
    const platform::WorkingFolders chosen = platform::ChooseWorkingFolders(executableFolder);
    return Names{chosen.settings, chosen.preview, chosen.output};
  };
  EXPECT_EQ(folders(program.Path()),
            (Names{program.File("LogFile"), program.File("LogFile"), program.Path()}));
  EXPECT_EQ(program.Entries(), Names{"LogFile"}) << "no probe file left";
  const Names users{home.File(".config/tessellarion"), home.File(".cache/tessellarion"),
                    home.Path()};
  // A program under /usr never writes beside itself, not even as root.
  for (const std::string& executableFolder : {blocked.Path(), std::string("/usr/bin/")}) {
    EXPECT_EQ(folders(executableFolder), users) << executableFolder;
  }
  EXPECT_EQ(std::filesystem::status(users[0]).permissions(), std::filesystem::perms(0700))
      << "the user's folders are private";

  setenv("XDG_CONFIG_HOME", program.File("config/").c_str(), 1);
  setenv("XDG_CACHE_HOME", program.File("cache").c_str(), 1);
  EXPECT_EQ(folders(blocked.Path()), (Names{program.File("config/tessellarion"),
                                            program.File("cache/tessellarion"), home.Path()}));
}

// Each wait runs its work on one other thread, made at the first wait and kept for the next, so a
// batch does not make a thread per file (told by the kernel's thread numbers, which a new thread
// does not reuse as it may a finished thread's std::thread::id); a wait inside that work runs
// where it is; after the stop signal, the work of a wait runs here once its `onStop` has.
TEST(StopSignalsTest, WaitsRunTheirWorkOnOneOtherThread) {
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator{});
  };
  const auto openBefore = openDescriptors();
  {
    const platform::StopSignals signals({SIGUSR1});
    std::vector<pid_t> ranOn;
    int stops = 0;
    const auto onStop = [&stops] { ++stops; };
    for (int wait = 0; wait < 3; ++wait) {
      signals.Await([&] { ranOn.push_back(gettid()); }, onStop);
    }
    pid_t outer = 0;
    pid_t inner = 0;
    signals.Await(
        [&] {
          outer = gettid();
          signals.Await([&] { inner = gettid(); }, onStop);
        },
        onStop);
    ASSERT_EQ(ranOn.size(), 3u);
    EXPECT_NE(ranOn[0], gettid());
    EXPECT_EQ(ranOn[1], ranOn[0]);
    EXPECT_EQ(ranOn[2], ranOn[0]);
    EXPECT_EQ(outer, ranOn[0]);
    EXPECT_EQ(inner, ranOn[0]);
    EXPECT_EQ(stops, 0);

    // A signal that comes while the work runs has the waiting thread run `onStop` at once, not
    // when the work ends: the work here waits for it (up to ten seconds).
    std::atomic<bool> stopSeen{false};
    bool workSawTheStop = false;
    signals.Await(
        [&] {
          ASSERT_EQ(std::raise(SIGUSR1), 0);
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
          while (!stopSeen && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          workSawTheStop = stopSeen;
        },
        [&] { stopSeen = true; });
    EXPECT_TRUE(workSawTheStop);
    EXPECT_EQ(signals.Received(), SIGUSR1);
    pid_t afterStop = 0;
    signals.Await([&] { afterStop = gettid(); }, onStop);
    EXPECT_EQ(afterStop, gettid());
    EXPECT_EQ(stops, 1);
  }
  // The helper thread and its pipe go with the object.
  EXPECT_EQ(openDescriptors(), openBefore);
}

}  // namespace
