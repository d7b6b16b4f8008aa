// Numeric ids of the main form's controls. Every operation addresses controls by these.
#pragma once

#include "platform/Controls.h"

namespace engine {

using platform::ControlId;

inline constexpr ControlId kFormatBmpRadio = 1000;
inline constexpr ControlId kFormatJpegRadio = 1001;
inline constexpr ControlId kFormatPngRadio = 1002;
inline constexpr ControlId kFormatHtmRadio = 1003;
inline constexpr ControlId kOutputFolderEdit = 1005;
inline constexpr ControlId kBrowseFolderButton = 1007;
inline constexpr ControlId kSizeKeepRadio = 1008;
inline constexpr ControlId kSize640Radio = 1009;
inline constexpr ControlId kSizeCustomRadio = 1010;
inline constexpr ControlId kWidthEdit = 1011;
inline constexpr ControlId kHeightEdit = 1012;
inline constexpr ControlId kInputList = 1013;
inline constexpr ControlId kAddFileButton = 1014;
inline constexpr ControlId kDeleteOneButton = 1015;
inline constexpr ControlId kDeleteAllButton = 1016;
inline constexpr ControlId kBeforeSizeEdit = 1017;
inline constexpr ControlId kBeforeWidthEdit = 1018;
inline constexpr ControlId kBeforeHeightEdit = 1019;
inline constexpr ControlId kAfterSizeEdit = 1020;
inline constexpr ControlId kAfterWidthEdit = 1021;
inline constexpr ControlId kAfterHeightEdit = 1022;
inline constexpr ControlId kBmpDepthCombo = 1023;
inline constexpr ControlId kBeforeKindEdit = 1024;
inline constexpr ControlId kAfterKindEdit = 1025;
inline constexpr ControlId kPngInterlaceCheck = 1027;
inline constexpr ControlId kJpegProgressiveCheck = 1028;
inline constexpr ControlId kCompressionSlider = 1029;
inline constexpr ControlId kCropWidthEdit = 1030;
inline constexpr ControlId kExecuteButton = 1031;
inline constexpr ControlId kCompressionEdit = 1032;
inline constexpr ControlId kNamingKeepRadio = 1033;
inline constexpr ControlId kNamingNumberRadio = 1034;
inline constexpr ControlId kNamingCustomRadio = 1035;
inline constexpr ControlId kCustomNameEdit = 1036;
inline constexpr ControlId kTotalSizeButton = 1037;
inline constexpr ControlId kRotationCombo = 1038;
inline constexpr ControlId kColorEffectCombo = 1039;
inline constexpr ControlId kCropXEdit = 1040;
inline constexpr ControlId kCropYEdit = 1041;
inline constexpr ControlId kCropCheck = 1042;
inline constexpr ControlId kCropHeightEdit = 1043;
inline constexpr ControlId kEntryCountEdit = 1045;
inline constexpr ControlId kTotalSizeEdit = 1046;
inline constexpr ControlId kProgressBar = 1047;
inline constexpr ControlId kPreviewButton = 1048;

}  // namespace engine
