// Input files with awkward names and long paths: each is listed, converted and named after its
// input, or refused with a message; none crashes the program or writes under a wrong name.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "engine/ControlIds.h"
#include "form/MainForm.h"
#include "imaging/Imaging.h"
#include "platform/FileSystem.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace {

using namespace engine;

// Creates `levels` nested folders with names of `length` bytes under the folder `root` (given
// without a final "/"), and a copy of the
// file `source` at the bottom. Every step goes through the descriptor of the folder above, so the
// whole path may be longer than the system lets one path be. Returns that whole path.
std::string MakeDeepCopy(const std::string& root, int levels, std::size_t length,
                         const std::string& source) {
  const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(source);
  const std::string name(length, 'd');
  std::string path = root + "/";
  int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < levels && folder >= 0; ++level) {
    mkdirat(folder, name.c_str(), 0700);
    const int inner = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(folder);
    folder = inner;
    path += name + "/";
  }
  const int file = openat(folder, "deep.png", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  EXPECT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(file);
  close(folder);
  return path + "deep.png";
}

// Removes a folder tree whose paths may be too long for the system, through folder descriptors.
void RemoveTree(int parent, const char* name) {
  const int descriptor = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (DIR* folder = descriptor >= 0 ? fdopendir(descriptor) : nullptr) {
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent* entry = readdir(folder)) {
      const std::string entryName = entry->d_name;
      if (entryName != "." && entryName != "..") {
        entries.emplace_back(entryName, entry->d_type == DT_DIR);
      }
    }
    for (const auto& [entryName, isFolder] : entries) {
      if (isFolder) {
        RemoveTree(dirfd(folder), entryName.c_str());
      } else {
        unlinkat(dirfd(folder), entryName.c_str(), 0);
      }
    }
    closedir(folder);
  }
  unlinkat(parent, name, AT_REMOVEDIR);
}

class InputNamesTest : public reliability::BatchFixture {};

TEST_F(InputNamesTest, AwkwardNamesAreConvertedUnderTheirOwnNames) {
  platform::CreateFolder(folder.File("in"));
  const std::string image = SaveImage(testsupport::LetterF(), "in/source.png");
  std::vector<std::string> inputs;
  for (const std::string& name : std::vector<std::string>{
           "with  spaces .png", "quote'and\"double.png", "a&b;c|d$(e).png", "<tag>.png",
           "line\nfeed.png", "\xFF\xFE\x80 not UTF-8.png", "写真 ソフト.png",
           "-starts-with-dash.png", std::string(240, 'n') + ".png"}) {
    inputs.push_back(folder.File("in/" + name));
    std::filesystem::copy_file(image, inputs.back());
  }
  // A path of about 300 bytes, and one of about 4,000 (16 folders of 245 bytes): both shorter
  // than the system's limit of 4,096 for one path.
  platform::CreateFolder(folder.File("in/" + std::string(250, 'f')));
  inputs.push_back(folder.File("in/" + std::string(250, 'f') + "/300.png"));
  std::filesystem::copy_file(image, inputs.back());
  inputs.push_back(MakeDeepCopy(folder.File("in"), 16, 245, image));
  ASSERT_GT(inputs.back().size(), 3900u);
  ASSERT_LT(inputs.back().size(), 4096u);

  form->AddDroppedFiles(inputs);
  ASSERT_EQ(controls.ListCount(kInputList), static_cast<int>(inputs.size()));
  for (std::size_t index = 0; index < inputs.size(); ++index) {
    EXPECT_EQ(controls.ListEntry(kInputList, static_cast<int>(index)), inputs[index]);
  }
  for (const reliability::OutputFormat& format : reliability::kOutputFormats) {
    if (format.radio == kFormatHtmRadio) continue;  // at most 10 files, and names as for images
    SCOPED_TRACE(format.extension);
    SelectFormat(format);
    ClearOutputs();
    shell.messages.clear();
    EXPECT_EQ(form->BatchRun().notWritten, 0);
    EXPECT_EQ(shell.messages, std::vector<std::string>{"変換完了！！"});
    std::vector<std::string> expected;
    for (const std::string& input : inputs) {
      expected.push_back(form::FileNameOf(input) + "." + format.extension);
      const imaging::ImageHandle written = imaging::LoadImageFile(outFolder + expected.back());
      EXPECT_NE(written, 0u) << input;
      imaging::FreeImage(written);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Outputs(), expected);
  }
}

TEST_F(InputNamesTest, APathLongerThanTheSystemAllowsIsRefusedWithAMessage) {
  // 17 folders of 250 bytes: the file exists, but its path is too long to be opened by name.
  platform::CreateFolder(folder.File("deep"));
  const std::string source = SaveImage(testsupport::LetterF(), "source.png");
  const std::string deep = MakeDeepCopy(folder.File("deep"), 17, 250, source);
  ASSERT_GT(deep.size(), 4096u);
  form->AddDroppedFiles({deep});
  EXPECT_EQ(controls.ListCount(kInputList), 0);
  EXPECT_EQ(shell.messages, std::vector<std::string>{"このファイルは変換できません!!"});

  // Listed anyway, it is counted as not converted.
  shell.messages.clear();
  List({deep});
  EXPECT_EQ(form->BatchRun().notWritten, 1);
  EXPECT_EQ(ClosingMessages(),
            (std::vector<std::string>{"1件のファイルを変換できませんでした！！", "変換完了！！"}));
  EXPECT_TRUE(Outputs().empty());
  // The temporary folder's own clean-up works by whole paths, which this tree has too long.
  RemoveTree(AT_FDCWD, folder.File("deep").c_str());
}

}  // namespace
