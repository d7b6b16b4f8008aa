#include "tests/support/FormFixture.h"

#include "form/ControlTable.h"
#include "imaging/HandleTable.h"

namespace testsupport {

FormFixture::FormFixture() : controls(form::MainFormControls()) { Restart(); }

FormFixture::~FormFixture() {
  form.reset();
  EXPECT_EQ(imaging::LiveImageCount(), 0u) << "an image was not released";
}

void FormFixture::Restart() {
  form.reset();
  imaging::ResetHandleTable();
  form = std::make_unique<form::MainForm>(controls, shell, folder.Path());
}

std::string FormFixture::SaveImage(const imaging::Bitmap& bitmap, const std::string& name) {
  return SaveImageFile(bitmap, folder.File(name));
}

}  // namespace testsupport
