#include "engine/SettingRows.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "engine/ConversionSettings.h"
#include "engine/FileFormats.h"

namespace engine {
namespace {

using Record = ConversionSettings;

constexpr ControlId kSizeRadios[] = {kSizeKeepRadio, kSize640Radio, kSizeCustomRadio};
constexpr ControlId kNamingRadios[] = {kNamingKeepRadio, kNamingNumberRadio, kNamingCustomRadio};
constexpr ControlId kWidth[] = {kWidthEdit};
constexpr ControlId kHeight[] = {kHeightEdit};
constexpr ControlId kBmpDepth[] = {kBmpDepthCombo};
constexpr ControlId kInterlace[] = {kPngInterlaceCheck};
constexpr ControlId kProgressive[] = {kJpegProgressiveCheck};
constexpr ControlId kCompression[] = {kCompressionSlider, kCompressionEdit};
constexpr ControlId kColorEffect[] = {kColorEffectCombo};
constexpr ControlId kRotation[] = {kRotationCombo};
constexpr ControlId kCrop[] = {kCropCheck};
constexpr ControlId kCropX[] = {kCropXEdit};
constexpr ControlId kCropY[] = {kCropYEdit};
constexpr ControlId kCropWidth[] = {kCropWidthEdit};
constexpr ControlId kCropHeight[] = {kCropHeightEdit};

constexpr int LastIndex(std::size_t count) { return static_cast<int>(count) - 1; }

// The format buttons in the order of OutputFormatIndex.
std::vector<ControlId> FormatRadios() {
  std::vector<ControlId> radios(OutputFormats().size());
  for (const OutputFormat& format : OutputFormats()) {
    radios.at(static_cast<std::size_t>(format.settingsIndex)) = format.radio;
  }
  return radios;
}

const std::vector<SettingRow>& Rows() {
  using enum SettingControl;
  static const std::vector<ControlId> formatRadios = FormatRadios();
  static const std::vector<SettingRow> rows = {
      {"OutputFormatIndex", &Record::OutputFormatIndex, nullptr, kRadioGroup, formatRadios, 0,
       LastIndex(formatRadios.size()), 0, true, "format"},
      {"SizeMode", &Record::SizeMode, nullptr, kRadioGroup, kSizeRadios, 0,
       LastIndex(std::size(kSizeRadios)), 0, true, "size"},
      {"Width", &Record::Width, nullptr, kNumberEdit, kWidth, 1, kMaxSide, kDefaultWidth, true,
       "size"},
      {"Height", &Record::Height, nullptr, kNumberEdit, kHeight, 1, kMaxSide, kDefaultHeight, true,
       "size"},
      {"BmpDepthIndex", &Record::BmpDepthIndex, nullptr, kComboBox, kBmpDepth, 0,
       LastIndex(std::size(kBmpDepthEntries)), 0, true, "bmp-depth"},
      {"PngInterlace", nullptr, &Record::PngInterlace, kCheckBox, kInterlace, 0, 1, 0, true,
       "interlace"},
      {"JpegProgressive", nullptr, &Record::JpegProgressive, kCheckBox, kProgressive, 0, 1, 0, true,
       "progressive"},
      {"Compression", &Record::Compression, nullptr, kSlider, kCompression, 0, 100,
       kDefaultCompression, true, "quality"},
      {"ColorEffectIndex", &Record::ColorEffectIndex, nullptr, kComboBox, kColorEffect, 0,
       LastIndex(std::size(kColorEffectEntries)), 0, false, "effect"},
      {"RotationIndex", &Record::RotationIndex, nullptr, kComboBox, kRotation, 0,
       kRotationEntryCount - 1, 0, false, "rotate"},
      {"CropEnabled", &Record::CropEnabled, nullptr, kCheckBox, kCrop, 0, 1, 0, true, "crop"},
      {"CropX", &Record::CropX, nullptr, kNumberEdit, kCropX, 0, kMaxSide, 0, true, "crop"},
      {"CropY", &Record::CropY, nullptr, kNumberEdit, kCropY, 0, kMaxSide, 0, true, "crop"},
      {"CropWidth", &Record::CropWidth, nullptr, kNumberEdit, kCropWidth, 0, kMaxSide,
       kDefaultCropSide, true, "crop"},
      {"CropHeight", &Record::CropHeight, nullptr, kNumberEdit, kCropHeight, 0, kMaxSide,
       kDefaultCropSide, true, "crop"},
      {"NamingScheme", &Record::NamingScheme, nullptr, kRadioGroup, kNamingRadios, 0,
       LastIndex(std::size(kNamingRadios)), 0, false, "naming"},
  };
  return rows;
}

template <typename Field>
const SettingRow& RowOf(Field field, Field SettingRow::*column) {
  const std::vector<SettingRow>& rows = Rows();
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const SettingRow& entry) { return entry.*column == field; });
  if (row == rows.end()) std::abort();  // a field without a row is a programming error
  return *row;
}

}  // namespace

std::span<const SettingRow> SettingRows() { return Rows(); }

const SettingRow& SettingRowOf(int ConversionSettings::*field) {
  return RowOf(field, &SettingRow::number);
}

const SettingRow& SettingRowOf(std::uint8_t ConversionSettings::*field) {
  return RowOf(field, &SettingRow::flag);
}

std::vector<const SettingRow*> SettingRowsOfOption(std::string_view option) {
  std::vector<const SettingRow*> rows;
  for (const SettingRow& row : Rows()) {
    if (row.option == option) rows.push_back(&row);
  }
  return rows;
}

}  // namespace engine
