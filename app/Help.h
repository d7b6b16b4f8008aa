// The help command and the recent-file list of the open command: the parts of the application
// shell that need no window of their own.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <string>

#include "platform/Shell.h"

namespace app {

// The help's top page, relative to a folder.
inline constexpr const char* kHelpPage = "HELP/HTop.html";
// The same page where an installed program keeps it, relative to the executable's folder.
inline constexpr const char* kInstalledHelpPage = "../share/tessellarion/HELP/HTop.html";
inline constexpr const char* kHelpMissingMessage = "HELPが見つかりませんでした。";

// Opens the help's top page: the one under the current folder when there is one, else the copy
// beside the executable (a program started from a launcher does not run in its own folder), else
// the installed copy under share/. When none exists, or no program can open it, the user is told
// that there is no help.
void OpenHelp(platform::Shell& shell, const std::string& executableFolder);

// The recent-file list that the open command keeps, as the application's settings hold it.
inline constexpr int kRecentFileCount = 4;
QStringList RecentFiles(QSettings& settings);
// Puts `path` at the head of the list, removing an earlier mention of it and whatever falls past
// the fourth entry.
void RememberRecentFile(QSettings& settings, const QString& path);

}  // namespace app
