#include "app/Desktop.h"

#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <csignal>
#include <utility>

namespace app {

bool InstallQtTranslation() {
  // Owned by the application, which uses it until it ends.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  // Dates and sizes in the dialogs read the Japanese way too.
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  return QCoreApplication::installTranslator(translator);
}

TerminationSignals::TerminationSignals(std::function<bool()> stopWork,
                                       std::function<void()> removeNow)
    : signals_({SIGTERM, SIGINT, SIGHUP}),
      stopWork_(std::move(stopWork)),
      removeNow_(std::move(removeNow)) {
  if (signals_.ReadDescriptor() < 0) return;
  notifier_ = new QSocketNotifier(signals_.ReadDescriptor(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Receive);
}

TerminationSignals::~TerminationSignals() {
  // The notifier goes before the descriptor it watches is closed.
  delete notifier_;
}

void TerminationSignals::Receive() {
  unsigned char byte = 0;
  if (read(signals_.ReadDescriptor(), &byte, 1) != 1 || std::exchange(handled_, true)) return;
  // A run or a preview waits in a nested loop: it stops as on a close, and the window closes
  // once it has ended.
  if (stopWork_ && stopWork_()) return;
  // The main loop alone: it stops, and the window closes when main() lets it go.
  if (QThread::currentThread()->loopLevel() <= 1) {
    QCoreApplication::quit();
    return;
  }
  // A modal box of a running handler: the handler would go on after the box, so the images go
  // now and the signal ends the process.
  if (removeNow_) removeNow_();
  EndByReceivedSignal();
}

void TerminationSignals::EndByReceivedSignal() const {
  const int received = Received();
  if (received == 0) return;
  std::signal(received, SIG_DFL);
  std::raise(received);
}

}  // namespace app
