#include "form/ControlTable.h"

#include "engine/ControlIds.h"

namespace form {
namespace {

using platform::ControlDefinition;
using platform::ControlKind;
using namespace engine;

constexpr platform::ControlId kLabel = platform::kNoControlId;

ControlDefinition Group(const char* caption, int left, int top, int width, int height) {
  return {
      kLabel, ControlKind::kGroupBox, caption, platform::kStyleNone, {left, top, width, height}};
}

ControlDefinition Label(const char* caption, int left, int top, int width, int height) {
  return {kLabel, ControlKind::kStatic, caption, platform::kStyleNone, {left, top, width, height}};
}

ControlDefinition Control(platform::ControlId id, ControlKind kind, const char* caption,
                          std::uint32_t style, int left, int top, int width, int height) {
  return {id, kind, caption, style, {left, top, width, height}};
}

std::vector<ControlDefinition> BuildTable() {
  using namespace platform;
  constexpr std::uint32_t kInfoRight = kStyleReadOnly | kStyleAlignRight | kStyleBorder;
  constexpr std::uint32_t kInfoCentre = kStyleReadOnly | kStyleAlignCenter | kStyleBorder;
  constexpr std::uint32_t kCentredEdit = kStyleAlignCenter | kStyleBorder;
  return {
      // １．ファイルの設定
      Group("１．ファイルの設定", 3, 1, 249, 150),
      Group("１-１ 入力ファイル", 9, 11, 238, 101),
      Control(kInputList, ControlKind::kListBox, "",
              kStyleBorder | kStyleVerticalScroll | kStyleHorizontalScroll | kStyleAcceptsFiles, 14,
              23, 228, 54),
      Control(kAddFileButton, ControlKind::kPushButton, "ファイルから追加", kStyleNone, 14, 80, 70,
              14),
      Control(kDeleteOneButton, ControlKind::kPushButton, "一つ削除", kStyleNone, 88, 80, 50, 14),
      Control(kDeleteAllButton, ControlKind::kPushButton, "すべて削除", kStyleNone, 142, 80, 50,
              14),
      Control(kTotalSizeButton, ControlKind::kPushButton, "総サイズ計算", kStyleNone, 194, 80, 48,
              14),
      Label("総ファイル数", 14, 99, 44, 8),
      Control(kEntryCountEdit, ControlKind::kEdit, "", kInfoCentre, 60, 97, 30, 12),
      Label("総ファイルサイズ", 98, 99, 58, 8),
      Control(kTotalSizeEdit, ControlKind::kEdit, "", kInfoRight, 158, 97, 62, 12),
      Label("Byte", 223, 99, 18, 8),
      Group("１-２ 出力フォルダ", 9, 115, 238, 31),
      Control(kOutputFolderEdit, ControlKind::kEdit, "", kStyleReadOnly | kStyleBorder, 14, 127,
              190, 13),
      Control(kBrowseFolderButton, ControlKind::kPushButton, "参照", kStyleNone, 208, 126, 34, 15),

      // ファイルサイズ
      Group("ファイルサイズ", 257, 1, 159, 82),
      Label("容量", 262, 16, 18, 8),
      Control(kBeforeSizeEdit, ControlKind::kEdit, "", kInfoRight, 282, 14, 96, 12),
      Label("Byte", 381, 16, 18, 8),
      Control(kBeforeWidthEdit, ControlKind::kEdit, "", kInfoCentre, 262, 30, 38, 12),
      Label("×", 302, 32, 8, 8),
      Control(kBeforeHeightEdit, ControlKind::kEdit, "", kInfoCentre, 311, 30, 38, 12),
      Label("拡張子", 353, 32, 24, 8),
      Control(kBeforeKindEdit, ControlKind::kEdit, "", kInfoCentre, 378, 30, 32, 12),
      Label("↓変換後↓", 312, 45, 50, 8),
      Label("容量", 262, 57, 18, 8),
      Control(kAfterSizeEdit, ControlKind::kEdit, "", kInfoRight, 282, 55, 96, 12),
      Label("Byte", 381, 57, 18, 8),
      Control(kAfterWidthEdit, ControlKind::kEdit, "", kInfoCentre, 262, 69, 38, 12),
      Label("×", 302, 71, 8, 8),
      Control(kAfterHeightEdit, ControlKind::kEdit, "", kInfoCentre, 311, 69, 38, 12),
      Label("拡張子", 353, 71, 24, 8),
      Control(kAfterKindEdit, ControlKind::kEdit, "", kInfoCentre, 378, 69, 32, 12),

      // ２．ファイルの名前
      Group("２．ファイルの名前", 257, 85, 159, 66),
      Control(kNamingKeepRadio, ControlKind::kRadioButton, "そのまま 　※同じファイルは上書き",
              kStyleGroupStart, 260, 96, 154, 10),
      Control(kNamingNumberRadio, ControlKind::kRadioButton,
              "１．２．３．．．と数字だけを順番に付ける", kStyleNone, 260, 108, 154, 10),
      Control(kNamingCustomRadio, ControlKind::kRadioButton,
              "任意　　※任意の文字列に数字を順番に付ける", kStyleNone, 260, 120, 154, 10),
      Control(kCustomNameEdit, ControlKind::kEdit, "", kStyleBorder | kStyleNoAutoScroll, 271, 133,
              86, 12),
      Label("半角20　全角10", 361, 135, 52, 8),

      // ３．拡張子の変換
      Group("３．拡張子の変換", 3, 154, 61, 75),
      Control(kFormatBmpRadio, ControlKind::kRadioButton, "BMPに変換", kStyleGroupStart, 9, 168, 52,
              10),
      Control(kFormatJpegRadio, ControlKind::kRadioButton, "JPGに変換", kStyleNone, 9, 183, 52, 10),
      Control(kFormatPngRadio, ControlKind::kRadioButton, "PNGに変換", kStyleNone, 9, 198, 52, 10),
      Control(kFormatHtmRadio, ControlKind::kRadioButton, "HTMに変換", kStyleNone, 9, 213, 52, 10),

      // ４．サイズ
      Group("４．サイズ", 67, 154, 117, 75),
      Control(kSizeKeepRadio, ControlKind::kRadioButton, "そのまま", kStyleGroupStart, 69, 168, 60,
              10),
      Control(kSize640Radio, ControlKind::kRadioButton, "640×480", kStyleNone, 69, 183, 60, 10),
      Control(kSizeCustomRadio, ControlKind::kRadioButton, "サイズ指定  　※2000×2000まで",
              kStyleNone, 69, 198, 114, 10),
      Control(kWidthEdit, ControlKind::kEdit, "", kCentredEdit, 83, 212, 40, 12),
      Label("×", 126, 214, 8, 8),
      Control(kHeightEdit, ControlKind::kEdit, "", kCentredEdit, 136, 212, 40, 12),

      // ５．主な設定
      Group("５．主な設定", 187, 154, 229, 75),
      Group("BMP限定", 193, 165, 96, 29),
      Control(kBmpDepthCombo, ControlKind::kComboBox, "", kStyleNone, 199, 176, 84, 80),
      Group("PNG限定", 193, 197, 96, 25),
      Control(kPngInterlaceCheck, ControlKind::kCheckBox, "インタレース", kStyleNone, 199, 207, 80,
              10),
      Group("JPG限定", 295, 165, 115, 58),
      Control(kJpegProgressiveCheck, ControlKind::kCheckBox, "プログレッシブ", kStyleNone, 301, 176,
              80, 10),
      Label("画質", 301, 190, 20, 8),
      Label("高", 331, 190, 10, 8),
      Label("低", 392, 190, 10, 8),
      Label("圧縮率", 301, 202, 26, 8),
      Control(kCompressionSlider, ControlKind::kSlider, "", kStyleNoTicks, 328, 199, 76, 12),
      Control(kCompressionEdit, ControlKind::kEdit, "", kInfoRight, 356, 211, 28, 10),
      Label("%", 387, 212, 10, 8),

      // ６．編集
      Group("６．編集", 3, 231, 308, 44),
      Group("色", 7, 239, 72, 30),
      Control(kColorEffectCombo, ControlKind::kComboBox, "", kStyleNone, 12, 251, 62, 100),
      Group("回転", 83, 239, 55, 30),
      Control(kRotationCombo, ControlKind::kComboBox, "", kStyleNone, 88, 251, 45, 100),
      Group("切り抜き", 142, 239, 162, 30),
      Control(kCropCheck, ControlKind::kCheckBox, "", kStyleNone, 147, 253, 10, 10),
      Label("左上Ｘ", 158, 254, 22, 8),
      Control(kCropXEdit, ControlKind::kEdit, "", kCentredEdit, 181, 252, 22, 12),
      Label("左上Ｙ", 205, 254, 22, 8),
      Control(kCropYEdit, ControlKind::kEdit, "", kCentredEdit, 228, 252, 22, 12),
      Control(kCropWidthEdit, ControlKind::kEdit, "", kCentredEdit, 253, 252, 22, 12),
      Label("×", 277, 254, 6, 8),
      Control(kCropHeightEdit, ControlKind::kEdit, "", kCentredEdit, 284, 252, 18, 12),

      // Outside every group.
      Control(kPreviewButton, ControlKind::kPushButton, "画質プレビュー", kStyleNone, 313, 236, 102,
              18),
      Control(kExecuteButton, ControlKind::kPushButton, "実行", kStyleNone, 313, 256, 102, 18),
      Control(kProgressBar, ControlKind::kProgressBar, "", kStyleSmooth, 3, 278, 413, 8),
  };
}

}  // namespace

const std::vector<ControlDefinition>& MainFormControls() {
  static const std::vector<ControlDefinition> table = BuildTable();
  return table;
}

}  // namespace form
