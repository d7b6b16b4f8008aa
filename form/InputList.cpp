// The input list: adding files by dialog and by drop, deleting, counting and totalling.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/ControlIds.h"
#include "engine/Converter.h"
#include "engine/FileFormats.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"

namespace form {

using namespace engine;

namespace {

constexpr const char* kListFullMessage = "1001個以上のリスト登録はできません。";

bool Convertible(int kind) { return InputFormatOf(kind).Converts(); }

}  // namespace

void MainForm::AddFileFromDialog() {
  JobState& job = session_.Job;
  job.CurrentInputPath.clear();
  const std::optional<std::string> chosen =
      shell_.ChooseFile("どのファイルを変換する？？", InputFileFilters());
  if (!chosen) return;
  job.CurrentInputPath = *chosen;
  session_.Flags.InputPresent = 1;
  // The kind is checked before the limit: a refused file shows only its own message.
  if (Convertible(Converter(session_).CheckInputKind(job.CurrentInputPath))) {
    if (controls_.ListCount(kInputList) >= kMaxListEntries) {
      shell_.ShowMessage(kListFullMessage);
    } else {
      controls_.AppendListEntry(kInputList, job.CurrentInputPath);
      ShowFileInfo(BeforeColumn);
      controls_.SetText(kBeforeSizeEdit, session_.Information.BeforeSizeText);
    }
  }
  ShowEntryCount();
}

void MainForm::AddDroppedFiles(const std::vector<std::string>& paths) {
  const int count = static_cast<int>(paths.size());
  controls_.SetProgressRange(kProgressBar, 0, count);
  controls_.SetProgressPosition(kProgressBar, 0);
  controls_.SetProgressStep(kProgressBar, 1);
  session_.Flags.InputPresent = 1;
  for (const std::string& path : paths) {
    // The limit is tested before the kind: a full list stops the drop at its first item.
    if (controls_.ListCount(kInputList) >= kMaxListEntries) {
      controls_.SetProgressPosition(kProgressBar, count);
      shell_.ShowMessage(kListFullMessage);
      controls_.SetProgressPosition(kProgressBar, 0);
      break;
    }
    if (Convertible(Converter(session_).CheckInputKind(path))) {
      controls_.AppendListEntry(kInputList, path);
    }
    controls_.StepProgress(kProgressBar);
  }
  controls_.SetProgressPosition(kProgressBar, 0);
  ShowEntryCount();
}

void MainForm::DeleteSelectedEntry() {
  const int selection = controls_.ListSelection(kInputList);
  if (selection >= 0) controls_.DeleteListEntry(kInputList, selection);
  ShowEntryCount();
}

void MainForm::DeleteAllEntries() {
  while (controls_.ListCount(kInputList) > 0) {
    controls_.DeleteListEntry(kInputList, controls_.ListCount(kInputList) - 1);
  }
  session_.Flags.InputPresent = 0;
  ShowEntryCount();
}

void MainForm::ShowEntryCount() {
  controls_.SetText(kEntryCountEdit, std::to_string(controls_.ListCount(kInputList)));
}

void MainForm::ShowTotalSize() {
  // The real sizes in 64 bits: totals of 2 GiB and more are shown as they are, and a file that can
  // no longer be queried adds nothing.
  std::uint64_t total = 0;
  const int count = controls_.ListCount(kInputList);
  for (int index = 0; index < count; ++index) {
    total += platform::FileSize(controls_.ListEntry(kInputList, index)).value_or(0);
  }
  controls_.SetText(kTotalSizeEdit, std::to_string(total));
}

}  // namespace form
