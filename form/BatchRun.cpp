// The Execute button: gathering the form into a job, the preconditions checked on it, the
// conversion of every listed file under its output name, and the closing messages.
#include <string>
#include <utility>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/Conversion.h"
#include "engine/ConversionSettings.h"
#include "engine/Converter.h"
#include "engine/SettingRows.h"
#include "form/MainForm.h"
#include "runner/BatchRunner.h"
#include "settings/SettingsFile.h"

namespace form {

using namespace engine;

std::string ExtensionOf(const std::string& text) {
  const std::size_t dot = text.rfind('.');
  return dot == std::string::npos ? std::string() : text.substr(dot + 1);
}

// In UTF-8 no byte of a multi-byte character is an ASCII byte, so byte searches for "/", "\" and
// "." never split a character.
std::string FileNameOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return {};
  const std::string name = path.substr(separator + 1);
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return name;
  return name.substr(0, name.size() - extension.size() - 1);
}

JobOptions MainForm::GatherJobOptions() {
  ConversionSettings& settings = session_.Settings;
  Converter converter(session_);
  JobOptions job;

  settings.BmpDepthIndex = controls_.ComboSelection(kBmpDepthCombo);
  converter.SetBmpDepth(settings.BmpDepthIndex);
  settings.RotationIndex = controls_.ComboSelection(kRotationCombo);
  converter.SetRotation(settings.RotationIndex);
  settings.ColorEffectIndex = controls_.ComboSelection(kColorEffectCombo);
  converter.SetColorEffect(settings.ColorEffectIndex);
  settings.JpegProgressive = controls_.IsChecked(kJpegProgressiveCheck) ? 1 : 0;
  settings.PngInterlace = controls_.IsChecked(kPngInterlaceCheck) ? 1 : 0;
  // Read from the edit boxes afresh, so the validation of the save before a run cannot hide a
  // size out of range.
  settings.Width = ReadNumber(controls_.Text(kWidthEdit));
  settings.Height = ReadNumber(controls_.Text(kHeightEdit));

  if (controls_.IsChecked(kSizeKeepRadio)) {
    const int width = ReadNumber(session_.Information.ShownWidthText);
    const int height = ReadNumber(session_.Information.ShownHeightText);
    converter.SetResize(0, width, height);
    job.fixedSize = true;
    settings.Width = width;
    settings.Height = height;
  }
  if (controls_.IsChecked(kSize640Radio)) {
    converter.SetResize(1, 640, 480);
    job.fixedSize = true;
    settings.Width = 640;
    settings.Height = 480;
  }
  if (controls_.IsChecked(kSizeCustomRadio)) converter.SetResize(1, settings.Width, settings.Height);

  if (controls_.IsChecked(kCropCheck)) {
    settings.CropX = ReadNumber(controls_.Text(kCropXEdit));
    settings.CropY = ReadNumber(controls_.Text(kCropYEdit));
    settings.CropWidth = ReadNumber(controls_.Text(kCropWidthEdit));
    settings.CropHeight = ReadNumber(controls_.Text(kCropHeightEdit));
    converter.SetCrop(1, settings.CropX, settings.CropY, settings.CropWidth, settings.CropHeight);
  } else {
    converter.SetCrop(0, 0, 0, 0, 0);
  }

  if (const OutputFormat* format = CheckedOutputFormat(controls_)) {
    session_.Job.OutputKind = format->outputKind;
  }

  job.conversion = JobSnapshot::Of(session_);
  job.entries = controls_.ListCount(kInputList);
  job.customSize = controls_.IsChecked(kSizeCustomRadio);
  job.width = settings.Width;
  job.height = settings.Height;
  job.tableArt = controls_.IsChecked(kFormatHtmRadio);
  job.customName = controls_.IsChecked(kNamingCustomRadio);
  job.customNameText = controls_.Text(kCustomNameEdit);
  return job;
}

RunFlags CheckPreconditions(const JobOptions& job, RunFlags flags) {
  if (job.entries == 0) flags.InputPresent = 0;
  if (job.fixedSize) flags.SizeOutOfRange = 0;
  if (job.customSize) {
    flags.SizeOutOfRange = SettingRowOf(&ConversionSettings::Width).InRange(job.width) &&
                                   SettingRowOf(&ConversionSettings::Height).InRange(job.height)
                               ? 0
                               : 1;
  }
  flags.TableArtOverLimit = job.entries > kMaxTableArtEntries && job.tableArt ? 1 : 0;
  flags.CustomNameRefused = job.customName && !IsUsableCustomName(job.customNameText) ? 1 : 0;
  return flags;
}

