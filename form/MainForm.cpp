// The form's start, its slider, its end, the dispatcher and the information fields.
#include "form/MainForm.h"

#include <csignal>
#include <string>
#include <utility>

#include "engine/ControlIds.h"
#include "engine/Conversion.h"
#include "engine/ConversionSettings.h"
#include "engine/Converter.h"
#include "form/ControlTable.h"
#include "platform/FileSystem.h"
#include "runner/BatchRunner.h"
#include "settings/SettingsFile.h"

namespace form {

using namespace engine;

namespace {

constexpr const char* kSizePlaceholder = "???????????????????";
constexpr const char* kFieldPlaceholder = "????";

}  // namespace

MainForm::MainForm(platform::Controls& controls, platform::Shell& shell,
                   std::string executableFolder)
    : controls_(controls),
      shell_(shell),
      previousShell_(platform::InstalledShell()),
      executableFolder_(executableFolder.empty() ? platform::ExecutableFolder()
                                                 : std::move(executableFolder)),
      folders_(platform::ChooseWorkingFolders(executableFolder_)),
      jobs_(runner::AvailableCores()) {
  platform::InstallShell(&shell_);
  session_.Job.SettingsFolder = folders_.settings;
  session_.Job.PreviewFolder = folders_.preview;
  // A write past the process's file-size limit (ulimit -f) must fail like a full disk, as an error
  // the batch reports before it goes on with the next entry, and not end the program with its
  // temporary file left behind, which is what the signal's default action would do.
  std::signal(SIGXFSZ, SIG_IGN);
}

MainForm::~MainForm() { platform::InstallShell(previousShell_); }

void MainForm::SyncSettings(settings::SettingsFileMode mode) {
  settings::SyncSettingsFile(controls_, session_.Settings, session_.Job.SettingsFolder, mode);
}

void MainForm::InitialUpdate() {
  const ConversionSettings& settings = session_.Settings;
  controls_.SetComboSelection(kBmpDepthCombo, settings.BmpDepthIndex);
  controls_.SetComboSelection(kRotationCombo, settings.RotationIndex);
  controls_.SetComboSelection(kColorEffectCombo, settings.ColorEffectIndex);

  // A repeated start (New, Open) finds the entries in place and does not add them twice.
  if (controls_.ComboCount(kBmpDepthCombo) == 0) {
    for (const char* entry : kBmpDepthEntries) controls_.AppendComboEntry(kBmpDepthCombo, entry);
  }
  if (controls_.ComboCount(kRotationCombo) == 0) {
    for (int index = 0; index < kRotationEntryCount; ++index) {
      controls_.AppendComboEntry(kRotationCombo, RotationEntry(index));
    }
  }
  if (controls_.ComboCount(kColorEffectCombo) == 0) {
    for (const char* entry : kColorEffectEntries) {
      controls_.AppendComboEntry(kColorEffectCombo, entry);
    }
  }

  session_.Settings.OutputFolder = folders_.output;
  session_.Job.ExecutableFolder = executableFolder_;
  session_.Job.SettingsFolder = folders_.settings;
  session_.Job.PreviewFolder = folders_.preview;
  SyncSettings(settings::SettingsFileMode::Load);

  if (!firstDisplay_) return;
  firstDisplay_ = false;
  SettingsToControls(controls_, settings);
  controls_.SetText(kEntryCountEdit, "0");
  controls_.SetText(kTotalSizeEdit, "0");
  for (ControlId id : {kBeforeSizeEdit, kAfterSizeEdit}) controls_.SetText(id, kSizePlaceholder);
  for (ControlId id : {kBeforeWidthEdit, kBeforeHeightEdit, kBeforeKindEdit, kAfterWidthEdit,
                       kAfterHeightEdit, kAfterKindEdit}) {
    controls_.SetText(id, kFieldPlaceholder);
  }
  controls_.SetText(kWidthEdit, std::to_string(settings.Width));
  controls_.SetText(kHeightEdit, std::to_string(settings.Height));
  controls_.SetProgressPosition(kProgressBar, 0);
  controls_.SetProgressStep(kProgressBar, 1);
}

void MainForm::OnHorizontalScroll(platform::ControlId sender) {
  if (sender != kCompressionSlider) return;
  session_.Settings.Compression = controls_.SliderPosition(kCompressionSlider);
  controls_.SetText(kCompressionEdit, std::to_string(session_.Settings.Compression));
}

void MainForm::RemovePreviewImages() {
  platform::DeleteFile(folders_.preview + "/Now.log");
  platform::DeleteFile(folders_.preview + "/Temp.log");
}

void MainForm::EnableJobControls(bool enabled) {
  for (const platform::ControlDefinition& definition : MainFormControls()) {
    if (definition.id == platform::kNoControlId) continue;
    switch (definition.kind) {
      case platform::ControlKind::kEdit:
        if ((definition.style & platform::kStyleReadOnly) != 0) break;
        [[fallthrough]];
      case platform::ControlKind::kPushButton:
      case platform::ControlKind::kRadioButton:
      case platform::ControlKind::kCheckBox:
      case platform::ControlKind::kComboBox:
      case platform::ControlKind::kListBox:
      case platform::ControlKind::kSlider:
        controls_.SetEnabled(definition.id, enabled);
        break;
      default:
        break;
    }
  }
}

void MainForm::AwaitWork(const std::function<void()>& work) {
  // A nested wait (a run's preview is never started, but a caller may nest) keeps the controls as
  // the outer one set them.
  const bool outer = !busy_;
  if (outer) {
    busy_ = true;
    EnableJobControls(false);
  }
  shell_.Await(work);
  if (outer) {
    EnableJobControls(true);
    busy_ = false;
  }
}

void MainForm::CancelRun() {
  if (cancelActiveRun_) cancelActiveRun_();
}

bool MainForm::ConvertCurrentFile(int targetMode) {
  JobState& job = session_.Job;
  if (targetMode != BatchTarget && targetMode != PreviewTarget) return false;
  const OutputFormat* output = OutputFormatOfKind(job.OutputKind);
  if (output == nullptr) return false;
  const int inputKind = session_.Information.CurrentInputKind;
  if (!Converts(*output, inputKind)) return false;

  if (targetMode == BatchTarget) job.OutputPath += output->extension;
  // The conversion runs on copies, with an engine state of its own: the session may change while
  // this thread waits, and the conversion sees none of it. Its measurement and message reach the
  // session here once it is done.
  const JobSnapshot snapshot = JobSnapshot::Of(session_);
  std::string input = job.CurrentInputPath;
  std::string target = targetMode == BatchTarget ? job.OutputPath : job.PreviewTargetPath;
  ConversionResult result;
  AwaitWork([&result, snapshot, inputKind, input = std::move(input), target = std::move(target)] {
    EngineState state;
    result = ConvertFile(snapshot, inputKind, input, target, state);
  });
  if (result.measured) {
    session_.Engine.LastOutputWidth = result.measuredWidth;
    session_.Engine.LastOutputHeight = result.measuredHeight;
  }
  if (result.openFailed) shell_.ShowMessage("オープン失敗");
  return result.written;
}

int MainForm::ShowFileInfo(int infoColumn) {
  if (infoColumn == AfterColumn) {
    ShowAfterColumn();
    return 0;
  }
  if (infoColumn != BeforeColumn) return 0;
  const std::string& file = session_.Job.CurrentInputPath;
  InformationState& information = session_.Information;
  const std::int32_t size = platform::FileSizeField(file);
  information.CurrentInputKind = Converter(session_).CheckInputKind(file);
  ProbeSize(file);
  information.ShownWidthText = std::to_string(information.ProbedWidth);
  information.ShownHeightText = std::to_string(information.ProbedHeight);
  controls_.SetText(kBeforeWidthEdit, information.ShownWidthText);
  controls_.SetText(kBeforeHeightEdit, information.ShownHeightText);
  controls_.SetText(kBeforeKindEdit, KindName(information.CurrentInputKind));
  information.BeforeSizeText = std::to_string(size);
  return 0;
}

void MainForm::ProbeSize(const std::string& file) {
  // The probe loads on another thread, on copies and an engine state of its own; what it finds is
  // written into the session on this one.
  InformationState& information = session_.Information;
  int width = information.ProbedWidth;
  int height = information.ProbedHeight;
  const OutputFormat* format = OutputFormatOfKind(session_.Job.OutputKind);
  const bool profileCarried =
      format != nullptr && OutputCarriesProfile(*format, session_.Options.EffectIndex);
  AwaitWork([&width, &height, file, profileCarried, photo = session_.Photo] {
    ConverterOptions options;
    EngineState state;
    Converter(options, photo, state).ProbeImageSize(file, profileCarried, width, height);
  });
  information.ProbedWidth = width;
  information.ProbedHeight = height;
}

void MainForm::ShowAfterColumn() {
  JobState& job = session_.Job;
  InformationState& information = session_.Information;
  if (const OutputFormat* format = CheckedOutputFormat(controls_)) {
    job.OutputKind = format->outputKind;
  }
  const platform::WaitCursor busy(shell_);
  session_.Flags = CheckPreconditions(GatherJobOptions(), session_.Flags);
  const bool written = ConvertCurrentFile(PreviewTarget);

  const std::string& file = job.PreviewTargetPath;
  const std::int32_t size = platform::FileSizeField(file);
  const bool tableArt = controls_.IsChecked(kFormatHtmRadio);
  const int kind = tableArt ? kTableArtPageKind : Converter(session_).CheckInputKind(file);
  information.CurrentInputKind = kind;
  ProbeSize(file);
  information.ShownWidthText = std::to_string(information.ProbedWidth);
  information.ShownHeightText = std::to_string(information.ProbedHeight);
  if (tableArt) {
    // The page's table has the size measured after the pipeline; no page, no table.
    information.ShownWidthText = std::to_string(written ? session_.Engine.LastOutputWidth : 0);
    information.ShownHeightText = std::to_string(written ? session_.Engine.LastOutputHeight : 0);
  }
  controls_.SetText(kAfterWidthEdit, information.ShownWidthText);
  controls_.SetText(kAfterHeightEdit, information.ShownHeightText);
  controls_.SetText(kAfterKindEdit, KindName(kind));
  information.AfterSizeText = std::to_string(size);
}

}  // namespace form
