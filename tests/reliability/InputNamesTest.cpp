// Input files with awkward names and long paths: each is listed, converted and named after its
// input, or refused with a message; none crashes the program or writes under a wrong name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "engine/ControlIds.h"
#include "form/MainForm.h"
#include "tests/reliability/ReliabilitySupport.h"

namespace {

using Names = std::vector<std::string>;

class InputNamesTest : public testsupport::BatchFixture {};

TEST_F(InputNamesTest, AwkwardNamesAreConvertedUnderTheirOwnNamesOrRefused) {
  const std::string image = SaveImage(testsupport::LetterF(), "source.png");
  // A path of about 300 bytes, and one of about 4,000 (16 folders of 245 bytes): both shorter
  // than the system's limit of 4,096 for one path, both longer than a fixed path buffer.
  const std::string shallow = folder.File("in/" + std::string(250, 'f'));
  std::string deep = folder.File("in");
  for (int level = 0; level < 16; ++level) deep += "/" + std::string(245, 'd');
  for (const std::string& path : {shallow, deep}) std::filesystem::create_directories(path);
  Names inputs = {shallow + "/300.png", deep + "/deep.png"};
  ASSERT_LT(inputs.back().size(), 4096u);
  for (const std::string& name :
       Names{"with  spaces .png", "quote'and\"double.png", "a&b;c|d$(e).png", "<tag>.png",
             "line\nfeed.png", "\xFF\xFE\x80 not UTF-8.png", "写真 ソフト.png",
             "-starts-with-dash.png", std::string(240, 'n') + ".png"})
    inputs.push_back(folder.File("in/" + name));
  for (const std::string& input : inputs) std::filesystem::copy_file(image, input);

  // 17 folders of 250 bytes: the file exists, but its path is too long to be opened by name, and
  // a drop refuses it. The shell makes the folders one at a time, and removes them afterwards,
  // which the temporary folder's own clean-up cannot do by whole paths.
  const std::string name(250, 'l');
  ASSERT_EQ(std::system(("cd '" + folder.Path() + "' && for level in $(seq 17); do mkdir " + name +
                         " && cd -P " + name + "; done && cp '" + image + "' long.png")
                            .c_str()),
            0);
  std::string tooLong = folder.Path();
  for (int level = 0; level < 17; ++level) tooLong += name + "/";
  Names dropped = inputs;
  dropped.push_back(tooLong + "long.png");
  form->AddDroppedFiles(dropped);
  ASSERT_EQ(controls.ListCount(engine::kInputList), static_cast<int>(inputs.size()));
  EXPECT_EQ(shell.messages, Names{"このファイルは変換できません!!"});
  EXPECT_EQ(std::system(("rm -rf '" + folder.File(name) + "'").c_str()), 0);

  shell.messages.clear();
  EXPECT_EQ(form->BatchRun().notWritten, 0);
  EXPECT_EQ(shell.messages, Names{"変換完了！！"});
  Names expected;
  for (const std::string& input : inputs) {
    expected.push_back(form::FileNameOf(input) + ".bmp");
    EXPECT_EQ(testsupport::ImageSizeOf(outFolder + expected.back()), (std::pair{6, 5})) << input;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Outputs(), expected);
}

}  // namespace
