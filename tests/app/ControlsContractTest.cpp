// One contract for both backends of Controls and Shell, so the headless one the form's tests use
// cannot drift from the Qt widgets. The QApplication of the whole test program is set up here.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/QtControls.h"
#include "app/QtShell.h"
#include "engine/ControlIds.h"
#include "form/ControlTable.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;

// The offscreen platform, with the application's own settings (the recent-file list) kept in a
// temporary folder.
class QtEnvironment : public ::testing::Environment {
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configFolder_.Path()));
    application_ = std::make_unique<QApplication>(argumentCount_, arguments_);
  }
  void TearDown() override { application_.reset(); }
  testsupport::TempFolder configFolder_;
  int argumentCount_ = 1;
  char name_[10] = "app_tests";
  char* arguments_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};
[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct HeadlessBackend {
  platform::HeadlessControls controls{form::MainFormControls()};
  platform::HeadlessShell shell;
  int Progress() const { return controls.ProgressPosition(kProgressBar); }
  bool WaitCursorShown() const { return shell.waitCursor; }
};

struct QtBackend {
  QWidget form;
  app::QtControls controls{&form, form::MainFormControls(), app::DialogFont()};
  app::QtShell shell{&form};
  int Progress() const { return controls.Widget(kProgressBar)->property("value").toInt(); }
  bool WaitCursorShown() const { return QApplication::overrideCursor() != nullptr; }
};

template <typename Backend>
struct ControlsContract : ::testing::Test {
  Backend backend;
};
using Backends = ::testing::Types<HeadlessBackend, QtBackend>;
TYPED_TEST_SUITE(ControlsContract, Backends);

TYPED_TEST(ControlsContract, BothBackendsBehaveAlike) {
  platform::Controls& controls = this->backend.controls;
  // Checking by program leaves the rest of the group alone; only a click unchecks it.
  controls.SetChecked(kFormatBmpRadio, true);
  controls.SetChecked(kFormatJpegRadio, true);
  controls.SetChecked(kFormatJpegRadio, false);
  EXPECT_TRUE(controls.IsChecked(kFormatBmpRadio) && !controls.IsChecked(kFormatJpegRadio));

  controls.AppendComboEntry(kBmpDepthCombo, "２４ビットカラー");
  controls.AppendComboEntry(kBmpDepthCombo, "１６ビットカラー");
  EXPECT_EQ(controls.ComboSelection(kBmpDepthCombo), -1) << "appending selects nothing";
  controls.SetComboSelection(kBmpDepthCombo, 1);
  EXPECT_EQ(controls.Text(kBmpDepthCombo), "１６ビットカラー");
  controls.SetComboSelection(kBmpDepthCombo, 2);  // outside the entries: none selected
  EXPECT_EQ(controls.Text(kBmpDepthCombo), "");

  // The last name is not UTF-8, yet it comes back byte for byte.
  for (auto path : {"/a", "/b", "/tmp/\xff\xfe.bmp"}) controls.AppendListEntry(kInputList, path);
  controls.SetListSelection(kInputList, 1);
  controls.DeleteListEntry(kInputList, 0);
  EXPECT_EQ(controls.ListSelection(kInputList), 0) << "the selection follows its entry";
  controls.DeleteListEntry(kInputList, 0);
  EXPECT_EQ(controls.ListSelection(kInputList), -1) << "the selected entry went";
  EXPECT_EQ(controls.ListEntry(kInputList, 0), "/tmp/\xff\xfe.bmp");
  controls.SetListSelection(kInputList, 0);
  controls.SetListSelection(kInputList, 1);  // outside the list selects none
  EXPECT_EQ(controls.ListSelection(kInputList), -1);

  controls.SetProgressPosition(kProgressBar, 50);
  controls.SetProgressRange(kProgressBar, 0, 3);
  EXPECT_EQ(this->backend.Progress(), 3) << "a smaller range pulls the position in";
  controls.SetProgressStep(kProgressBar, 2);
  controls.StepProgress(kProgressBar);
  EXPECT_EQ(this->backend.Progress(), 2) << "a step past the end starts over";
  controls.SetProgressPosition(kProgressBar, -4);
  EXPECT_EQ(this->backend.Progress(), 0);

  platform::Shell& shell = this->backend.shell;
  shell.SetWaitCursor(true);
  shell.SetWaitCursor(true);
  EXPECT_TRUE(this->backend.WaitCursorShown());
  shell.SetWaitCursor(false);
  EXPECT_FALSE(this->backend.WaitCursorShown()) << "one switch off ends two switches on";
}

}  // namespace
