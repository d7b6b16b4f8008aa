// The output folder button.
#include <string>

#include "engine/ControlIds.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "settings/SettingsFile.h"

namespace form {
namespace {

constexpr const char* kLineFeedMessage = "改行を含む名前のフォルダは出力先にできません。";

}  // namespace

void MainForm::ChooseOutputFolder() {
  const std::string currentFolder = platform::CurrentFolder();
  const platform::FolderChoice choice = shell_.ChooseFolder("フォルダを指定してください");
  // The settings file keeps the folder as one line, so a folder whose name holds a line feed
  // could not be stored; it is refused and the folder stays as it was.
  const bool chosen = choice.outcome == platform::FolderChoiceOutcome::kChosen;
  if (chosen && choice.path.find('\n') != std::string::npos) {
    shell_.ShowMessage(kLineFeedMessage);
  } else if (chosen && !choice.path.empty()) {
    // The chosen folder is kept as it is; only a missing final separator is added, so the root
    // stays "/".
    std::string folder = choice.path;
    if (folder.back() != '/') folder += '/';
    session_.Settings.OutputFolder = folder;
    controls_.SetText(engine::kOutputFolderEdit, folder);
    SyncSettings(settings::SettingsFileMode::Save);
  }
  if (!currentFolder.empty()) platform::SetCurrentFolder(currentFolder);
}

}  // namespace form
