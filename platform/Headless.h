// The headless backend of Controls and Shell: the state of every control in memory, message boxes
// recorded in order, dialogs answered from a script. Tests and the command line run on it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/Shell.h"

namespace platform {

class HeadlessControls : public Controls {
 public:
  // Creates one in-memory control per definition that has an id.
  explicit HeadlessControls(const std::vector<ControlDefinition>& definitions);

  bool IsChecked(ControlId id) const override;
  void SetChecked(ControlId id, bool checked) override;
  std::string Text(ControlId id) const override;
  void SetText(ControlId id, const std::string& text) override;
  void AppendComboEntry(ControlId id, const std::string& text) override;
  int ComboCount(ControlId id) const override;
  int ComboSelection(ControlId id) const override;
  void SetComboSelection(ControlId id, int index) override;
  void AppendListEntry(ControlId id, const std::string& text) override;
  void DeleteListEntry(ControlId id, int index) override;
  int ListCount(ControlId id) const override;
  std::string ListEntry(ControlId id, int index) const override;
  int ListSelection(ControlId id) const override;
  void SetListSelection(ControlId id, int index) override;
  void SetSliderRange(ControlId id, int minimum, int maximum, bool redraw) override;
  void SetSliderTickFrequency(ControlId id, int frequency) override;
  void SetSliderPageSize(ControlId id, int pageSize) override;
  int SliderPosition(ControlId id) const override;
  void SetSliderPosition(ControlId id, int position, bool redraw) override;
  void SetProgressRange(ControlId id, int minimum, int maximum) override;
  void SetProgressPosition(ControlId id, int position) override;
  void SetProgressStep(ControlId id, int step) override;
  void StepProgress(ControlId id) override;
  bool IsEnabled(ControlId id) const override;
  void SetEnabled(ControlId id, bool enabled) override;

  // Read-backs that only the headless backend offers, for tests and progress display.
  bool Exists(ControlId id) const;
  ControlKind KindOf(ControlId id) const;
  int RangeMinimum(ControlId id) const;
  int RangeMaximum(ControlId id) const;
  int ProgressPosition(ControlId id) const;
  int ProgressStep(ControlId id) const;
  int SliderTickFrequency(ControlId id) const;
  int SliderPageSize(ControlId id) const;
  std::vector<std::string> ComboEntries(ControlId id) const;

  // Called after every change of a progress bar's position (the command line shows progress).
  std::function<void(ControlId, int position, int maximum)> onProgress;

 private:
  struct State {
    ControlKind kind = ControlKind::kStatic;
    bool checked = false;
    std::string text;
    std::vector<std::string> entries;
    int selection = -1;
    int minimum = 0;
    int maximum = 100;
    int position = 0;
    int step = 10;
    int tickFrequency = 1;
    int pageSize = 0;
    bool enabled = true;
  };
  State* Find(ControlId id);
  const State* Find(ControlId id) const;
  void MoveProgress(ControlId id, State& state, int position);

  std::map<ControlId, State> controls_;
};

class HeadlessShell : public Shell {
 public:
  void ShowMessage(const std::string& text) override;
  std::optional<std::string> ChooseFile(const std::string& title,
                                        const std::vector<FileFilter>& filters) override;
  FolderChoice ChooseFolder(const std::string& title) override;
  bool OpenDocument(const std::string& pathOrUrl) override;
  void SetWaitCursor(bool on) override;
  void ReportNotWritten(const std::string& path, const std::string& reason) override;

  // Every message box shown, in order.
  std::vector<std::string> messages;
  // Called for every message box as it is shown (the command line prints them).
  std::function<void(const std::string&)> onMessage;
  // Called for every file a run did not write, with the reason (the command line prints them).
  std::function<void(const std::string& path, const std::string& reason)> onNotWritten;
  // Answers for the next dialogs, taken in order; an empty script cancels.
  std::deque<std::optional<std::string>> fileAnswers;
  std::deque<FolderChoice> folderAnswers;
  // What the dialogs were opened with, and the documents opened.
  std::vector<std::string> dialogTitles;
  std::vector<FileFilter> lastFilters;
  std::vector<std::string> openedDocuments;
  // What OpenDocument answers: false plays a desktop with no program for the document.
  bool opensDocuments = true;
  bool waitCursor = false;
  int waitCursorSwitches = 0;
};

}  // namespace platform
