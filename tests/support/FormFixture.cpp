#include "tests/support/FormFixture.h"

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"

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
  const std::string path = folder.File(name);
  const imaging::ImageHandle handle = imaging::RegisterBitmap(bitmap);
  const std::string extension = name.substr(name.rfind('.') + 1);
  if (extension == "jpg") {
    imaging::SaveJpeg(path, handle, 95, 0);
  } else if (extension == "png") {
    imaging::SavePng(path, handle, 0);
  } else {
    imaging::SaveBmp(path, handle);
  }
  imaging::FreeImage(handle);
  return path;
}

}  // namespace testsupport
