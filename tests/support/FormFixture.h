// A headless main form over a fresh process state, with the executable's folder in a temporary
// folder, for tests of the engine, the settings file and the form.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "form/MainForm.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

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
