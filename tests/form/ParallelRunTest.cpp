// A batch converted several files at a time: the same files, messages, progress and records as
// one file at a time, and a cancelled run that leaves only complete files.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <tuple>

#include "engine/ControlIds.h"
#include "engine/Converter.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "imaging/HandleTable.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "runner/BatchRunner.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;
using Texts = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

const std::string kGif = "GIFです!!この形式は変換できません!!";

// Everything a run leaves that a user or a later operation can see.
struct RunRecord {
  Texts events;  // message boxes and progress steps, in the order they happened
  std::map<std::string, Bytes> outputs;
  bool ran = false;
  int entries = 0, notWritten = 0, currentInputKind = 0, lastOutputWidth = 0, lastOutputHeight = 0;
  std::string currentInputPath, outputPath, settingsFile;

  friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

class ParallelRunTest : public ::testing::Test {
 protected:
  ParallelRunTest() {
    for (const char* name : {"in1", "in2", "in3", "exe"}) platform::CreateFolder(folder.File(name));
    using testsupport::SaveImageFile;
    // The first entry is the largest, so later ones finish before it when they run beside it.
    inputs = {
        SaveImageFile(testsupport::PhotoLike(300, 200), folder.File("in1/big.png")),
        SaveImageFile(testsupport::LetterF(), folder.File("in1/letter.bmp")),
        SaveImageFile(testsupport::PhotoLike(40, 30), folder.File("in1/photo.jpg")),
        // A JPEG by its signature whose headers do not load: listed, then not written.
        folder.File("in1/broken.jpg"),
        // Listed as a PNG, a GIF by the time the run comes to it: refused with its message.
        folder.File("in1/became.png"),
        // The same name in three folders: the last entry's file is the one left, also when the
        // one before it takes longest.
        SaveImageFile(testsupport::PhotoLike(40, 30), folder.File("in1/same.png")),
        SaveImageFile(testsupport::PhotoLike(300, 200), folder.File("in3/same.png")),
        SaveImageFile(testsupport::LetterF(), folder.File("in2/same.png")),
        SaveImageFile(testsupport::PhotoLike(17, 9), folder.File("in2/tiny.bmp")),
    };
    testsupport::WriteFileBytes(inputs[3], {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 'x', 'x', 'x'});
    testsupport::WriteFileText(inputs[4], "GIF89a......");
  }

  // A run on a new form over fresh records, as a new process would make it.
  RunRecord Run(ControlId format, int jobs, const Texts& list,
                const std::function<void(form::MainForm&, const std::string&)>& onMessage = {}) {
    ResetProcessState();
    imaging::ResetHandleTable();
    std::filesystem::remove_all(outFolder);
    std::filesystem::remove_all(folder.File("exe/LogFile"));
    platform::CreateFolder(outFolder);
    platform::HeadlessControls controls(form::MainFormControls());
    platform::HeadlessShell shell;
    form::MainForm form(controls, shell, folder.File("exe/"));
    form.InitialUpdate();
    form.SetJobs(jobs);
    for (ControlId radio = kFormatBmpRadio; radio <= kFormatHtmRadio; ++radio) {
      controls.SetChecked(radio, radio == format);
    }
    Settings().OutputFolder = outFolder;
    for (const std::string& path : list) controls.AppendListEntry(kInputList, path);
    Flags().InputPresent = 1;

    RunRecord record;
    shell.onMessage = [&](const std::string& text) {
      record.events.push_back(text);
      if (onMessage) onMessage(form, text);
    };
    controls.onProgress = [&](ControlId, int position, int) {
      record.events.push_back("step " + std::to_string(position));
    };
    const form::BatchOutcome outcome = form.BatchRun();
    std::tie(record.ran, record.entries, record.notWritten) =
        std::tuple(outcome.ran, outcome.entries, outcome.notWritten);
    record.currentInputPath = Job().CurrentInputPath;
    record.outputPath = Job().OutputPath;
    record.currentInputKind = Information().CurrentInputKind;
    record.lastOutputWidth = Engine().LastOutputWidth;
    record.lastOutputHeight = Engine().LastOutputHeight;
    record.settingsFile = testsupport::ReadFileText(folder.File("exe/LogFile/Log.ini"));
    for (const std::string& name : testsupport::FolderEntries(outFolder)) {
      record.outputs[name] = testsupport::ReadFileBytes(outFolder + name);
    }
    EXPECT_EQ(imaging::LiveImageCount(), 0u) << "an image was not released";
    return record;
  }

