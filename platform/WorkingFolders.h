// Where the program keeps its settings file and its quality preview: the folder LogFile beside the
// executable (a folder that runs where it lands), or, for an installed copy whose folder the user
// cannot write, the user's own configuration and cache folders.
#pragma once

#include <string>

namespace platform {

// The name of the program's folder in the user's configuration and cache folders.
inline constexpr const char* kUserFolderName = "tessellarion";

struct WorkingFolders {
  std::string settings;  // holds Log.ini; no trailing "/"
  std::string preview;   // holds LOG.html, Now.log and Temp.log; no trailing "/"
  // The output folder a first start proposes, ending in "/": the executable's folder beside the
  // portable LogFile, else the user's home folder (an installed program's folder is not the
  // user's to write).
  std::string output;
};

// LogFile beside the executable for both, when that folder exists or can be created there and a
// file can be written in it; a program under /usr (but not /usr/local) never writes beside
// itself, even for root. Otherwise $XDG_CONFIG_HOME/tessellarion for the settings and
// $XDG_CACHE_HOME/tessellarion for the preview (~/.config and ~/.cache when the variable is unset
// or not an absolute path), created with their parents when missing. `executableFolder` ends in
// "/".
WorkingFolders ChooseWorkingFolders(const std::string& executableFolder);

// Creates a folder and any missing parents, new ones with `mode`. True when the folder exists
// afterwards.
bool CreateFolders(const std::string& path, unsigned mode = 0777);

}  // namespace platform
