// Copying the persisted choices between the main form's controls and a ConversionSettings record,
// and repairing values outside their ranges.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/Session.h"
#include "platform/Controls.h"

namespace engine {

// Reads every persisted control into `settings`. A radio group with nothing checked leaves its
// field as it was; a combo box without a selection gives −1. OutputFolder is not read from any
// control.
void SettingsFromControls(platform::Controls& controls, ConversionSettings& settings);

// Writes `settings` into the controls. Only ever checks buttons; it unchecks nothing.
void SettingsToControls(platform::Controls& controls, const ConversionSettings& settings);

// Replaces every field of `settings` outside its range by its fallback, then shows OutputFolder in
// its edit box.
void ValidateSettings(platform::Controls& controls, ConversionSettings& settings);

// A number typed into an edit box, read like the standard atol: leading white space, an optional
// sign and the digits up to the first other character; no digits give 0. Values beyond 32 bits
// saturate at the nearest 32-bit limit.
std::int32_t ReadNumber(std::string_view text);

// The same reading, but nothing when the digits form a number outside the signed 32-bit range.
std::optional<std::int32_t> ReadNumberInRange(std::string_view text);

// The texts of the three combo boxes, in list order.
inline constexpr const char* kBmpDepthEntries[] = {"２４ビットカラー", "１６ビットカラー",
                                                   "８ビットカラー", "８ビットカラー+RLE圧縮"};
inline constexpr const char* kColorEffectEntries[] = {
    "そのまま",     "グレースケール", "セピア調", "ネガポジ反転", "くっきり画像",
    "ぼんやり画像", "赤っぽく",       "緑っぽく", "青っぽく"};
inline constexpr int kRotationEntryCount = 72;
inline constexpr int kDegreesPerRotationStep = 5;
// The text of rotation entry k: "そのまま" for 0, else 5 × k followed by "°回転".
std::string RotationEntry(int index);

}  // namespace engine
