#include "app/Help.h"

#include <vector>

#include "platform/FileSystem.h"

namespace app {
namespace {

constexpr const char* kRecentGroup = "Recent File List";

QString RecentKey(int index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

void OpenHelp(platform::Shell& shell, const std::string& executableFolder) {
  std::vector<std::string> candidates;
  const std::string current = platform::InCurrentFolder(kHelpPage);
  if (current.starts_with('/')) candidates.push_back(current);
  if (!executableFolder.empty()) {
    candidates.push_back(executableFolder + kHelpPage);
    candidates.push_back(executableFolder + kInstalledHelpPage);
  }
  for (const std::string& page : candidates) {
    if (!platform::FileSize(page)) continue;  // only a regular file has a size
    // A page that no program can open is as good as none.
    if (!shell.OpenDocument(page)) shell.ShowMessage(kHelpMissingMessage);
    return;
  }
  shell.ShowMessage(kHelpMissingMessage);
}

QStringList RecentFiles(QSettings& settings) {
  QStringList files;
  settings.beginGroup(QString::fromUtf8(kRecentGroup));
  for (int index = 0; index < kRecentFileCount; ++index) {
    const QString file = settings.value(RecentKey(index)).toString();
    if (!file.isEmpty()) files << file;
  }
  settings.endGroup();
  return files;
}

void RememberRecentFile(QSettings& settings, const QString& path) {
  QStringList files = RecentFiles(settings);
  files.removeAll(path);
  files.prepend(path);
  settings.beginGroup(QString::fromUtf8(kRecentGroup));
  for (int index = 0; index < kRecentFileCount; ++index) {
    if (index < files.size()) {
      settings.setValue(RecentKey(index), files[index]);
    } else {
      settings.remove(RecentKey(index));
    }
  }
  settings.endGroup();
  settings.sync();
}

}  // namespace app
