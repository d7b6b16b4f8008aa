// The settings file Log.ini in the settings folder (LogFile beside the executable, or the user's
// configuration folder; see platform/WorkingFolders.h): every ConversionSettings field, one per
// line, after a header line.
//
// Whatever the file holds, a load ends with valid settings: a missing, unreadable or foreign file
// (a folder or a pipe in its place, a wrong header) is reset, a value out of its range takes its
// fallback, and only the first 16 MB are read. A UTF-8 byte-order mark before the header is
// skipped. The folder and the name end at a NUL byte; a folder or name too long for the system is
// kept as read, so the run fails on it visibly instead of writing elsewhere or under other names.
#pragma once

#include <string>

#include "engine/Session.h"
#include "platform/Controls.h"

namespace settings {

enum class SettingsFileMode {
  Save = 0,   // read the controls, validate, rewrite the file
  Load = 1,   // read the file into the record and the controls (Reset when the header is wrong)
  Reset = -1  // reset the resettable fields, show them, then Save
};

inline constexpr const char* kHeader = "TessellarionVer102";
// How many leading characters of the header line must match for the file to be read.
inline constexpr std::size_t kHeaderCheckLength = 10;

// The settings file in the settings folder (the job state's SettingsFolder).
std::string SettingsFilePath(const std::string& settingsFolder);

// The only access to the settings file, Log.ini in `settingsFolder`, with `settings` as the record.
// Reports nothing: a file or folder that cannot be written leaves the record and the controls as
// they are after the mode's steps.
void SyncSettingsFile(platform::Controls& controls, engine::ConversionSettings& settings,
                      const std::string& settingsFolder, SettingsFileMode mode);

// The 19 lines the file holds for the record, line feeds as "\n". A folder or name that holds a
// line feed is written as an empty line, so the lines after it stay in place.
std::string SettingsFileText(const engine::ConversionSettings& settings);

}  // namespace settings
