#include "platform/WorkingFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/TemporaryFiles.h"

namespace platform {
namespace {

constexpr const char* kPortableFolderName = "LogFile";

bool IsFolder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Whether a file can be created in the folder: a real write, since permission bits alone do not
// tell (a read-only mount, an ACL, root's override).
bool CanWriteIn(const std::string& folder) {
  RegisteredTemporary probe(folder + "/.tessellarion-probe-");
  if (probe.Descriptor() < 0) return false;
  close(probe.Descriptor());
  unlink(probe.Path().c_str());
  return true;
}

// Folders under /usr belong to the package manager; /usr/local is the administrator's own.
bool IsSystemFolder(const std::string& folder) {
  return folder.starts_with("/usr/") && !folder.starts_with("/usr/local/");
}

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.ends_with('/')) folder.pop_back();
  return folder;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return WithoutTrailingSlashes(home);
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? WithoutTrailingSlashes(entry->pw_dir) : "";
}

// The home folder as an output folder, ending in "/".
std::string OutputFolderAtHome() {
  const std::string home = HomeFolder();
  return home == "/" ? home : home + "/";
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback under home.
std::string BaseFolder(const char* variable, const char* underHome) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return WithoutTrailingSlashes(value);
  return HomeFolder() + "/" + underHome;
}

}  // namespace

bool CreateFolders(const std::string& path, unsigned mode) {
  if (path.empty() || IsFolder(path)) return !path.empty();
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) CreateFolders(path.substr(0, slash), mode);
  return (mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 || errno == EEXIST) && IsFolder(path);
}

WorkingFolders ChooseWorkingFolders(const std::string& executableFolder) {
  const std::string portable = executableFolder + kPortableFolderName;
  if (!executableFolder.empty() && !IsSystemFolder(executableFolder)) {
    mkdir(portable.c_str(), 0777);
    if (IsFolder(portable) && CanWriteIn(portable)) return {portable, portable, executableFolder};
  }
  // The user's folders are private to the user, as the desktop's base directories are.
  constexpr unsigned kPrivate = 0700;
  WorkingFolders folders{BaseFolder("XDG_CONFIG_HOME", ".config") + "/" + kUserFolderName,
                         BaseFolder("XDG_CACHE_HOME", ".cache") + "/" + kUserFolderName,
                         OutputFolderAtHome()};
  CreateFolders(folders.settings, kPrivate);
  CreateFolders(folders.preview, kPrivate);
  return folders;
}

}  // namespace platform
