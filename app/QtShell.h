// The desktop services the form asks for, on Qt: warning message boxes, the file and folder
// dialogs, opening documents and links with their associated programs, and the wait cursor.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "platform/Shell.h"

namespace app {

// The Qt file dialog's filter string for the given filters: "text (patterns)" entries separated by
// ";;", each pattern matching its letters in either case, since names on Linux are case-sensitive
// and pictures often come as "IMG_0001.JPG". The dialog hides the patterns and shows the text.
QString FileDialogFilter(const std::vector<platform::FileFilter>& filters);

class QtShell : public platform::Shell {
 public:
  // Dialogs and message boxes open over `window` (which may be null).
  explicit QtShell(QWidget* window = nullptr);
  ~QtShell() override;
  QtShell(const QtShell&) = delete;
  QtShell& operator=(const QtShell&) = delete;

  void ShowMessage(const std::string& text) override;
  std::optional<std::string> ChooseFile(const std::string& title,
                                        const std::vector<platform::FileFilter>& filters) override;
  platform::FolderChoice ChooseFolder(const std::string& title) override;
  bool OpenDocument(const std::string& pathOrUrl) override;
  void SetWaitCursor(bool on) override;

  bool WaitCursorShown() const { return waitCursor_; }

 private:
  QPointer<QWidget> window_;
  bool waitCursor_ = false;
};

}  // namespace app
