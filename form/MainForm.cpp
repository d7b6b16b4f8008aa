// The form's start, its slider, its end, the dispatcher and the information fields.
#include "form/MainForm.h"

#include <csignal>
#include <string>
#include <utility>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/Converter.h"
#include "engine/ProcessState.h"
#include "platform/FileSystem.h"
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
      folders_(platform::ChooseWorkingFolders(executableFolder_)) {
  platform::InstallShell(&shell_);
  Job().SettingsFolder = folders_.settings;
  Job().PreviewFolder = folders_.preview;
  // A write past the process's file-size limit (ulimit -f) must fail like a full disk, as an error
  // the batch reports before it goes on with the next entry, and not end the program with its
  // temporary file left behind, which is what the signal's default action would do.
  std::signal(SIGXFSZ, SIG_IGN);
}

MainForm::~MainForm() { platform::InstallShell(previousShell_); }

void MainForm::InitialUpdate() {
  const ConversionSettings& settings = Settings();
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

  Settings().OutputFolder = folders_.output;
  Job().ExecutableFolder = executableFolder_;
  Job().SettingsFolder = folders_.settings;
  Job().PreviewFolder = folders_.preview;
  settings::SyncSettingsFile(controls_, settings::SettingsFileMode::Load);

  if (!firstDisplay_) return;
  firstDisplay_ = false;
  SettingsToControls(controls_);
  controls_.SetText(kEntryCountEdit, "0");
  controls_.SetText(kTotalSizeEdit, "0");
  for (ControlId id : {kBeforeSizeEdit, kAfterSizeEdit}) controls_.SetText(id, kSizePlaceholder);
  for (ControlId id : {kBeforeWidthEdit, kBeforeHeightEdit, kBeforeKindEdit, kAfterWidthEdit,
                       kAfterHeightEdit, kAfterKindEdit}) {
    controls_.SetText(id, kFieldPlaceholder);
  }
  controls_.SetText(kWidthEdit, std::to_string(Settings().Width));
  controls_.SetText(kHeightEdit, std::to_string(Settings().Height));
  controls_.SetProgressPosition(kProgressBar, 0);
  controls_.SetProgressStep(kProgressBar, 1);
}

void MainForm::OnHorizontalScroll(platform::ControlId sender) {
  if (sender != kCompressionSlider) return;
  Settings().Compression = controls_.SliderPosition(kCompressionSlider);
  controls_.SetText(kCompressionEdit, std::to_string(Settings().Compression));
}

void MainForm::RemovePreviewImages() {
  platform::DeleteFile(folders_.preview + "/Now.log");
  platform::DeleteFile(folders_.preview + "/Temp.log");
}

bool MainForm::ConvertCurrentFile(int targetMode) {
  JobState& job = Job();
  if (targetMode != BatchTarget && targetMode != PreviewTarget) return false;
  if (job.OutputKind < kOutputKindHtm || job.OutputKind > kOutputKindPng) return false;
  const int inputKind = Information().CurrentInputKind;
  const bool convertible = inputKind >= kInputKindBmp && inputKind <= kInputKindPng;
  // Table art takes any file the loader can read; the image formats only the three kinds.
  if (job.OutputKind != kOutputKindHtm && !convertible) return false;

  static const char* const kExtensions[] = {".htm", ".bmp", ".jpg", ".png"};
  if (targetMode == BatchTarget) job.OutputPath += kExtensions[job.OutputKind];
  const std::string& target = targetMode == BatchTarget ? job.OutputPath : job.PreviewTargetPath;
  const std::string& input = job.CurrentInputPath;
  const ConversionSettings& settings = Settings();
  const int quality = 100 - settings.Compression;
  const int progressive = settings.JpegProgressive;
  const int interlace = settings.PngInterlace;

  Converter converter;
  int result = 0;
  switch (job.OutputKind) {
    case kOutputKindHtm:
      result = converter.TableArtWriter(target, input);
      break;
    case kOutputKindBmp:
      if (inputKind == kInputKindBmp) result = converter.ConvertBmpToBmp(target, input, 0);
      if (inputKind == kInputKindJpeg) result = converter.ConvertJpegToBmp(target, input);
      if (inputKind == kInputKindPng) result = converter.ConvertPngToBmp(target, input);
      break;
    case kOutputKindJpeg:
      if (inputKind == kInputKindBmp) {
        result = converter.ConvertBmpToJpeg(target, input, quality, progressive);
      }
      if (inputKind == kInputKindJpeg) {
        result = converter.ConvertJpegToJpeg(target, input, quality, progressive, 0);
      }
      if (inputKind == kInputKindPng) {
        result = converter.ConvertPngToJpeg(target, input, quality, progressive);
      }
      break;
    case kOutputKindPng:
      if (inputKind == kInputKindBmp) result = converter.ConvertBmpToPng(target, input, interlace);
      if (inputKind == kInputKindJpeg) result = converter.ConvertJpegToPng(target, input, interlace);
      if (inputKind == kInputKindPng) {
        result = converter.ConvertPngToPng(target, input, interlace, 0);
      }
      break;
  }
  return result != 0;
}

