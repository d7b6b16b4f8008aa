// The desktop services the form asks for, on Qt: warning message boxes, the file and folder
// dialogs, opening documents and links with their associated programs, and the wait cursor.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/Shell.h"

namespace app {

// The Qt file dialog's filter string for the given filters: "text (patterns)" entries separated by
// ";;", each pattern matching its letters in either case, since names on Linux are case-sensitive
// and pictures often come as "IMG_0001.JPG". The dialog hides the patterns and shows the text.
QString FileDialogFilter(const std::vector<platform::FileFilter>& filters);

// How long a wait may keep the window from answering before it runs the event loop: short enough
// not to be felt, long enough that a quick preview conversion does not flash the form greyed.
inline constexpr std::chrono::milliseconds kAwaitGrace{100};

// How long opening a document waits for xdg-open to say whether a program took it.
inline constexpr std::chrono::milliseconds kOpenerGrace{1000};

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
  // Through xdg-open where there is one: false when it ends with a failure within kOpenerGrace.
  bool OpenDocument(const std::string& pathOrUrl) override;
  void SetWaitCursor(bool on) override;
  // Runs `work` on a thread of its own while this thread runs a nested event loop, once the work
  // has taken longer than the grace period (at first kAwaitGrace).
  void Await(const std::function<void()>& work) override;
  void SetAwaitGrace(std::chrono::milliseconds grace) { awaitGrace_ = grace; }

  bool WaitCursorShown() const { return waitCursor_; }
  // The window is closing: message boxes are no longer shown.
  void SetClosing(bool closing) { closing_ = closing; }
  // Called on the waiting thread each time a nested loop starts waiting (tests look at the window
  // then).
  std::function<void()> onAwait;

 private:
  QPointer<QWidget> window_;
  bool waitCursor_ = false;
  bool closing_ = false;
  std::chrono::milliseconds awaitGrace_ = kAwaitGrace;
};

}  // namespace app
