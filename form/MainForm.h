// The main form's operations. The form reaches its controls and the desktop only through the
// Controls and Shell it is given, so the same operations run in the window and headless.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Conversion.h"
#include "engine/Session.h"
#include "platform/Controls.h"
#include "platform/Shell.h"
#include "platform/WorkingFolders.h"
#include "settings/SettingsFile.h"

namespace form {

// Where ConvertCurrentFile writes.
inline constexpr int BatchTarget = 0;    // OutputPath plus the output kind's extension
inline constexpr int PreviewTarget = 1;  // PreviewTargetPath as it stands

// Which column of the information fields ShowFileInfo fills.
inline constexpr int BeforeColumn = 0;
inline constexpr int AfterColumn = 1;

// The most entries the input list holds.
inline constexpr int kMaxListEntries = 1000;
// The most entries one table-art run converts.
inline constexpr int kMaxTableArtEntries = 10;

// A listed file a run did not write, and why.
struct FileNotWritten {
  std::string input;
  std::string reason;
};

// How a batch run ended.
struct BatchOutcome {
  bool ran = false;        // every precondition held and the list was walked
  int entries = 0;         // entries the run walked
  int notWritten = 0;      // entries that produced no output file, those a cancel left undone too
  bool cancelled = false;  // the run was stopped before its end
  std::vector<FileNotWritten> failures;  // the notWritten entries, in list order
};

// A job as the gather step reads it from the controls and the session: what every conversion of
// the job reads, and what the preconditions of a run look at.
struct JobOptions {
  engine::JobSnapshot conversion;
  int entries = 0;          // entries on the list
  bool fixedSize = false;   // "そのまま" or 640×480 chosen: the size is never out of range
  bool customSize = false;  // the custom size chosen, width × height
  int width = 0;
  int height = 0;
  bool tableArt = false;     // table art chosen
  bool customName = false;   // the custom name chosen, customNameText
  std::string customNameText;
};

// The run flags after the preconditions are checked on `job`, starting from `flags`: an empty
// list clears InputPresent (nothing here sets it), a custom size outside 1..2000 sets
// SizeOutOfRange and another size choice clears it, table art over kMaxTableArtEntries entries
// sets TableArtOverLimit, and a custom name that IsUsableCustomName refuses sets CustomNameRefused.
engine::RunFlags CheckPreconditions(const JobOptions& job, engine::RunFlags flags);

// The file name of a path without its extension: the text after the last "/" or "\", less the
// last "." and what follows it. Empty when the path has no separator.
std::string FileNameOf(const std::string& path);
// The text after the last "." of a text; empty when there is none.
std::string ExtensionOf(const std::string& text);
// True when a custom name can start the file names of a run: it holds no "/" and is neither "."
// nor "..", the names of folders, so every output stays a file in the output folder.
bool IsUsableCustomName(const std::string& name);

class MainForm {
 public:
  // The form's message boxes (and the engine's) go to `shell` from now on. The executable's
  // folder is the running program's unless one is given (tests run the form in a folder of their
  // own); the settings and preview folders are chosen for it here, once. The process ignores
  // SIGXFSZ from now on, so a write beyond the file-size limit fails as a write error.
  MainForm(platform::Controls& controls, platform::Shell& shell,
           std::string executableFolder = {});
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // Fills the combo boxes, loads the settings file and, the first time, puts the settings and the
  // placeholders into the controls. A repeated call does not append the combo entries again.
  void InitialUpdate();
  // A horizontal scroll message from `sender`: the compression slider shows its position.
  void OnHorizontalScroll(platform::ControlId sender);
  // The form is going away: the preview images are deleted.
  void RemovePreviewImages();

  // The input list.
  void AddFileFromDialog();
  void AddDroppedFiles(const std::vector<std::string>& paths);
  void DeleteSelectedEntry();
  void DeleteAllEntries();
  void ShowEntryCount();
  void ShowTotalSize();

  // The batch run behind the Execute button. The entries are converted `Jobs()` at a time and
  // reported in list order; the window stays alive meanwhile, with the controls that would change
  // the job disabled. Each file not written goes to the shell's ReportNotWritten with its reason,
  // in list order, before the closing count message.
  BatchOutcome BatchRun();
  // Copies the controls into the session's settings, converter options and output kind, and
  // returns the job they make. Shows nothing.
  JobOptions GatherJobOptions();
  // How many files a run converts at once (at least 1); at first the cores the process may use.
  int Jobs() const { return jobs_; }
  void SetJobs(int jobs) { jobs_ = jobs < 1 ? 1 : jobs; }
  // True while a run or a preview conversion is under way.
  bool Busy() const { return busy_; }
  // Stops the run under way: no further entry starts, those being written finish. Does nothing
  // when no run is under way.
  void CancelRun();

  // The quality preview.
  void QualityPreview();
  void ShowSelectedFile();
  void ConvertForPreview();

  // The output folder button.
  void ChooseOutputFolder();

  // Converts CurrentInputPath by the job's OutputKind and CurrentInputKind. In BatchTarget mode
  // the extension is appended to OutputPath first. True when the target file was written.
  bool ConvertCurrentFile(int targetMode);

  // Fills a column of the information fields: the before column for CurrentInputPath, the after
  // column by converting it for the preview first. Returns 0.
  int ShowFileInfo(int infoColumn);

  // The state of the form's runs: its settings, run flags, options, job and information fields.
  engine::Session& Session() { return session_; }
  const engine::Session& Session() const { return session_; }

  const std::string& ExecutableFolder() const { return executableFolder_; }
  // Where the settings file and the preview page with its images are kept.
  const platform::WorkingFolders& Folders() const { return folders_; }

 private:
  void ShowAfterColumn();
  // Probes the size of `file` on another thread into the information state's ProbedWidth and
  // ProbedHeight, which change only when the file loads.
  void ProbeSize(const std::string& file);
  // Converts every listed entry with `job` through the batch runner and reports each in list
  // order.
  void RunEntries(const engine::JobSnapshot& job, BatchOutcome& outcome);
  // SyncSettingsFile on the session's settings and settings folder.
  void SyncSettings(settings::SettingsFileMode mode);
  // Runs `work` through the shell's Await with the controls that would change a job disabled.
  void AwaitWork(const std::function<void()>& work);
  void EnableJobControls(bool enabled);

  platform::Controls& controls_;
  platform::Shell& shell_;
  engine::Session session_;
  platform::Shell* previousShell_ = nullptr;
  std::string executableFolder_;
  platform::WorkingFolders folders_;
  bool firstDisplay_ = true;
  int jobs_ = 1;
  bool busy_ = false;
  // Cancels the run under way; empty when none is. Called on the form's own thread, from the
  // event loop the run waits in.
  std::function<void()> cancelActiveRun_;
};

}  // namespace form
