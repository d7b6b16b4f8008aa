#include "app/Help.h"

#include <sys/stat.h>

#include "platform/FileSystem.h"

namespace app {
namespace {

constexpr const char* kRecentGroup = "Recent File List";

bool IsFile(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

QString RecentKey(int index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

void OpenHelp(platform::Shell& shell, const std::string& executableFolder) {
  const std::string current = platform::CurrentFolder();
  std::string page;
  if (!current.empty()) {
    page = (current == "/" ? current : current + "/") + kHelpPage;
  }
  if (page.empty() || !IsFile(page)) {
    page = executableFolder.empty() ? std::string() : executableFolder + kHelpPage;
    if (page.empty() || !IsFile(page)) {
      shell.ShowMessage(kHelpMissingMessage);
      return;
    }
  }
  shell.OpenDocument(page);
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
