#include "app/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <algorithm>

#include "app/AboutBox.h"
#include "app/Help.h"
#include "app/Resources.h"

namespace app {
namespace {

// How often a close waiting for the end of a run looks again.
constexpr int kCloseRetryMilliseconds = 20;

}  // namespace

MainWindow::MainWindow(std::string executableFolder) : shell_(std::make_unique<QtShell>(this)) {
  // A sizing border, the system menu and a minimize box; no maximize box.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QString::fromUtf8(kWindowTitle));
  setWindowIcon(ApplicationIcon());
  setFont(DialogFont());

  scrollArea_ = new QScrollArea(this);
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setWidgetResizable(false);
  form_ = new FormView(*shell_, std::move(executableFolder));
  scrollArea_->setWidget(form_);
  setCentralWidget(scrollArea_);
  BuildMenu();
  BuildAccelerators();

  // The window starts at most as large as the screen offers and then shrinks to the form.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    resize(screen->availableSize());
  }
  form_->Form().InitialUpdate();
  ShrinkToForm();
}

MainWindow::~MainWindow() {
  // The form, which reports to the shell, goes before the shell.
  delete scrollArea_->takeWidget();
}

void MainWindow::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("FILE(&F)"));
  QAction* exit = file->addAction(QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"));
  connect(exit, &QAction::triggered, this, &QWidget::close);

  QMenu* help = menuBar()->addMenu(QStringLiteral("HELP(&H)"));
  QAction* helpItem = help->addAction(QStringLiteral("ヘルプ"));
  connect(helpItem, &QAction::triggered, this, &MainWindow::ShowHelp);
  QAction* version = help->addAction(QStringLiteral("ヴァージョン"));
  connect(version, &QAction::triggered, this, &MainWindow::ShowAbout);
}

void MainWindow::BuildAccelerators() {
  // Only the document keys are taken; undo, cut, copy, paste and F6 stay with the focused
  // control, which edits its own text with them.
  auto accelerator = [this](const QKeySequence& keys) {
    auto* action = new QAction(this);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
    return action;
  };
  newAction_ = accelerator(QKeySequence(Qt::CTRL | Qt::Key_N));
  connect(newAction_, &QAction::triggered, this, &MainWindow::NewDocument);
  openAction_ = accelerator(QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(openAction_, &QAction::triggered, this, &MainWindow::ChooseDocument);
  // The document holds nothing, so saving it does nothing.
  saveAction_ = accelerator(QKeySequence(Qt::CTRL | Qt::Key_S));
  // Esc stops a run; at any other time it does nothing.
  cancelAction_ = accelerator(QKeySequence(Qt::Key_Escape));
  connect(cancelAction_, &QAction::triggered, this, [this] { form_->Form().CancelRun(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!form_->Form().Busy()) {
    QMainWindow::closeEvent(event);
    return;
  }
  // The run is waiting in a nested event loop under this event: it is told to stop, and the window
  // closes once the loop has returned and the run has ended.
  event->ignore();
  shell_->SetClosing(true);
  form_->Form().CancelRun();
  QTimer::singleShot(kCloseRetryMilliseconds, this, &QWidget::close);
}

void MainWindow::NewDocument() {
  // Starting anew would change the settings of the run under way.
  if (form_->Form().Busy()) return;
  form_->Form().InitialUpdate();
  ShrinkToForm();
}

void MainWindow::ChooseDocument() {
  if (form_->Form().Busy()) return;
  const QString path = QFileDialog::getOpenFileName(this);
  if (!path.isEmpty()) OpenDocument(path);
}

void MainWindow::OpenDocument(const QString& path) {
  QSettings settings(QString::fromUtf8(kSettingsOrganization),
                     QString::fromUtf8(kSettingsApplication));
  RememberRecentFile(settings, QFileInfo(path).absoluteFilePath());
  NewDocument();
}

void MainWindow::ShowHelp() { OpenHelp(*shell_, form_->Form().ExecutableFolder()); }

void MainWindow::ShowAbout() {
  AboutBox box(*shell_, this);
  box.exec();
}

void MainWindow::ShrinkToForm() {
  // The form and the menu bar above it; the scroll area has no frame of its own.
  const QSize wanted(form_->width(), form_->height() + menuBar()->sizeHint().height());
  resize(std::min(width(), wanted.width()), std::min(height(), wanted.height()));
}

}  // namespace app
