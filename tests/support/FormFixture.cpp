#include "tests/support/FormFixture.h"

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "imaging/HandleTable.h"

namespace testsupport {

FormFixture::FormFixture() : controls(form::MainFormControls()) {
  engine::ResetProcessState();
  imaging::ResetHandleTable();
  engine::Job().ExecutableFolder = folder.Path();
  form = std::make_unique<form::MainForm>(controls, shell, folder.Path());
}

FormFixture::~FormFixture() {
  form.reset();
  EXPECT_EQ(imaging::LiveImageCount(), 0u) << "an image was not released";
}

void FormFixture::FillComboBoxes() {
  for (const char* entry : engine::kBmpDepthEntries) {
    controls.AppendComboEntry(engine::kBmpDepthCombo, entry);
  }
  for (int index = 0; index < engine::kRotationEntryCount; ++index) {
    controls.AppendComboEntry(engine::kRotationCombo, engine::RotationEntry(index));
  }
  for (const char* entry : engine::kColorEffectEntries) {
    controls.AppendComboEntry(engine::kColorEffectCombo, entry);
  }
}

std::string FormFixture::SaveImage(const imaging::Bitmap& bitmap, const std::string& name) {
  return SaveImageFile(bitmap, folder.File(name));
}

}  // namespace testsupport
