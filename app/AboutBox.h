// The About box: name, version and date of the program, a greeting, and links to the home page
// and the support mail address.
#pragma once

#include <QDialog>

#include "platform/Shell.h"

class QLabel;

namespace app {

// Where the About box's links lead; set when the program is configured.
inline constexpr const char* kHomePage = TESSELLARION_HOME_PAGE;
inline constexpr const char* kMailAddress = TESSELLARION_MAIL;

class AboutBox : public QDialog {
 public:
  // A click on a link asks `shell` to open it; a link that cannot be opened is ignored.
  explicit AboutBox(platform::Shell& shell, QWidget* parent = nullptr);

  QLabel* HomePageLink() const { return homePageLink_; }
  QLabel* MailLink() const { return mailLink_; }

 private:
  QLabel* homePageLink_ = nullptr;
  QLabel* mailLink_ = nullptr;
};

}  // namespace app
