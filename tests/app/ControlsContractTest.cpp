// One contract for both backends of Controls and Shell: every test runs on the headless backend
// and on the Qt widgets, so the two cannot drift apart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QWidget>

#include "app/DialogUnits.h"
#include "app/QtControls.h"
#include "app/QtShell.h"
#include "engine/ControlIds.h"
#include "form/ControlTable.h"
#include "platform/Headless.h"
#include "tests/app/QtTestSupport.h"

namespace {

using namespace engine;

struct HeadlessBackend {
  platform::HeadlessControls controls{form::MainFormControls()};
  platform::HeadlessShell shell;

  int ProgressPosition() const { return controls.ProgressPosition(kProgressBar); }
  bool WaitCursorShown() const { return shell.waitCursor; }
  template <typename Show>
  std::vector<std::string> MessagesOf(Show show) {
    shell.messages.clear();
    show();
    return shell.messages;
  }
};

struct QtBackend {
  QWidget form;
  app::QtControls controls{&form, form::MainFormControls(), app::DialogFont()};
  app::QtShell shell{&form};

  int ProgressPosition() const {
    return static_cast<QProgressBar*>(controls.Widget(kProgressBar))->value();
  }
  bool WaitCursorShown() const {
    return QApplication::overrideCursor() != nullptr &&
           QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  }
  template <typename Show>
  std::vector<std::string> MessagesOf(Show show) {
    apptest::MessageBoxCatcher catcher;
    show();
    for (const auto& box : catcher.shown) {
      EXPECT_EQ(box.caption, "Tessellarion");
      EXPECT_EQ(box.icon, QMessageBox::Warning);
      EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    return catcher.Texts();
  }
};

template <typename Backend>
class ControlsContract : public ::testing::Test {
 protected:
  platform::Controls& Controls() { return backend.controls; }
  platform::Shell& Shell() { return backend.shell; }

  Backend backend;
};

using Backends = ::testing::Types<HeadlessBackend, QtBackend>;
TYPED_TEST_SUITE(ControlsContract, Backends);

TYPED_TEST(ControlsContract, CheckStateBelongsToEachButtonAlone) {
  auto& controls = this->Controls();
  // Checking by program does not uncheck the rest of the group; only a click does.
  controls.SetChecked(kFormatBmpRadio, true);
  controls.SetChecked(kFormatJpegRadio, true);
  EXPECT_TRUE(controls.IsChecked(kFormatBmpRadio));
  EXPECT_TRUE(controls.IsChecked(kFormatJpegRadio));
  controls.SetChecked(kFormatBmpRadio, false);
  EXPECT_FALSE(controls.IsChecked(kFormatBmpRadio));
  EXPECT_FALSE(controls.IsChecked(4711));
}

TYPED_TEST(ControlsContract, TextIsTheCaptionOrTheContent) {
  auto& controls = this->Controls();
  EXPECT_EQ(controls.Text(kExecuteButton), "実行");
  controls.SetText(kCustomNameEdit, "写真_");
  EXPECT_EQ(controls.Text(kCustomNameEdit), "写真_");
  controls.SetText(4711, "nowhere");
  EXPECT_EQ(controls.Text(4711), "");
}

TYPED_TEST(ControlsContract, ComboSelectionIsAnEntryOrNone) {
  auto& controls = this->Controls();
  for (const char* entry : {"２４ビットカラー", "１６ビットカラー", "８ビットカラー"}) {
    controls.AppendComboEntry(kBmpDepthCombo, entry);
  }
  EXPECT_EQ(controls.ComboCount(kBmpDepthCombo), 3);
  EXPECT_EQ(controls.ComboSelection(kBmpDepthCombo), -1) << "appending selects nothing";
  EXPECT_EQ(controls.Text(kBmpDepthCombo), "");
  controls.SetComboSelection(kBmpDepthCombo, 1);
  EXPECT_EQ(controls.Text(kBmpDepthCombo), "１６ビットカラー");
  for (int outside : {3, -2}) {
    controls.SetComboSelection(kBmpDepthCombo, 1);
    controls.SetComboSelection(kBmpDepthCombo, outside);
    EXPECT_EQ(controls.ComboSelection(kBmpDepthCombo), -1) << outside;
    EXPECT_EQ(controls.Text(kBmpDepthCombo), "") << outside;
  }
  EXPECT_EQ(controls.ComboCount(kRotationCombo), 0) << "each combo box has its own entries";
}

TYPED_TEST(ControlsContract, ListSelectionFollowsItsEntry) {
  auto& controls = this->Controls();
  // A path that is not valid UTF-8 must come back byte for byte.
  const std::string oddPath = "/tmp/\xff\xfe.bmp";
  for (const std::string& path : {std::string("/a.bmp"), std::string("/b.png"), oddPath}) {
    controls.AppendListEntry(kInputList, path);
  }
  EXPECT_EQ(controls.ListEntry(kInputList, 3), "");
  EXPECT_EQ(controls.ListSelection(kInputList), -1);

  controls.SetListSelection(kInputList, 1);
  controls.DeleteListEntry(kInputList, 0);
  EXPECT_EQ(controls.ListSelection(kInputList), 0) << "still /b.png";
  controls.DeleteListEntry(kInputList, 5);  // outside the list: nothing happens
  EXPECT_EQ(controls.ListCount(kInputList), 2);
  controls.DeleteListEntry(kInputList, 0);
  EXPECT_EQ(controls.ListSelection(kInputList), -1) << "the selected entry went";
  EXPECT_EQ(controls.ListEntry(kInputList, 0), oddPath);

  controls.SetListSelection(kInputList, 0);
  controls.SetListSelection(kInputList, 1);  // outside the list selects none
  EXPECT_EQ(controls.ListSelection(kInputList), -1);
}

TYPED_TEST(ControlsContract, SliderPositionStaysInItsRange) {
  auto& controls = this->Controls();
  controls.SetSliderPosition(kCompressionSlider, 100, true);
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 100) << "the range starts as 0..100";
  controls.SetSliderRange(kCompressionSlider, 0, 50, false);
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 50);
  controls.SetSliderPosition(kCompressionSlider, -5, true);
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 0);
}

