// What the program asks of the desktop besides its own controls: message boxes, the file and
// folder dialogs, opening a document with its associated program, and the wait cursor.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The caption of every message box.
inline constexpr const char* kMessageBoxCaption = "Tessellarion";

struct FileFilter {
  std::string caption;   // shown text
  std::string patterns;  // "*.bmp;*.png"
};

enum class FolderChoiceOutcome {
  kCancelled,
  kNoFileSystemPath,  // something was chosen that is not a folder on disk
  kChosen,
};

struct FolderChoice {
  FolderChoiceOutcome outcome = FolderChoiceOutcome::kCancelled;
  std::string path;  // kChosen only, without a trailing "/" unless it is the root
};

class Shell {
 public:
  virtual ~Shell() = default;

  // A modal message box with the caption kMessageBoxCaption and one OK button.
  virtual void ShowMessage(const std::string& text) = 0;

  // The open-file dialog for one file; nothing when cancelled.
  virtual std::optional<std::string> ChooseFile(const std::string& title,
                                                const std::vector<FileFilter>& filters) = 0;

  // The folder browser.
  virtual FolderChoice ChooseFolder(const std::string& title) = 0;

  // Opens a file or a URL with the program associated with it; false when that could not start.
  virtual bool OpenDocument(const std::string& pathOrUrl) = 0;

  virtual void SetWaitCursor(bool on) = 0;

  // A file a run did not write, with the reason ("BMP: compression 99 is not supported", "disk
  // full"), told before the run's closing count message. A window shows nothing for it: its
  // message boxes keep their fixed texts and their one button.
  virtual void ReportNotWritten(const std::string& /*path*/, const std::string& /*reason*/) {}

  // Runs `work` to its end while the desktop stays alive: a window keeps repainting and answering
  // its menus meanwhile, on the calling thread, while `work` runs on another. `work` must show no
  // message and touch no control. Without a window it simply runs `work`.
  virtual void Await(const std::function<void()>& work) { work(); }
};

// The wait cursor, on for the life of the object: the caller of a long operation holds one.
class WaitCursor {
 public:
  explicit WaitCursor(Shell& shell) : shell_(shell) { shell_.SetWaitCursor(true); }
  ~WaitCursor() { shell_.SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  Shell& shell_;
};

// The shell that message boxes of the engine's operations go to. The front end installs the one
// it runs with; until then messages go to standard error.
void InstallShell(Shell* shell);
Shell* InstalledShell();
// Shows a message box on the installed shell.
void MessageBox(const std::string& text);

}  // namespace platform
