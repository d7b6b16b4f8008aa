// What the tests of the Qt application share: an offscreen QApplication for the whole test
// program, and a catcher that records and closes the message boxes a handler opens.
#pragma once

#include <QMessageBox>
#include <QTimer>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"

namespace apptest {

// Records every message box that opens while it exists and presses its OK button.
class MessageBoxCatcher {
 public:
  struct Shown {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
  };

  MessageBoxCatcher();
  std::vector<std::string> Texts() const;

  std::vector<Shown> shown;

 private:
  QTimer timer_;
};

// Writes a bitmap as BMP or PNG (by the name's extension) through the imaging library.
void SaveImage(const imaging::Bitmap& bitmap, const std::string& path);

}  // namespace apptest
