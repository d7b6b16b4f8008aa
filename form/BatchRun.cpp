// The Execute button: gathering the form into the engine, the preconditions, the conversion of
// every listed file under its output name, and the closing messages.
#include <string>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/Converter.h"
#include "engine/ProcessState.h"
#include "form/MainForm.h"
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

void MainForm::GatherJobOptions() {
  ConversionSettings& settings = Settings();
  RunFlags& flags = Flags();
  Converter converter;

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
    const int width = ReadNumber(Information().ShownWidthText);
    const int height = ReadNumber(Information().ShownHeightText);
    converter.SetResize(0, width, height);
    flags.SizeOutOfRange = 0;
    settings.Width = width;
    settings.Height = height;
  }
  if (controls_.IsChecked(kSize640Radio)) {
    converter.SetResize(1, 640, 480);
    flags.SizeOutOfRange = 0;
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

  constexpr ControlId kFormatRadios[] = {kFormatBmpRadio, kFormatJpegRadio, kFormatPngRadio,
                                         kFormatHtmRadio};
  constexpr int kKinds[] = {kOutputKindBmp, kOutputKindJpeg, kOutputKindPng, kOutputKindHtm};
  for (std::size_t i = 0; i < std::size(kFormatRadios); ++i) {
    if (controls_.IsChecked(kFormatRadios[i])) {
      Job().OutputKind = kKinds[i];
      break;
    }
  }

  shell_.SetWaitCursor(true);
  const int entries = controls_.ListCount(kInputList);
  if (entries == 0) flags.InputPresent = 0;
  if (controls_.IsChecked(kSizeCustomRadio)) {
    flags.SizeOutOfRange = settings.Width > 2000 || settings.Width < 1 || settings.Height > 2000 ||
                                   settings.Height < 1
                               ? 1
                               : 0;
  }
  flags.TableArtOverLimit =
      entries > kMaxTableArtEntries && controls_.IsChecked(kFormatHtmRadio) ? 1 : 0;
  flags.CustomNameRefused = controls_.IsChecked(kNamingCustomRadio) &&
                                    !IsUsableCustomName(controls_.Text(kCustomNameEdit))
                                ? 1
                                : 0;
}

BatchOutcome MainForm::BatchRun() {
  settings::SyncSettingsFile(controls_, settings::SettingsFileMode::Save);
  controls_.SetProgressRange(kProgressBar, 0, controls_.ListCount(kInputList));
  controls_.SetProgressPosition(kProgressBar, 0);
  controls_.SetProgressStep(kProgressBar, 1);
  GatherJobOptions();

  const RunFlags& flags = Flags();
  BatchOutcome outcome;
  outcome.ran = flags.InputPresent == 1 && flags.SizeOutOfRange == 0 &&
                flags.TableArtOverLimit == 0 && flags.CustomNameRefused == 0;
  if (outcome.ran) {
    JobState& job = Job();
    // The count is asked again before every entry.
    for (int index = 0; index < controls_.ListCount(kInputList); ++index) {
      job.CurrentInputPath = controls_.ListEntry(kInputList, index);
      job.OutputPath = Settings().OutputFolder;
      std::string namePart;
      if (controls_.IsChecked(kNamingKeepRadio)) namePart = FileNameOf(job.CurrentInputPath);
      if (controls_.IsChecked(kNamingCustomRadio)) namePart = controls_.Text(kCustomNameEdit);
      Information().CurrentInputKind = Converter().CheckInputKind(job.CurrentInputPath);
      const bool numbered =
          controls_.IsChecked(kNamingNumberRadio) || controls_.IsChecked(kNamingCustomRadio);
      if (controls_.IsChecked(kNamingKeepRadio) || controls_.IsChecked(kNamingCustomRadio)) {
        job.OutputPath += namePart;
      }
      // Numbers follow the list position, so a skipped entry still uses up its number.
      if (numbered) job.OutputPath += std::to_string(index + 1);
      ++outcome.entries;
      if (!ConvertCurrentFile(BatchTarget)) ++outcome.notWritten;
      controls_.StepProgress(kProgressBar);
    }
  }
  shell_.SetWaitCursor(false);

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
    if (outcome.notWritten > 0) {
      shell_.ShowMessage(std::to_string(outcome.notWritten) + "件のファイルを変換できませんでした！！");
    }
    shell_.ShowMessage("変換完了！！");
  }
  controls_.SetProgressPosition(kProgressBar, 0);
  return outcome;
}

}  // namespace form