TYPED_TEST(ControlsContract, ProgressClampsStepsAndWraps) {
  auto& controls = this->Controls();
  controls.SetProgressPosition(kProgressBar, 150);
  EXPECT_EQ(this->backend.ProgressPosition(), 100) << "the range starts as 0..100";
  controls.SetProgressRange(kProgressBar, 0, 3);
  EXPECT_EQ(this->backend.ProgressPosition(), 3) << "a smaller range pulls the position in";
  controls.SetProgressPosition(kProgressBar, 0);
  controls.SetProgressStep(kProgressBar, 1);
  for (int step = 0; step < 3; ++step) controls.StepProgress(kProgressBar);
  EXPECT_EQ(this->backend.ProgressPosition(), 3);
  controls.StepProgress(kProgressBar);
  EXPECT_EQ(this->backend.ProgressPosition(), 1) << "past the end starts over";
  controls.SetProgressStep(kProgressBar, 2);
  controls.StepProgress(kProgressBar);
  controls.StepProgress(kProgressBar);
  EXPECT_EQ(this->backend.ProgressPosition(), 2);
  controls.SetProgressPosition(kProgressBar, -4);
  EXPECT_EQ(this->backend.ProgressPosition(), 0);
}

TYPED_TEST(ControlsContract, WaitCursorStaysBalancedAndMessagesComeInOrder) {
  this->Shell().SetWaitCursor(true);
  this->Shell().SetWaitCursor(true);
  EXPECT_TRUE(this->backend.WaitCursorShown());
  this->Shell().SetWaitCursor(false);
  EXPECT_FALSE(this->backend.WaitCursorShown()) << "one switch off ends two switches on";

  const std::vector<std::string> messages = this->backend.MessagesOf([this] {
    this->Shell().ShowMessage("GIFです!!この形式は変換できません!!");
    this->Shell().ShowMessage("変換完了！！");
  });
  EXPECT_EQ(messages,
            (std::vector<std::string>{"GIFです!!この形式は変換できません!!", "変換完了！！"}));
}

}  // namespace
