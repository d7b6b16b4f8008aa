#include "engine/ConversionSettings.h"

#include <algorithm>
#include <limits>
#include <string>

#include "engine/ControlIds.h"
#include "engine/SettingRows.h"

namespace engine {
namespace {

using platform::Controls;

void ConfigureSlider(Controls& controls, const SettingRow& row) {
  const ControlId slider = row.controls.front();
  controls.SetSliderRange(slider, row.minimum, row.maximum, false);
  controls.SetSliderTickFrequency(slider, 1);
  controls.SetSliderPageSize(slider, 5);
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
  return std::to_string(kDegreesPerRotationStep * index) + "°回転";
}

void SettingsFromControls(Controls& controls, ConversionSettings& settings) {
  for (const SettingRow& row : SettingRows()) {
    const ControlId id = row.controls.front();
    switch (row.control) {
      case SettingControl::kRadioGroup: {
        // The first checked button; none checked leaves the field as it was.
        const auto checked =
            std::find_if(row.controls.begin(), row.controls.end(),
                         [&](ControlId radio) { return controls.IsChecked(radio); });
        if (checked != row.controls.end()) {
          row.Set(settings, static_cast<int>(checked - row.controls.begin()));
        }
        break;
      }
      case SettingControl::kNumberEdit:
        row.Set(settings, ReadNumber(controls.Text(id)));
        break;
      case SettingControl::kCheckBox:
        row.Set(settings, controls.IsChecked(id) ? 1 : 0);
        break;
      case SettingControl::kSlider:
        ConfigureSlider(controls, row);
        row.Set(settings, controls.SliderPosition(id));
        break;
      case SettingControl::kComboBox:
        row.Set(settings, controls.ComboSelection(id));
        break;
    }
  }
  settings.CustomName = controls.Text(kCustomNameEdit);
}

void SettingsToControls(Controls& controls, const ConversionSettings& settings) {
  controls.SetText(kOutputFolderEdit, settings.OutputFolder);
  for (const SettingRow& row : SettingRows()) {
    const int value = row.Get(settings);
    const ControlId id = row.controls.front();
    switch (row.control) {
      case SettingControl::kRadioGroup:
        // Only checks: a value without a button checks none.
        if (value >= 0 && static_cast<std::size_t>(value) < row.controls.size()) {
          controls.SetChecked(row.controls[static_cast<std::size_t>(value)], true);
        }
        break;
      case SettingControl::kNumberEdit:
        controls.SetText(id, std::to_string(value));
        break;
      case SettingControl::kCheckBox:
        if (value == 1) controls.SetChecked(id, true);
        break;
      case SettingControl::kSlider:
        ConfigureSlider(controls, row);
        controls.SetSliderPosition(id, value, true);
        controls.SetText(row.controls.back(), std::to_string(value));
        break;
      case SettingControl::kComboBox:
        controls.SetComboSelection(id, value);
        break;
    }
  }
  controls.SetText(kCustomNameEdit, settings.CustomName);
}

void ValidateSettings(Controls& controls, ConversionSettings& settings) {
  for (const SettingRow& row : SettingRows()) {
    if (!row.InRange(row.Get(settings))) row.Set(settings, row.fallback);
  }
  controls.SetText(kOutputFolderEdit, settings.OutputFolder);
}

}  // namespace engine
