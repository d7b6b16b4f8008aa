// What the window needs from the desktop session around it: Qt's own texts in Japanese, and an
// orderly end on SIGTERM, SIGINT and SIGHUP.
#pragma once

#include <QObject>
#include <functional>

#include "platform/StopSignals.h"

class QSocketNotifier;

namespace app {

// Loads Qt's Japanese translation (file and folder dialogs, edit menus, standard buttons) and
// makes Japanese the default locale, so Qt's own texts match the form's. False when the
// translation is not installed.
bool InstallQtTranslation();

// Turns SIGTERM, SIGINT and SIGHUP (the terminal it was started from closing) into an orderly end:
// the window closes as when the user closes it. A run or a preview conversion under way is stopped
// as closing the window stops it (`stopWork` does that and answers true); otherwise the main loop
// stops. A signal that arrives while some other handler waits in a modal box cannot wait for that
// handler to finish: `removeNow` runs at once and the signal then ends the process. A second signal
// ends the process at once, after removing the temporaries it created (platform::StopSignals). One
// object per process.
class TerminationSignals : public QObject {
 public:
  TerminationSignals(std::function<bool()> stopWork, std::function<void()> removeNow);
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // The first signal's number; 0 while none has come.
  int Received() const { return signals_.Received(); }
  // After the window has gone: a signal that stopped the loop ends the process by its default
  // action now, so the parent sees how the program ended.
  void EndByReceivedSignal() const;

 private:
  void Receive();

  platform::StopSignals signals_;
  std::function<bool()> stopWork_;
  std::function<void()> removeNow_;
  QSocketNotifier* notifier_ = nullptr;
  bool handled_ = false;
};

}  // namespace app