void MainForm::RunEntries(const JobSnapshot& job, BatchOutcome& outcome) {
  // The list cannot change during the run (its controls are disabled), so the names are made once
  // for every entry, as the loop of a one-at-a-time run would make them.
  const OutputFormat* output = OutputFormatOfKind(job.outputKind);
  const std::string extension = output != nullptr ? std::string(output->extension) : "";
  const bool keepName = controls_.IsChecked(kNamingKeepRadio);
  const bool custom = controls_.IsChecked(kNamingCustomRadio);
  const bool numbered = controls_.IsChecked(kNamingNumberRadio) || custom;
  const int count = controls_.ListCount(kInputList);
  std::vector<std::string> outputPaths;
  std::vector<runner::BatchEntry> entries;
  for (int index = 0; index < count; ++index) {
    std::string input = controls_.ListEntry(kInputList, index);
    std::string outputPath = session_.Settings.OutputFolder;
    if (keepName) outputPath += FileNameOf(input);
    if (custom) outputPath += controls_.Text(kCustomNameEdit);
    // Numbers follow the list position, so a skipped entry still uses up its number.
    if (numbered) outputPath += std::to_string(index + 1);
    entries.push_back({std::move(input), outputPath + extension});
    outputPaths.push_back(std::move(outputPath));
  }

  busy_ = true;
  EnableJobControls(false);
  runner::BatchRunner run(job, entries, jobs_);
  cancelActiveRun_ = [&run] { run.Cancel(); };

  // Each entry is reported when it is reached in list order, as a one-at-a-time run reports it,
  // and leaves the session as that run's conversion of it would.
  JobState& state = session_.Job;
  InformationState& information = session_.Information;
  for (std::size_t index = 0; index < entries.size(); ++index) {
    if (!run.Ready(index)) shell_.Await([&run, index] { run.Result(index); });
    const runner::EntryResult result = run.Result(index);
    ++outcome.entries;
    if (!result.started) {
      // Left undone by a cancel: not converted.
      outcome.cancelled = true;
      ++outcome.notWritten;
      outcome.failures.push_back({entries[index].input, "the run was stopped before this file"});
      continue;
    }
    state.CurrentInputPath = entries[index].input;
    state.OutputPath = outputPaths[index];
    information.CurrentInputKind = ReportInputKind(result.probedKind);
    if (output != nullptr && Converts(*output, information.CurrentInputKind)) {
      state.OutputPath += extension;
    }
    if (result.conversion.openFailed) shell_.ShowMessage("オープン失敗");
    if (result.conversion.measured) {
      session_.Engine.LastOutputWidth = result.conversion.measuredWidth;
      session_.Engine.LastOutputHeight = result.conversion.measuredHeight;
    }
    if (!result.conversion.written) {
      ++outcome.notWritten;
      outcome.failures.push_back({entries[index].input, result.conversion.reason});
    }
    controls_.StepProgress(kProgressBar);
  }
  cancelActiveRun_ = nullptr;
  EnableJobControls(true);
  busy_ = false;
}

BatchOutcome MainForm::BatchRun() {
  SyncSettings(settings::SettingsFileMode::Save);
  controls_.SetProgressRange(kProgressBar, 0, controls_.ListCount(kInputList));
  controls_.SetProgressPosition(kProgressBar, 0);
  controls_.SetProgressStep(kProgressBar, 1);

  const RunFlags& flags = session_.Flags;
  BatchOutcome outcome;
  {
    const platform::WaitCursor busy(shell_);
    const JobOptions job = GatherJobOptions();
    session_.Flags = CheckPreconditions(job, session_.Flags);
    outcome.ran = flags.InputPresent == 1 && flags.SizeOutOfRange == 0 &&
                  flags.TableArtOverLimit == 0 && flags.CustomNameRefused == 0;
    if (outcome.ran) RunEntries(job.conversion, outcome);
  }

  if (flags.InputPresent == 0) shell_.ShowMessage("入力ファイルを追加してください！！");
  if (flags.SizeOutOfRange == 1) {
    shell_.ShowMessage("ファイルサイズは１*１以上２０００*２０００以内にしてください！！");
  }
  if (flags.TableArtOverLimit == 1) {
    shell_.ShowMessage("TableArtは１０件までしか一括変換できません。");
  }
  if (flags.CustomNameRefused == 1) {
    shell_.ShowMessage("任意の文字列には「/」を含む名前や「.」「..」は使えません！！");
  }
  if (outcome.ran) {
    for (const FileNotWritten& failure : outcome.failures) {
      shell_.ReportNotWritten(failure.input, failure.reason);
    }
    if (outcome.notWritten > 0) {
      shell_.ShowMessage(std::to_string(outcome.notWritten) +
                         "件のファイルを変換できませんでした！！");
    }
    shell_.ShowMessage("変換完了！！");
  }
  controls_.SetProgressPosition(kProgressBar, 0);
  return outcome;
}

}  // namespace form
