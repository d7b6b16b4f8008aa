// A headless main form over a fresh process state, with the executable's folder in a temporary
// folder, for tests of the engine, the settings file and the form.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "form/MainForm.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

// The lines of a valid settings file, with values away from the reset ones and mostly distinct,
// so that a swapped field shows.
// clang-format off
inline const std::vector<std::string> kValidSettingsLines = {
    "TessellarionVer102", "/photos/out dir/", "2", "2", "800", "600", "3", "1", "0", "35", "4",
    "71", "1", "10", "20", "30", "40", "2", "holiday"};
// clang-format on

class FormFixture : public ::testing::Test {
 protected:
  FormFixture();
  ~FormFixture() override;

  // Fills the three combo boxes with their entries, as the form's start does.
  void FillComboBoxes();
  // Writes a bitmap through the imaging library as BMP, JPEG or PNG into the temporary folder.
  std::string SaveImage(const imaging::Bitmap& bitmap, const std::string& name);

  TempFolder folder;
  platform::HeadlessControls controls;
  platform::HeadlessShell shell;
  std::unique_ptr<form::MainForm> form;
};

}  // namespace testsupport
