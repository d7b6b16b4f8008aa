#include "app/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/AboutBox.h"
#include "app/Help.h"
#include "app/Resources.h"
#include "platform/FileSystem.h"

namespace app {
namespace {

// The photo menu's choices in the application's settings: upright and metadata on unless turned
// off, proportions off unless turned on.
constexpr const char* kPhotoUprightKey = "Photo/AutoOrient";
constexpr const char* kPhotoMetadataKey = "Photo/KeepMetadata";
constexpr const char* kPhotoAspectKey = "Photo/KeepAspect";

QSettings ApplicationSettings() {
  return QSettings(QString::fromUtf8(kSettingsOrganization),
                   QString::fromUtf8(kSettingsApplication));
}

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

  QMenu* photo = menuBar()->addMenu(QStringLiteral("PHOTO(&P)"));
  uprightAction_ = photo->addAction(QStringLiteral("写真の向きを自動で直す(&U)"));
  keepMetadataAction_ = photo->addAction(QStringLiteral("撮影情報とカラープロファイルを残す(&M)"));
  keepAspectAction_ = photo->addAction(QStringLiteral("縦横比を保つ(&A)"));
  const QSettings settings = ApplicationSettings();
  uprightAction_->setCheckable(true);
  uprightAction_->setChecked(settings.value(QString::fromUtf8(kPhotoUprightKey), true).toBool());
  keepMetadataAction_->setCheckable(true);
  keepMetadataAction_->setChecked(
      settings.value(QString::fromUtf8(kPhotoMetadataKey), true).toBool());
  keepAspectAction_->setCheckable(true);
  keepAspectAction_->setChecked(settings.value(QString::fromUtf8(kPhotoAspectKey), false).toBool());
  ApplyPhotoChoices();
  for (QAction* action : {uprightAction_, keepMetadataAction_, keepAspectAction_}) {
    connect(action, &QAction::toggled, this, &MainWindow::ApplyPhotoChoices);
  }
  // The choices reach every conversion, so they stay as they are while one is under way.
  connect(photo, &QMenu::aboutToShow, this, [this] {
    const bool idle = !form_->Form().Busy();
    for (QAction* action : {uprightAction_, keepMetadataAction_, keepAspectAction_}) {
      action->setEnabled(idle);
    }
  });
}

void MainWindow::ApplyPhotoChoices() {
  engine::PhotoOptions& options = form_->Form().Session().Photo;
  options.AutoOrient = uprightAction_->isChecked() ? 1 : 0;
  options.KeepMetadata = keepMetadataAction_->isChecked() ? 1 : 0;
  options.KeepAspect = keepAspectAction_->isChecked() ? 1 : 0;
  QSettings settings = ApplicationSettings();
  settings.setValue(QString::fromUtf8(kPhotoUprightKey), uprightAction_->isChecked());
  settings.setValue(QString::fromUtf8(kPhotoMetadataKey), keepMetadataAction_->isChecked());
  settings.setValue(QString::fromUtf8(kPhotoAspectKey), keepAspectAction_->isChecked());
  settings.sync();
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

bool MainWindow::CloseForTermination() {
  if (!form_->Form().Busy()) return false;
  // A box of the run (a file that could not be opened) would hold the run until answered.
  if (QWidget* box = QApplication::activeModalWidget()) box->close();
  close();
  return true;
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

void MainWindow::AddCommandLineFiles(const std::vector<std::string>& names) {
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(platform::InCurrentFolder(name));
  form_->Form().AddDroppedFiles(paths);
}

void MainWindow::AddCommandLineFilesOnceRunning(std::vector<std::string> names) {
  if (names.empty()) return;
  QTimer::singleShot(0, this, [this, names = std::move(names)] { AddCommandLineFiles(names); });
}

void MainWindow::ShrinkToForm() {
  // The form and the menu bar above it; the scroll area has no frame of its own.
  const QSize wanted(form_->width(), form_->height() + menuBar()->sizeHint().height());
  resize(std::min(width(), wanted.width()), std::min(height(), wanted.height()));
}

}  // namespace app
