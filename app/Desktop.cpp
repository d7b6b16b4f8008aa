#include "app/Desktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QThread>
#include <QTranslator>
#include <csignal>

namespace app {
namespace {

constexpr int kHandledSignals[] = {SIGTERM, SIGINT};

// The signal handler's only way to the event loop: one byte, the signal's number, in a pipe.
int signalPipe[2] = {-1, -1};

extern "C" void WriteSignalToPipe(int signalNumber) {
  const auto byte = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

}  // namespace

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

TerminationSignals::TerminationSignals(std::function<void()> removeNow)
    : removeNow_(std::move(removeNow)) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Receive);
  struct sigaction action {};
  action.sa_handler = WriteSignalToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : kHandledSignals) sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  if (notifier_ == nullptr) return;
  for (int signalNumber : kHandledSignals) std::signal(signalNumber, SIG_DFL);
  close(signalPipe[0]);
  close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

void TerminationSignals::Receive() {
  unsigned char byte = 0;
  if (read(signalPipe[0], &byte, 1) != 1 || received_ != 0) return;
  received_ = byte;
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
  if (received_ == 0) return;
  std::signal(received_, SIG_DFL);
  std::raise(received_);
}

}  // namespace app
