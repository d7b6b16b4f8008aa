#include "tests/app/QtTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <memory>

#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "tests/support/TestSupport.h"

namespace apptest {
namespace {

// One QApplication on the offscreen platform for every test, with the application's own settings
// (the recent-file list) kept in a temporary folder.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    configFolder_ = std::make_unique<testsupport::TempFolder>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configFolder_->Path()));
    application_ = std::make_unique<QApplication>(argumentCount_, arguments_);
  }
  void TearDown() override {
    application_.reset();
    configFolder_.reset();
  }

 private:
  int argumentCount_ = 1;
  char name_[10] = "app_tests";
  char* arguments_[2] = {name_, nullptr};
  std::unique_ptr<testsupport::TempFolder> configFolder_;
  std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

MessageBoxCatcher::MessageBoxCatcher() {
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    shown.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
                     box->standardButtons()});
    box->button(QMessageBox::Ok) != nullptr ? box->button(QMessageBox::Ok)->click() : box->reject();
  });
  timer_.start(1);
}

std::vector<std::string> MessageBoxCatcher::Texts() const {
  std::vector<std::string> texts;
  for (const Shown& box : shown) texts.push_back(box.text);
  return texts;
}

void SaveImage(const imaging::Bitmap& bitmap, const std::string& path) {
  const imaging::ImageHandle handle = imaging::RegisterBitmap(bitmap);
  if (path.ends_with(".png")) {
    imaging::SavePng(path, handle, 0);
  } else {
    imaging::SaveBmp(path, handle);
  }
  imaging::FreeImage(handle);
}

}  // namespace apptest
