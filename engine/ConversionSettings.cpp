#include "engine/ConversionSettings.h"

#include <limits>
#include <string>

#include "engine/ControlIds.h"

namespace engine {
namespace {

using platform::Controls;

// Index of the first checked button among `ids`, or `current` when none is checked.
template <std::size_t N>
int FirstChecked(const Controls& controls, const ControlId (&ids)[N], int current) {
  for (std::size_t i = 0; i < N; ++i) {
    if (controls.IsChecked(ids[i])) return static_cast<int>(i);
  }
  return current;
}

constexpr ControlId kFormatRadios[] = {kFormatBmpRadio, kFormatJpegRadio, kFormatPngRadio,
                                       kFormatHtmRadio};
constexpr ControlId kSizeRadios[] = {kSizeKeepRadio, kSize640Radio, kSizeCustomRadio};
constexpr ControlId kNamingRadios[] = {kNamingKeepRadio, kNamingNumberRadio, kNamingCustomRadio};

template <std::size_t N>
void CheckIndex(Controls& controls, const ControlId (&ids)[N], int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < N) {
    controls.SetChecked(ids[static_cast<std::size_t>(index)], true);
  }
}

void ConfigureSlider(Controls& controls) {
  controls.SetSliderRange(kCompressionSlider, 0, 100, false);
  controls.SetSliderTickFrequency(kCompressionSlider, 1);
  controls.SetSliderPageSize(kCompressionSlider, 5);
}

template <typename Field>
void Repair(Field& field, long long minimum, long long maximum, Field fallback) {
  if (field < minimum || field > maximum) field = fallback;
}

// The digits after white space and an optional sign, as a 64-bit value that saturates far beyond
// the 32-bit range.
long long ParseLeadingInteger(std::string_view text) {
  std::size_t position = 0;
  while (position < text.size() &&
         (text[position] == ' ' || (text[position] >= '\t' && text[position] <= '\r'))) {
    ++position;
  }
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  constexpr long long kSaturation = 1LL << 40;
  long long value = 0;
  while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
    value = value * 10 + (text[position] - '0');
    if (value > kSaturation) value = kSaturation;
    ++position;
  }
  return negative ? -value : value;
}

}  // namespace

std::int32_t ReadNumber(std::string_view text) {
  const long long value = ParseLeadingInteger(text);
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> ReadNumberInRange(std::string_view text) {
  const long long value = ParseLeadingInteger(text);
  if (value > std::numeric_limits<std::int32_t>::max() ||
      value < std::numeric_limits<std::int32_t>::min()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

std::string RotationEntry(int index) {
  if (index == 0) return "そのまま";
  return std::to_string(5 * index) + "°回転";
}

void SettingsFromControls(Controls& controls, ConversionSettings& settings) {
  settings.OutputFormatIndex = FirstChecked(controls, kFormatRadios, settings.OutputFormatIndex);
  settings.SizeMode = FirstChecked(controls, kSizeRadios, settings.SizeMode);
  settings.Width = ReadNumber(controls.Text(kWidthEdit));
  settings.Height = ReadNumber(controls.Text(kHeightEdit));
  settings.JpegProgressive = controls.IsChecked(kJpegProgressiveCheck) ? 1 : 0;
  settings.PngInterlace = controls.IsChecked(kPngInterlaceCheck) ? 1 : 0;
  settings.CropEnabled = controls.IsChecked(kCropCheck) ? 1 : 0;
  ConfigureSlider(controls);
  settings.Compression = controls.SliderPosition(kCompressionSlider);
  settings.BmpDepthIndex = controls.ComboSelection(kBmpDepthCombo);
  settings.RotationIndex = controls.ComboSelection(kRotationCombo);
  settings.ColorEffectIndex = controls.ComboSelection(kColorEffectCombo);
  settings.NamingScheme = FirstChecked(controls, kNamingRadios, settings.NamingScheme);
  settings.CustomName = controls.Text(kCustomNameEdit);
  settings.CropX = ReadNumber(controls.Text(kCropXEdit));
  settings.CropY = ReadNumber(controls.Text(kCropYEdit));
  settings.CropWidth = ReadNumber(controls.Text(kCropWidthEdit));
  settings.CropHeight = ReadNumber(controls.Text(kCropHeightEdit));
}

void SettingsToControls(Controls& controls, const ConversionSettings& settings) {
  controls.SetText(kOutputFolderEdit, settings.OutputFolder);
  CheckIndex(controls, kFormatRadios, settings.OutputFormatIndex);
  CheckIndex(controls, kSizeRadios, settings.SizeMode);
  controls.SetText(kWidthEdit, std::to_string(settings.Width));
  controls.SetText(kHeightEdit, std::to_string(settings.Height));
  if (settings.JpegProgressive == 1) controls.SetChecked(kJpegProgressiveCheck, true);
  if (settings.PngInterlace == 1) controls.SetChecked(kPngInterlaceCheck, true);
  if (settings.CropEnabled == 1) controls.SetChecked(kCropCheck, true);
  ConfigureSlider(controls);
  controls.SetSliderPosition(kCompressionSlider, settings.Compression, true);
  controls.SetText(kCompressionEdit, std::to_string(settings.Compression));
  controls.SetComboSelection(kBmpDepthCombo, settings.BmpDepthIndex);
  controls.SetComboSelection(kRotationCombo, settings.RotationIndex);
  controls.SetComboSelection(kColorEffectCombo, settings.ColorEffectIndex);
  CheckIndex(controls, kNamingRadios, settings.NamingScheme);
  controls.SetText(kCustomNameEdit, settings.CustomName);
  controls.SetText(kCropXEdit, std::to_string(settings.CropX));
  controls.SetText(kCropYEdit, std::to_string(settings.CropY));
  controls.SetText(kCropWidthEdit, std::to_string(settings.CropWidth));
  controls.SetText(kCropHeightEdit, std::to_string(settings.CropHeight));
}

void ValidateSettings(Controls& controls, ConversionSettings& settings) {
  Repair(settings.OutputFormatIndex, 0, 3, 0);
  Repair(settings.SizeMode, 0, 2, 0);
  Repair(settings.Width, 1, 2000, 320);
  Repair(settings.Height, 1, 2000, 240);
  Repair(settings.BmpDepthIndex, 0, 3, 0);
  Repair(settings.PngInterlace, 0, 1, std::uint8_t{0});
  Repair(settings.JpegProgressive, 0, 1, std::uint8_t{0});
  Repair(settings.Compression, 0, 100, 20);
  Repair(settings.ColorEffectIndex, 0, 8, 0);
  Repair(settings.RotationIndex, 0, kRotationEntryCount - 1, 0);
  Repair(settings.NamingScheme, 0, 2, 0);
  Repair(settings.CropX, 0, 2000, 0);
  Repair(settings.CropWidth, 0, 2000, 100);
  Repair(settings.CropY, 0, 2000, 0);
  Repair(settings.CropHeight, 0, 2000, 100);
  Repair(settings.CropEnabled, 0, 1, 0);
  controls.SetText(kOutputFolderEdit, settings.OutputFolder);
}

}  // namespace engine
