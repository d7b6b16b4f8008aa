// bench_preview: the quality preview of one file against converting it once, in one process.
//
//   bench_preview FILE WORK_FOLDER [RUNS]
//
// Drives the main form headless, as tessellarion-cli does, with JPEG output at quality 80 and
// no edits. "Converting once" is one batch entry (MainForm::ConvertCurrentFile); "preview" is
// selecting the list entry (MainForm::ShowSelectedFile: the before column, the conversion and the
// after column). Before every measurement the imaging library is put back to the state of a new
// process, so neither side profits from the other's work. Prints the median wall time of each over
// RUNS runs (default 3), taken in turn, and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/Converter.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "imaging/HandleTable.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"

namespace {

double Milliseconds(const std::function<void()>& work) {
  imaging::ResetHandleTable();
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_preview FILE WORK_FOLDER [RUNS]\n");
    return 64;
  }
  const std::string input = argv[1];
  std::string folder = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  platform::CreateFolder(folder);
  if (folder.back() != '/') folder += '/';

  using namespace engine;
  platform::HeadlessControls controls(form::MainFormControls());
  platform::HeadlessShell shell;
  form::MainForm form(controls, shell, folder);
  form.InitialUpdate();
  for (ControlId id = kFormatBmpRadio; id <= kFormatHtmRadio; ++id) {
    controls.SetChecked(id, id == kFormatJpegRadio);
  }
  for (ControlId id = kSizeKeepRadio; id <= kSizeCustomRadio; ++id) {
    controls.SetChecked(id, id == kSizeKeepRadio);
  }
  controls.SetSliderPosition(kCompressionSlider, 20, true);
  form.OnHorizontalScroll(kCompressionSlider);
  controls.SetChecked(kJpegProgressiveCheck, false);
  controls.SetChecked(kCropCheck, false);
  controls.SetComboSelection(kColorEffectCombo, 0);
  controls.SetComboSelection(kRotationCombo, 0);
  form.AddDroppedFiles({input});
  controls.SetListSelection(kInputList, 0);

  const auto convertOnce = [&] {
    form.GatherJobOptions();
    engine::Session& session = form.Session();
    session.Job.CurrentInputPath = input;
    session.Job.OutputPath = folder + "once";
    session.Information.CurrentInputKind = Converter(session).CheckInputKind(input);
    if (!form.ConvertCurrentFile(form::BatchTarget)) std::fprintf(stderr, "conversion failed\n");
  };
  std::vector<double> once;
  std::vector<double> preview;
  for (int run = 0; run < runs; ++run) {
    once.push_back(Milliseconds(convertOnce));
    preview.push_back(Milliseconds([&] { form.ShowSelectedFile(); }));
  }
  imaging::ResetHandleTable();
  std::printf("Quality preview of %s (JPEG q80 output), median of %d runs:\n", input.c_str(), runs);
  std::printf(
      "  converting once %.1f ms, preview (before column, conversion, after column) %.1f "
      "ms: %.2f x\n",
      Median(once), Median(preview), Median(preview) / Median(once));
  return 0;
}
