#include "settings/SettingsFile.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ConversionSettings.h"
#include "engine/SettingRows.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"

namespace settings {
namespace {

using engine::ConversionSettings;

// The first line of the file as the header check sees it: at most 39 characters.
constexpr std::size_t kHeaderLineLimit = 39;
// A UTF-8 byte-order mark, which some editors put in front of the first line when they save the
// file; it is skipped, so the header after it still counts.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// A text line of the file up to its first NUL byte. No path or file name can hold a NUL, and the
// system would read every use of the text only up to it anyway, so the field ends there.
std::string TextField(std::string line) {
  line.resize(std::min(line.size(), line.find('\0')));
  return line;
}

// A text field as its line of the file. A text holding a line feed would take two lines and move
// every later field, so it is stored as an empty line instead, which loads as "not given".
std::string AsOneLine(const std::string& text) {
  return text.find('\n') == std::string::npos ? text : std::string();
}

bool HeaderMatches(const std::string& text) {
  const std::string firstLine = text.substr(0, text.find('\n')).substr(0, kHeaderLineLimit);
  return firstLine.size() >= kHeaderCheckLength &&
         firstLine.compare(0, kHeaderCheckLength, kHeader, kHeaderCheckLength) == 0;
}

void Save(platform::Controls& controls, ConversionSettings& settings,
          const std::string& settingsFolder) {
  engine::SettingsFromControls(controls, settings);
  engine::ValidateSettings(controls, settings);
  platform::WriteTextFile(SettingsFilePath(settingsFolder), SettingsFileText(settings));
}

void Reset(platform::Controls& controls, ConversionSettings& settings,
           const std::string& settingsFolder) {
  for (const engine::SettingRow& row : engine::SettingRows()) {
    if (row.reset) row.Set(settings, row.fallback);
  }
  engine::SettingsToControls(controls, settings);
  Save(controls, settings, settingsFolder);
}

// A numeric field of the file. A number beyond the signed 32-bit range cannot be any field's valid
// value, so it becomes one that validation replaces by the fallback.
std::int32_t NumberField(const std::string& token) {
  return engine::ReadNumberInRange(token).value_or(INT32_MIN);
}

// A switch is on for any non-zero number, however many digits it has.
std::uint8_t SwitchField(const std::string& token) {
  return engine::ReadNumber(token) != 0 ? 1 : 0;
}

// Reads the file's fields in order. Fields after the end of the text keep the values the record
// took from the controls.
void ReadFields(const std::string& text, ConversionSettings& settings) {
  platform::TextScanner scanner(text);
  scanner.ReadRestOfLine();  // the header line
  // The folder is the whole of line 2, without the blanks it starts with; an empty line keeps the
  // folder the record already holds. A folder too long for the system is kept as it is: the
  // outputs then fail to be written and are counted, where another folder would take them
  // unasked.
  std::string folder = TextField(scanner.ReadRestOfLine());
  folder.erase(0, folder.find_first_not_of(" \t"));
  if (!folder.empty()) settings.OutputFolder = folder;

  const std::span<const engine::SettingRow> rows = engine::SettingRows();
  std::vector<std::string> tokens;
  while (tokens.size() < rows.size()) {
    std::string token = scanner.ReadToken();
    if (token.empty()) break;
    scanner.SkipWhiteSpace();
    tokens.push_back(std::move(token));
  }
  for (std::size_t index = 0; index < tokens.size(); ++index) {
    const engine::SettingRow& row = rows[index];
    row.Set(settings,
            row.flag != nullptr ? SwitchField(tokens[index]) : NumberField(tokens[index]));
  }
  // The white space after the last number is already skipped, so blanks that start the name are
  // not part of it, and an empty last line leaves the name empty. A name too long for a file name
  // is kept as it is: its outputs fail and are counted, where an empty name would quietly write
  // numbers only, over the files of an earlier numbered run.
  if (tokens.size() == rows.size()) settings.CustomName = TextField(scanner.ReadRestOfLine());
}

}  // namespace

std::string SettingsFilePath(const std::string& settingsFolder) {
  return settingsFolder + "/Log.ini";
}

std::string SettingsFileText(const ConversionSettings& settings) {
  std::string text = std::string(kHeader) + "\n" + AsOneLine(settings.OutputFolder) + "\n";
  for (const engine::SettingRow& row : engine::SettingRows()) {
    text += std::to_string(row.Get(settings)) + "\n";
  }
  text += AsOneLine(settings.CustomName) + "\n";
  return text;
}

void SyncSettingsFile(platform::Controls& controls, ConversionSettings& settings,
                      const std::string& settingsFolder, SettingsFileMode mode) {
  engine::SettingsFromControls(controls, settings);
  platform::CreateFolder(settingsFolder);
  platform::TouchFile(SettingsFilePath(settingsFolder));

  switch (mode) {
    case SettingsFileMode::Save:
      Save(controls, settings, settingsFolder);
      return;
    case SettingsFileMode::Reset:
      Reset(controls, settings, settingsFolder);
      return;
    case SettingsFileMode::Load:
      break;
  }
  std::optional<std::string> text = platform::ReadTextFile(SettingsFilePath(settingsFolder));
  if (text && text->starts_with(kByteOrderMark)) text->erase(0, kByteOrderMark.size());
  if (!text || !HeaderMatches(*text)) {
    Reset(controls, settings, settingsFolder);
    return;
  }
  ReadFields(*text, settings);
  engine::ValidateSettings(controls, settings);
  engine::SettingsToControls(controls, settings);
}

}  // namespace settings
