// Reading the form into the settings record, writing it back, and repairing bad values.
#include <gtest/gtest.h>

#include <array>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/Session.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;

class ConversionSettingsTest : public testsupport::FormFixture {};

TEST_F(ConversionSettingsTest, ValidationRepairsEachFieldOutsideItsRangeAlone) {
  using Record = ConversionSettings;
  struct Field {
    int Record::*member;
    int minimum, maximum, fallback;
  };
  const Field fields[] = {{&Record::OutputFormatIndex, 0, 3, 0}, {&Record::SizeMode, 0, 2, 0},
                          {&Record::Width, 1, 2000, 320},        {&Record::Height, 1, 2000, 240},
                          {&Record::BmpDepthIndex, 0, 3, 0},     {&Record::Compression, 0, 100, 20},
                          {&Record::ColorEffectIndex, 0, 8, 0},  {&Record::RotationIndex, 0, 71, 0},
                          {&Record::NamingScheme, 0, 2, 0},      {&Record::CropX, 0, 2000, 0},
                          {&Record::CropY, 0, 2000, 0},          {&Record::CropWidth, 0, 2000, 100},
                          {&Record::CropHeight, 0, 2000, 100},   {&Record::CropEnabled, 0, 1, 0}};
  // Every field at once below its range, above it, at its lowest and at its highest: a repair
  // that reached the wrong field would leave its own field bad or move a good one.
  for (int pass = 0; pass < 4; ++pass) {
    for (const Field& field : fields) {
      Session().Settings.*field.member =
          std::array{field.minimum - 1, field.maximum + 1, field.minimum,
                     field.maximum}[static_cast<std::size_t>(pass)];
    }
    Session().Settings.PngInterlace = pass < 2 ? 2 : 1;
    ValidateSettings(controls, Session().Settings);
    for (const Field& field : fields) {
      EXPECT_EQ(Session().Settings.*field.member,
                pass < 2 ? field.fallback : (pass == 2 ? field.minimum : field.maximum))
          << "pass " << pass << ", field " << &field - fields;
    }
    EXPECT_EQ(Session().Settings.PngInterlace, pass < 2 ? 0 : 1);
  }
}

TEST_F(ConversionSettingsTest, WritingOnlyChecksAndReadingTakesTheFirstCheckedButton) {
  // Every field's round trip is checked through the settings file; here what a plain copy would
  // get wrong.
  Session().Settings.OutputFormatIndex = 5;  // not yet validated: checks no format button
  Session().Settings.SizeMode = 2;
  Session().Settings.BmpDepthIndex = -1;
  controls.SetChecked(kSizeKeepRadio, true);
  SettingsToControls(controls, Session().Settings);
  EXPECT_TRUE(controls.IsChecked(kSizeCustomRadio));
  SettingsFromControls(controls, Session().Settings);
  EXPECT_EQ(Session().Settings.OutputFormatIndex, 5) << "no format button checked keeps the value";
  EXPECT_EQ(Session().Settings.SizeMode, 0)
      << "nothing was unchecked, and the first checked button wins";
  EXPECT_EQ(Session().Settings.BmpDepthIndex, -1) << "a combo box without a selection reads -1";
}

TEST(ReadNumberTest, ReadsLikeAtol) {
  std::string read;
  for (const char* text : {"", "abc", " \t+15x", "-2147483648", "-99999999999999"})
    read += std::to_string(ReadNumber(text)) + " ";
  EXPECT_EQ(read, "0 0 15 -2147483648 -2147483648 ");
  EXPECT_EQ(ReadNumberInRange("2147483647"), INT32_MAX);
  EXPECT_EQ(ReadNumberInRange("2147483648"), std::nullopt);
  EXPECT_EQ(ReadNumberInRange("--1"), 0);
}

}  // namespace
