// The persisted choices of the main form, one row each: the record's field, the control that
// shows it, its line in the settings file, its range and fallback, and the command line's option.
// Reading the form, showing the record, repairing, resetting, the settings file and the command
// line all work from these rows.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/Session.h"

namespace engine {

// How a setting is shown on the form.
enum class SettingControl {
  kRadioGroup,  // the buttons in index order; the value is the index of the checked one
  kNumberEdit,  // an edit box holding the number as text
  kCheckBox,    // checked for 1
  kSlider,      // the slider's position, echoed as text in the second control
  kComboBox,    // the selected entry's index
};

struct SettingRow {
  std::string_view name;  // the record's field
  // The field: a number, or a switch, which any non-zero number in the file turns on.
  int ConversionSettings::*number;
  std::uint8_t ConversionSettings::*flag;
  SettingControl control;
  std::span<const ControlId> controls;
  int minimum;
  int maximum;
  int fallback;             // what a value outside the range becomes, and what a reset puts back
  bool reset;               // a reset of the settings file puts the fallback back
  std::string_view option;  // the command line's option that sets it, empty for none

  int Get(const ConversionSettings& settings) const {
    return number != nullptr ? settings.*number : settings.*flag;
  }
  void Set(ConversionSettings& settings, int value) const {
    if (number != nullptr) {
      settings.*number = value;
    } else {
      settings.*flag = static_cast<std::uint8_t>(value);
    }
  }
  bool InRange(long long value) const { return value >= minimum && value <= maximum; }
};

// Every numeric setting, in the order of its line in the settings file (after the header and the
// output folder; the custom name follows them).
std::span<const SettingRow> SettingRows();

// The row of a field; every numeric field has one.
const SettingRow& SettingRowOf(int ConversionSettings::*field);
const SettingRow& SettingRowOf(std::uint8_t ConversionSettings::*field);

// The rows a command-line option sets, in file order.
std::vector<const SettingRow*> SettingRowsOfOption(std::string_view option);

}  // namespace engine
