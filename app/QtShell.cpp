#include "app/QtShell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace app {

QString FileDialogFilter(const std::vector<platform::FileFilter>& filters) {
  QStringList entries;
  for (const platform::FileFilter& filter : filters) {
    QStringList patterns;
    for (const QString& pattern : QString::fromStdString(filter.patterns).split(u';')) {
      const QString trimmed = pattern.trimmed();
      if (trimmed.isEmpty()) continue;
      // Each letter as a class of both cases: "*.[Jj][Pp]*[Gg]".
      QString anyCase;
      for (const QChar character : trimmed) {
        const QChar lower = character.toLower();
        const QChar upper = character.toUpper();
        anyCase += lower == upper ? QString(character)
                                  : QStringLiteral("[") + upper + lower + QStringLiteral("]");
      }
      patterns << anyCase;
    }
    entries << QString::fromStdString(filter.caption) + QStringLiteral(" (") + patterns.join(u' ') +
                   QStringLiteral(")");
  }
  return entries.join(QStringLiteral(";;"));
}

QtShell::QtShell(QWidget* window) : window_(window) {}

QtShell::~QtShell() {
  if (waitCursor_) QApplication::restoreOverrideCursor();
}

void QtShell::ShowMessage(const std::string& text) {
  if (closing_) return;
  QMessageBox box(QMessageBox::Warning, QString::fromUtf8(platform::kMessageBoxCaption),
                  QString::fromStdString(text), QMessageBox::Ok, window_);
  box.setTextFormat(Qt::PlainText);
  // The box waits for the user, so it shows the normal pointer even while the wait cursor is on.
  if (waitCursor_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  if (waitCursor_) QApplication::restoreOverrideCursor();
}

std::optional<std::string> QtShell::ChooseFile(const std::string& title,
                                               const std::vector<platform::FileFilter>& filters) {
  // Qt's own dialog: it shows each filter's text as given, without the patterns behind it, which
  // the desktops' dialogs append or cut at the first parenthesis.
  const QString chosen = QFileDialog::getOpenFileName(
      window_, QString::fromStdString(title), QString(), FileDialogFilter(filters), nullptr,
      QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(chosen).toStdString();
}

platform::FolderChoice QtShell::ChooseFolder(const std::string& title) {
  const QString chosen = QFileDialog::getExistingDirectory(window_, QString::fromStdString(title));
  if (chosen.isEmpty()) return {platform::FolderChoiceOutcome::kCancelled, {}};
  return {platform::FolderChoiceOutcome::kChosen, QFile::encodeName(chosen).toStdString()};
}

bool QtShell::OpenDocument(const std::string& pathOrUrl) {
  const QString text = QString::fromStdString(pathOrUrl);
  const bool isUrl = text.startsWith(QStringLiteral("http:"), Qt::CaseInsensitive) ||
                     text.startsWith(QStringLiteral("https:"), Qt::CaseInsensitive) ||
                     text.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive);
  const QString local = QFile::decodeName(pathOrUrl.c_str());
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  // Without xdg-open, Qt's own way of the desktop is tried (false when it has none).
  if (opener.isEmpty()) {
    return QDesktopServices::openUrl(isUrl ? QUrl(text) : QUrl::fromLocalFile(local));
  }
  // xdg-open ends with a non-zero status when no program takes the document (no browser behind
  // it, say); that is as much a failure as no xdg-open at all. Started detached, it would report
  // nothing, so it is waited for, a moment at most: on some desktops it stays until the program it
  // started ends, and is then left to run (the object is deleted once it ends, and outlives the
  // window otherwise, so that the program is not killed with it).
  auto* process = new QProcess;
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->setStandardInputFile(QProcess::nullDevice());
  process->start(opener, {isUrl ? text : local});
  if (!process->waitForStarted()) {
    delete process;
    return false;
  }
  if (!process->waitForFinished(static_cast<int>(kOpenerGrace.count()))) {
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    return true;
  }
  const bool opened = process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
  delete process;
  return opened;
}

void QtShell::SetWaitCursor(bool on) {
  // Qt stacks override cursors, so only a change of state pushes or pops one: repeated calls
  // stay balanced.
  if (on == waitCursor_) return;
  waitCursor_ = on;
  if (on) {
    // The pointer that says "working, still usable": the window answers during a run.
    QApplication::setOverrideCursor(Qt::BusyCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void QtShell::Await(const std::function<void()>& work) {
  // Work that ends within the grace period is simply waited for: no event is handled meanwhile,
  // so the controls the form disabled for it are enabled again before they are ever drawn
  // greyed. Longer work is waited for in a loop that ends when the work posts its end; a post made
  // before the loop starts waits in the queue and ends it at once (and goes with the loop when it
  // is never run). Input that would change the running work is disabled by the form before it
  // waits, so the loop only repaints, moves and resizes, and runs the menus.
  QEventLoop loop;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread worker([&] {
    work();
    {
      const std::lock_guard lock(mutex);
      done = true;
    }
    ended.notify_one();
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  bool waitInLoop = false;
  {
    std::unique_lock lock(mutex);
    waitInLoop = !ended.wait_for(lock, awaitGrace_, [&] { return done; });
  }
  if (waitInLoop) {
    if (onAwait) onAwait();
    loop.exec();
  }
  worker.join();
}

}  // namespace app
