// The output folder button.
#include <string>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "settings/SettingsFile.h"

namespace form {

void MainForm::ChooseOutputFolder() {
  const std::string currentFolder = platform::CurrentFolder();
  const platform::FolderChoice choice = shell_.ChooseFolder("フォルダを指定してください");
  if (choice.outcome == platform::FolderChoiceOutcome::kChosen && !choice.path.empty()) {
    // The chosen folder is kept as it is; only a missing final separator is added, so the root
    // stays "/".
    std::string folder = choice.path;
    if (folder.back() != '/') folder += '/';
    engine::Settings().OutputFolder = folder;
    controls_.SetText(engine::kOutputFolderEdit, folder);
    settings::SyncSettingsFile(controls_, settings::SettingsFileMode::Save);
  }
  if (!currentFolder.empty()) platform::SetCurrentFolder(currentFolder);
}

}  // namespace form