int MainForm::ShowFileInfo(int infoColumn) {
  if (infoColumn == AfterColumn) {
    ShowAfterColumn();
    return 0;
  }
  if (infoColumn != BeforeColumn) return 0;
  const std::string& file = Job().CurrentInputPath;
  InformationState& information = Information();
  const std::int32_t size = platform::FileSizeField(file);
  Converter converter;
  information.CurrentInputKind = converter.CheckInputKind(file);
  converter.ProbeImageSize(file, information.ProbedWidth, information.ProbedHeight);
  information.ShownWidthText = std::to_string(information.ProbedWidth);
  information.ShownHeightText = std::to_string(information.ProbedHeight);
  controls_.SetText(kBeforeWidthEdit, information.ShownWidthText);
  controls_.SetText(kBeforeHeightEdit, information.ShownHeightText);
  controls_.SetText(kBeforeKindEdit, KindName(information.CurrentInputKind));
  information.BeforeSizeText = std::to_string(size);
  return 0;
}

void MainForm::ShowAfterColumn() {
  JobState& job = Job();
  InformationState& information = Information();
  constexpr ControlId kFormatRadios[] = {kFormatBmpRadio, kFormatJpegRadio, kFormatPngRadio,
                                         kFormatHtmRadio};
  constexpr int kKinds[] = {kOutputKindBmp, kOutputKindJpeg, kOutputKindPng, kOutputKindHtm};
  for (std::size_t i = 0; i < std::size(kFormatRadios); ++i) {
    if (controls_.IsChecked(kFormatRadios[i])) {
      job.OutputKind = kKinds[i];
      break;
    }
  }
  GatherJobOptions();
  const bool written = ConvertCurrentFile(PreviewTarget);

  const std::string& file = job.PreviewTargetPath;
  const std::int32_t size = platform::FileSizeField(file);
  const bool tableArt = controls_.IsChecked(kFormatHtmRadio);
  Converter converter;
  const int kind = tableArt ? kOutputKindHtm : converter.CheckInputKind(file);
  information.CurrentInputKind = kind;
  converter.ProbeImageSize(file, information.ProbedWidth, information.ProbedHeight);
  information.ShownWidthText = std::to_string(information.ProbedWidth);
  information.ShownHeightText = std::to_string(information.ProbedHeight);
  if (tableArt) {
    // The page's table has the size measured after the pipeline; no page, no table.
    information.ShownWidthText = std::to_string(written ? Engine().LastOutputWidth : 0);
    information.ShownHeightText = std::to_string(written ? Engine().LastOutputHeight : 0);
  }
  controls_.SetText(kAfterWidthEdit, information.ShownWidthText);
  controls_.SetText(kAfterHeightEdit, information.ShownHeightText);
  controls_.SetText(kAfterKindEdit, KindName(kind));
  information.AfterSizeText = std::to_string(size);
  shell_.SetWaitCursor(false);
}

}  // namespace form
