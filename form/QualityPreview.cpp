// The quality preview: the selected entry converted before and after, its page, and its clean-up.
#include <string>

#include "engine/ControlIds.h"
#include "engine/Converter.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "settings/SettingsFile.h"

namespace form {

using namespace engine;

void MainForm::QualityPreview() {
  SyncSettings(settings::SettingsFileMode::Save);
  const int selection = controls_.ListSelection(kInputList);
  if (selection < 0) {
    shell_.ShowMessage("プレビューしたい画像をリストボックスから選択してください。");
    return;
  }
  const std::string entry = controls_.ListEntry(kInputList, selection);
  platform::CreateFolder(Folders().preview);
  const std::string page = Folders().preview + "/LOG.html";
  Converter(session_).WritePreviewPage(page);
  // The copy is written on another thread, by a converter on copies of its own.
  AwaitWork([entry, now = Folders().preview + "/Now.log", photo = session_.Photo] {
    ConverterOptions options;
    EngineState state;
    Converter(options, photo, state).WriteBeforeCopy(entry, now);
  });
  session_.Job.PreviewTargetPath = Folders().preview + "/Temp.log";
  ShowSelectedFile();
  shell_.OpenDocument(page);
}

void MainForm::ShowSelectedFile() {
  session_.Job.CurrentInputPath =
      controls_.ListEntry(kInputList, controls_.ListSelection(kInputList));
  ShowFileInfo(BeforeColumn);
  controls_.SetText(kBeforeSizeEdit, session_.Information.BeforeSizeText);
  ConvertForPreview();
}

void MainForm::ConvertForPreview() {
  JobState& job = session_.Job;
  job.CurrentInputPath = controls_.ListEntry(kInputList, controls_.ListSelection(kInputList));
  platform::CreateFolder(Folders().preview);
  job.PreviewTargetPath = Folders().preview + "/Temp.log";
  // An earlier preview's result must not pass for this one's when this conversion writes nothing.
  platform::DeleteFile(job.PreviewTargetPath);
  ShowFileInfo(AfterColumn);
  controls_.SetText(kAfterSizeEdit, session_.Information.AfterSizeText);
}

}  // namespace form
