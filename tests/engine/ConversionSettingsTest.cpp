// Reading the form into the settings record, writing it back, and repairing bad values.
#include <gtest/gtest.h>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/ProcessState.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;

class ConversionSettingsTest : public testsupport::FormFixture {
 protected:
  ConversionSettingsTest() { FillComboBoxes(); }
};

TEST_F(ConversionSettingsTest, ValidationRepairsEachFieldOnItsOwn) {
  struct Case {
    const char* field;
    int ConversionSettings::*member;
    int bad;
    int fallback;
    int goodEdge;
  };
  const Case cases[] = {
      {"OutputFormatIndex", &ConversionSettings::OutputFormatIndex, 4, 0, 3},
      {"SizeMode", &ConversionSettings::SizeMode, -1, 0, 2},
      {"Width", &ConversionSettings::Width, 2001, 320, 2000},
      {"Width", &ConversionSettings::Width, 0, 320, 1},
      {"Height", &ConversionSettings::Height, 0, 240, 1},
      {"Height", &ConversionSettings::Height, 2001, 240, 2000},
      {"BmpDepthIndex", &ConversionSettings::BmpDepthIndex, 7, 0, 3},
      {"BmpDepthIndex", &ConversionSettings::BmpDepthIndex, -1, 0, 0},
      {"Compression", &ConversionSettings::Compression, 101, 20, 100},
      {"Compression", &ConversionSettings::Compression, -1, 20, 0},
      {"ColorEffectIndex", &ConversionSettings::ColorEffectIndex, 9, 0, 8},
      {"RotationIndex", &ConversionSettings::RotationIndex, 72, 0, 71},
      {"NamingScheme", &ConversionSettings::NamingScheme, 3, 0, 2},
      {"CropX", &ConversionSettings::CropX, 2001, 0, 2000},
      {"CropY", &ConversionSettings::CropY, -1, 0, 0},
      {"CropWidth", &ConversionSettings::CropWidth, -1, 100, 0},
      {"CropWidth", &ConversionSettings::CropWidth, 2001, 100, 2000},
      {"CropHeight", &ConversionSettings::CropHeight, 2001, 100, 0},
      {"CropEnabled", &ConversionSettings::CropEnabled, 2, 0, 1},
  };
  for (const Case& testCase : cases) {
    ResetProcessState();
    Settings().*testCase.member = testCase.bad;
    Settings().Compression =
        testCase.member == &ConversionSettings::Compression ? testCase.bad : 55;
    ValidateSettings(controls);
    EXPECT_EQ(Settings().*testCase.member, testCase.fallback)
        << testCase.field << " " << testCase.bad;
    if (testCase.member != &ConversionSettings::Compression) {
      EXPECT_EQ(Settings().Compression, 55) << "a repair touches only its own field";
    }
    Settings().*testCase.member = testCase.goodEdge;
    ValidateSettings(controls);
    EXPECT_EQ(Settings().*testCase.member, testCase.goodEdge) << testCase.field;
  }
  Settings().PngInterlace = 2;
  ValidateSettings(controls);
  EXPECT_EQ(Settings().PngInterlace, 0);
}

TEST_F(ConversionSettingsTest, ReadingControlsFollowsTheirRules) {
  Settings().OutputFormatIndex = 2;
  Settings().NamingScheme = 2;
  controls.SetText(kWidthEdit, "");
  controls.SetText(kHeightEdit, "12px");
  controls.SetText(kCropXEdit, "  -7");
  controls.SetText(kCropYEdit, "99999999999");
  controls.SetText(kCustomNameEdit, "  名前 x");
  controls.SetSliderPosition(kCompressionSlider, 35, true);
  controls.SetChecked(kJpegProgressiveCheck, true);
  controls.SetComboSelection(kRotationCombo, 71);
  SettingsFromControls(controls);

  const ConversionSettings& settings = Settings();
  EXPECT_EQ(settings.OutputFormatIndex, 2) << "no radio checked keeps the value";
  EXPECT_EQ(settings.NamingScheme, 2);
  EXPECT_EQ(settings.Width, 0) << "an empty edit reads 0";
  EXPECT_EQ(settings.Height, 12);
  EXPECT_EQ(settings.CropX, -7);
  EXPECT_EQ(settings.CropY, INT32_MAX) << "digits beyond 32 bits saturate";
  EXPECT_EQ(settings.CustomName, "  名前 x");
  EXPECT_EQ(settings.Compression, 35);
  EXPECT_EQ(settings.JpegProgressive, 1);
  EXPECT_EQ(settings.RotationIndex, 71);
  EXPECT_EQ(settings.BmpDepthIndex, -1) << "a combo box without a selection reads -1";
  EXPECT_EQ(controls.SliderTickFrequency(kCompressionSlider), 1);
  EXPECT_EQ(controls.SliderPageSize(kCompressionSlider), 5);

  controls.SetChecked(kFormatJpegRadio, true);
  controls.SetChecked(kFormatHtmRadio, true);
  SettingsFromControls(controls);
  EXPECT_EQ(Settings().OutputFormatIndex, 1) << "the first checked button wins";
  ValidateSettings(controls);
  EXPECT_EQ(Settings().Width, 320) << "an empty width box validates to 320";
}

TEST_F(ConversionSettingsTest, WritingControlsOnlyChecksButtons) {
  // Writing every field to its control is checked through the settings file; here only what a
  // plain write would get wrong.
  ConversionSettings& settings = Settings();
  settings.OutputFormatIndex = 5;  // not yet validated: checks no format button
  settings.SizeMode = 2;
  settings.BmpDepthIndex = 3;
  settings.ColorEffectIndex = 8;
  controls.SetChecked(kSizeKeepRadio, true);
  SettingsToControls(controls);
  for (ControlId id : {kFormatBmpRadio, kFormatJpegRadio, kFormatPngRadio, kFormatHtmRadio}) {
    EXPECT_FALSE(controls.IsChecked(id)) << id;
  }
  EXPECT_TRUE(controls.IsChecked(kSizeCustomRadio));
  EXPECT_TRUE(controls.IsChecked(kSizeKeepRadio)) << "nothing is unchecked";
  EXPECT_EQ(controls.Text(kBmpDepthCombo), "８ビットカラー+RLE圧縮");
  EXPECT_EQ(controls.Text(kColorEffectCombo), "青っぽく");
}

TEST(ReadNumberTest, ReadsLikeAtol) {
  EXPECT_EQ(ReadNumber(""), 0);
  EXPECT_EQ(ReadNumber("abc"), 0);
  EXPECT_EQ(ReadNumber(" \t+15x"), 15);
  EXPECT_EQ(ReadNumber("-2147483648"), INT32_MIN);
  EXPECT_EQ(ReadNumber("-99999999999999999999999"), INT32_MIN);
  EXPECT_EQ(ReadNumberInRange("2147483647"), INT32_MAX);
  EXPECT_EQ(ReadNumberInRange("2147483648"), std::nullopt);
  EXPECT_EQ(ReadNumberInRange("--1"), 0);
}

}  // namespace
