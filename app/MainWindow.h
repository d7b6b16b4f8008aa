// The main window: the fixed title, the menu, the accelerators, and the main form in a scroll area.
#pragma once

#include <QMainWindow>
#include <QSettings>
#include <memory>
#include <string>
#include <vector>

#include "app/FormView.h"
#include "app/QtShell.h"

class QAction;
class QScrollArea;

namespace app {

// The main window's title; the program never changes it.
inline constexpr const char* kWindowTitle = "TessellarionβＶｅｒ１．０２";

// Where the application's own settings (the recent-file list and the photo menu's two choices)
// are kept.
inline constexpr const char* kSettingsOrganization = "Local AppWizard-Generated Applications";
inline constexpr const char* kSettingsApplication = "Tessellarion";

class MainWindow : public QMainWindow {
 public:
  // Builds the window and runs the form's initial update. The executable's folder is the running
  // program's unless one is given.
  explicit MainWindow(std::string executableFolder = {});
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  FormView& Form() { return *form_; }
  QtShell& Shell() { return *shell_; }

  // Ctrl+N: the document starts anew, which runs the form's initial update again.
  void NewDocument();
  // What Ctrl+O does with the file the user chose: nothing is read from it, it heads the
  // recent-file list, and the form's initial update runs again.
  void OpenDocument(const QString& path);
  // The menu's help item.
  void ShowHelp();
  // The menu's version item: the About box, modal.
  void ShowAbout();
  // The files named on the command line (as a file manager passes them), added to the input list
  // as one drop. Relative names are taken from the current folder.
  void AddCommandLineFiles(const std::vector<std::string>& names);
  // The same, once the event loop runs, so that the window is up and the messages about refused
  // files open over it. No names, nothing.
  void AddCommandLineFilesOnceRunning(std::vector<std::string> names);

  QAction* NewAction() const { return newAction_; }
  QAction* OpenAction() const { return openAction_; }
  QAction* SaveAction() const { return saveAction_; }
  // The photo menu's check items: turn photos upright, keep their metadata, keep proportions.
  QAction* UprightAction() const { return uprightAction_; }
  QAction* KeepMetadataAction() const { return keepMetadataAction_; }
  QAction* KeepAspectAction() const { return keepAspectAction_; }
  QAction* CancelAction() const { return cancelAction_; }

  // A termination signal: during a run or a preview conversion the window closes as the user
  // would close it (the run stops, the window goes once it has ended), and a message box the run
  // waits behind is closed too; true then. False when no work is under way.
  bool CloseForTermination();

 protected:
  // Closing the window during a run stops the run first: the entries being written finish, no
  // other starts, and the window closes once the run has ended, without its closing messages.
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenu();
  void BuildAccelerators();
  // Puts the photo menu's choices into the engine and the application's settings.
  void ApplyPhotoChoices();
  void ChooseDocument();
  // Makes the window no larger than the form needs, so it opens at the form's size and scrolls
  // when the screen or the user makes it smaller.
  void ShrinkToForm();

  std::unique_ptr<QtShell> shell_;
  QScrollArea* scrollArea_ = nullptr;
  FormView* form_ = nullptr;
  QAction* newAction_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* uprightAction_ = nullptr;
  QAction* keepMetadataAction_ = nullptr;
  QAction* keepAspectAction_ = nullptr;
  QAction* cancelAction_ = nullptr;
};

}  // namespace app
