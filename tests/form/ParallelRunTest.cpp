// A batch converted several files at a time: the same files, messages, progress and records as
// one file at a time, and entries that read an earlier entry's output.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "engine/ControlIds.h"
#include "engine/Converter.h"
#include "engine/Session.h"
#include "form/MainForm.h"
#include "imaging/HandleTable.h"
#include "platform/FileSystem.h"
#include "runner/BatchRunner.h"
#include "tests/support/FormFixture.h"
#include "tests/support/PhotoFiles.h"

namespace {

using namespace engine;
using Texts = std::vector<std::string>;

// Everything a run leaves that a user or a later operation can see.
struct RunRecord {
  Texts events;  // message boxes and progress steps, in the order they happened
  bool ran = false;
  int entries = 0, notWritten = 0, currentInputKind = 0, lastOutputWidth = 0, lastOutputHeight = 0;
  std::string currentInputPath, outputPath, settingsFile;
  std::map<std::string, std::vector<std::uint8_t>> outputs;

  friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

class ParallelRunTest : public testsupport::BatchFixture {
 protected:
  ParallelRunTest() {
    for (const char* name : {"in1", "in2", "in3"}) platform::CreateFolder(folder.File(name));
    // The first entry is the largest, so later ones finish before it when they run beside it.
    inputs = {
        SaveImage(testsupport::PhotoLike(300, 200), "in1/big.png"),
        SaveImage(testsupport::LetterF(), "in1/letter.bmp"),
        SaveImage(testsupport::PhotoLike(40, 30), "in1/photo.jpg"),
        // A JPEG by its signature whose headers do not load: listed, then not written.
        folder.File("in1/broken.jpg"),
        // Listed as a PNG, a GIF by the time the run comes to it: refused with its message.
        folder.File("in1/became.png"),
        // The same name in three folders: the last entry's file is the one left, also when the
        // one before it takes longest.
        SaveImage(testsupport::PhotoLike(40, 30), "in1/same.png"),
        SaveImage(testsupport::PhotoLike(300, 200), "in3/same.png"),
        SaveImage(testsupport::LetterF(), "in2/same.png"),
        SaveImage(testsupport::PhotoLike(17, 9), "in2/tiny.bmp"),
    };
    // Two Adobe RGB photos, converted to sRGB for BMP and table art by workers sharing one
    // transform.
    const std::vector<std::uint8_t> adobe = testsupport::AdobeRgbProfile();
    testsupport::WriteFileBytes(
        inputs[0], testsupport::WithChunks(testsupport::ReadFileBytes(inputs[0]),
                                           testsupport::PngMetadataChunks({}, {}, adobe)));
    testsupport::WriteFileBytes(
        inputs[2], testsupport::WithSegments(testsupport::ReadFileBytes(inputs[2]),
                                             testsupport::CameraSegments({}, {}, adobe, 60000)));
    testsupport::WriteFileBytes(inputs[3], {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x02, 'x', 'x', 'x'});
    testsupport::WriteFileText(inputs[4], "GIF89a......");
    shell.onMessage = [this](const std::string& text) { events.push_back(text); };
    controls.onProgress = [this](ControlId, int position, int) {
      events.push_back("step " + std::to_string(position));
    };
  }

  // A run of the inputs on a new form with a new session, as a new process would make it.
  RunRecord Run(const testsupport::OutputFormat& format, int jobs) {
    Restart();
    form->InitialUpdate();
    Session().Settings.OutputFolder = outFolder;
    form->SetJobs(jobs);
    SelectFormat(format.radio);
    List(inputs);
    events.clear();
    const form::BatchOutcome outcome = form->BatchRun();
    RunRecord record;
    record.events = events;
    std::tie(record.ran, record.entries, record.notWritten) =
        std::tuple(outcome.ran, outcome.entries, outcome.notWritten);
    record.currentInputPath = Session().Job.CurrentInputPath;
    record.outputPath = Session().Job.OutputPath;
    record.currentInputKind = Session().Information.CurrentInputKind;
    record.lastOutputWidth = Session().Engine.LastOutputWidth;
    record.lastOutputHeight = Session().Engine.LastOutputHeight;
    record.settingsFile = testsupport::ReadFileText(folder.File("LogFile/Log.ini"));
    for (const std::string& name : Outputs())
      record.outputs[name] = testsupport::ReadFileBytes(outFolder + name);
    form.reset();
    EXPECT_EQ(imaging::LiveImageCount(), 0u) << "an image was not released";
    return record;
  }

  Texts inputs, events;
};

TEST_F(ParallelRunTest, FourAtATimeGivesWhatOneAtATimeGives) {
  for (const testsupport::OutputFormat& format : testsupport::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    const RunRecord one = Run(format, 1);
    const RunRecord four = Run(format, 4);
    EXPECT_TRUE(one == four) << "the runs differ";

    // Each entry is reported when it is reached: the refusal of the fifth entry comes between the
    // fourth step and the fifth. The broken JPEG does not load, and the GIF is not converted
    // (table art cannot load it either). The bar is set up at 0 and put back to 0.
    EXPECT_EQ(
        four.events,
        (Texts{"step 0", "step 0", "step 1", "step 2", "step 3", "step 4",
               "GIFです!!この形式は変換できません!!", "step 5", "step 6", "step 7", "step 8",
               "step 9", "2件のファイルを変換できませんでした！！", "変換完了！！", "step 0"}));
    EXPECT_EQ(four.outputs.size(), 5u);
    EXPECT_EQ(four.outputPath, outFolder + "tiny." + format.extension);
    EXPECT_EQ(four.currentInputKind, 1) << "BMP";
    EXPECT_EQ(std::pair(four.lastOutputWidth, four.lastOutputHeight), std::pair(17, 9));
    if (format.extension != "htm") {
      EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "same." + format.extension), std::pair(6, 5))
          << "the later of the two entries named alike wrote the file left";
    }
  }
}

TEST_F(ParallelRunTest, AnEntryThatReadsAnEarlierEntrysOutputWaitsForIt) {
  // Three entries read the first one's output, each on a worker of its own.
  JobSnapshot job;
  job.outputKind = 3;  // PNG
  const std::string first = outFolder + "first.png";
  std::vector<runner::BatchEntry> entries = {{inputs[0], first}};
  for (const char* name : {"a.png", "b.png", "c.png"}) entries.push_back({first, outFolder + name});
  runner::BatchRunner run(job, entries, 4);
  for (std::size_t index = 0; index < entries.size(); ++index) {
    EXPECT_TRUE(run.Result(index).conversion.written) << index;
    EXPECT_EQ(testsupport::ImageSizeOf(entries[index].target), std::pair(300, 200)) << index;
  }
}

}  // namespace
