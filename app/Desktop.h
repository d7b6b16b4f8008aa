// What the window needs from the desktop session around it: Qt's own texts in Japanese, and an
// orderly end on SIGTERM and SIGINT.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace app {

// Loads Qt's Japanese translation (file and folder dialogs, edit menus, standard buttons) and
// makes Japanese the default locale, so Qt's own texts match the form's. False when the
// translation is not installed.
bool InstallQtTranslation();

// Turns SIGTERM and SIGINT into an orderly end: the event loop stops, so the window closes as
// when the user closes it. A signal that arrives while a handler waits in a modal box cannot wait
// for the handler to finish: `removeNow` runs at once and the signal then ends the process. One
// object per process.
class TerminationSignals : public QObject {
 public:
  explicit TerminationSignals(std::function<void()> removeNow);
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // After the window has gone: a signal that stopped the loop ends the process by its default
  // action now, so the parent sees how the program ended.
  void EndByReceivedSignal() const;

 private:
  void Receive();

  std::function<void()> removeNow_;
  QSocketNotifier* notifier_ = nullptr;
  int received_ = 0;
};

}  // namespace app