  testsupport::TempFolder folder;
  std::string outFolder = folder.File("out/");
  Texts inputs;
};

TEST_F(ParallelRunTest, FourAtATimeGivesWhatOneAtATimeGives) {
  for (ControlId format : {kFormatBmpRadio, kFormatJpegRadio, kFormatPngRadio, kFormatHtmRadio}) {
    SCOPED_TRACE(format);
    const RunRecord one = Run(format, 1, inputs);
    const RunRecord four = Run(format, 4, inputs);
    EXPECT_TRUE(one == four) << "the runs differ";
    EXPECT_EQ(one.events, four.events);

    // Each entry is reported when it is reached: the refusal of the fifth entry comes between the
    // fourth step and the fifth. The broken JPEG does not load, and the GIF is not converted
    // (table art cannot load it either). The bar is set up at 0 and put back to 0.
    EXPECT_EQ(four.events,
              (Texts{"step 0", "step 0", "step 1", "step 2", "step 3", "step 4", kGif, "step 5",
                     "step 6", "step 7", "step 8", "step 9",
                     "2件のファイルを変換できませんでした！！", "変換完了！！", "step 0"}));
    const std::string extension = std::array{".bmp", ".jpg", ".png", ".htm"}.at(
        static_cast<std::size_t>(format - kFormatBmpRadio));
    EXPECT_EQ(four.outputs.size(), 5u);
    EXPECT_EQ(four.outputPath, outFolder + "tiny" + extension);
    EXPECT_EQ(four.currentInputKind, kInputKindBmp);
    EXPECT_EQ(std::pair(four.lastOutputWidth, four.lastOutputHeight), std::pair(17, 9));
    if (format != kFormatHtmRadio) {
      EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "same" + extension), std::pair(6, 5))
          << "the later of the two entries named alike wrote the file left";
    }
  }
}

TEST_F(ParallelRunTest, AnEntryThatReadsAnEarlierEntrysOutputWaitsForIt) {
  // Three entries read the first one's output, each on a worker of its own.
  JobSnapshot job;
  job.outputKind = kOutputKindPng;
  const std::string first = outFolder + "first.png";
  platform::CreateFolder(outFolder);
  std::vector<runner::BatchEntry> entries = {{inputs[0], first}};
  for (const char* name : {"a.png", "b.png", "c.png"}) entries.push_back({first, outFolder + name});
  runner::BatchRunner run(job, entries, 4);
  for (std::size_t index = 0; index < entries.size(); ++index) {
    EXPECT_TRUE(run.Result(index).conversion.written) << index;
    EXPECT_EQ(testsupport::ImageSizeOf(entries[index].target), std::pair(300, 200)) << index;
  }
}

TEST_F(ParallelRunTest, ACancelledRunStartsNothingMoreAndLeavesOnlyCompleteFiles) {
  Texts list = {inputs[0], inputs[4]};
  for (int index = 0; index < 12; ++index) {
    list.push_back(testsupport::SaveImageFile(
        testsupport::PhotoLike(120, 90), folder.File("in2/" + std::to_string(index) + ".png")));
  }
  // The user stops the run when the refusal of its second entry shows.
  const RunRecord record =
      Run(kFormatJpegRadio, 2, list, [](form::MainForm& form, const std::string& text) {
        if (text == kGif) form.CancelRun();
      });
  const int written = static_cast<int>(record.outputs.size());
  EXPECT_LT(written, 8) << "entries after the cancel were started";
  EXPECT_EQ(record.notWritten, static_cast<int>(list.size()) - written);
  for (const auto& [name, bytes] : record.outputs) {
    EXPECT_NE(name.rfind(".tessellarion-", 0), 0u) << "a temporary is left: " << name;
    EXPECT_NE(testsupport::ImageSizeOf(outFolder + name), std::pair(0, 0)) << name;
  }
  ASSERT_GE(record.events.size(), 3u);
  EXPECT_EQ(record.events[record.events.size() - 3],
            std::to_string(record.notWritten) + "件のファイルを変換できませんでした！！");
  EXPECT_EQ(record.events[record.events.size() - 2], "変換完了！！");
}

}  // namespace
