#include "fuzz/FuzzTargets.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "imaging/BmpCodec.h"
#include "imaging/FileKind.h"
#include "imaging/Imaging.h"
#include "platform/Headless.h"
#include "settings/SettingsFile.h"

namespace fuzztargets {
namespace {

// A 24-bit BMP of the bitmap, written through a memory stream; nothing when writing fails.
std::optional<std::vector<std::uint8_t>> EncodeInMemory(const imaging::Bitmap& bitmap) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  if (stream == nullptr) return std::nullopt;
  const bool written = imaging::bmp::Encode(bitmap, stream);
  const bool closed = std::fclose(stream) == 0;
  std::optional<std::vector<std::uint8_t>> bytes;
  if (written && closed) bytes.emplace(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

// The in-memory file the load target fills for every input, made once per process.
int InputFile() {
  static const int descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
  return descriptor;
}

bool FillInputFile(int descriptor, std::span<const std::uint8_t> bytes) {
  if (ftruncate(descriptor, 0) != 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written =
        pwrite(descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// The in-memory file filled with the bytes, by its /proc path; empty when it cannot be filled.
std::string InputPath(std::span<const std::uint8_t> bytes) {
  const int descriptor = InputFile();
  if (descriptor < 0 || !FillInputFile(descriptor, bytes)) return {};
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// A folder of this process standing in for the executable's folder, removed when the process ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tessellarion-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool InRange(long long value, long long minimum, long long maximum) {
  return value >= minimum && value <= maximum;
}

// Every field of the record within the range the settings validation keeps it in.
bool SettingsInRange() {
  const engine::ConversionSettings& settings = engine::Settings();
  const auto text = [](const std::string& value, std::size_t limit) {
    return value.size() <= limit &&
           value.find_first_of(std::string("\n\0", 2)) == std::string::npos;
  };
  return InRange(settings.OutputFormatIndex, 0, 3) && InRange(settings.SizeMode, 0, 2) &&
         InRange(settings.Width, 1, 2000) && InRange(settings.Height, 1, 2000) &&
         InRange(settings.BmpDepthIndex, 0, 3) && InRange(settings.PngInterlace, 0, 1) &&
         InRange(settings.JpegProgressive, 0, 1) && InRange(settings.Compression, 0, 100) &&
         InRange(settings.ColorEffectIndex, 0, 8) &&
         InRange(settings.RotationIndex, 0, engine::kRotationEntryCount - 1) &&
         InRange(settings.CropEnabled, 0, 1) && InRange(settings.CropX, 0, 2000) &&
         InRange(settings.CropY, 0, 2000) && InRange(settings.CropWidth, 0, 2000) &&
         InRange(settings.CropHeight, 0, 2000) && InRange(settings.NamingScheme, 0, 2) &&
         !settings.OutputFolder.empty() && text(settings.OutputFolder, PATH_MAX - 1) &&
         text(settings.CustomName, NAME_MAX);
}

// The controls show exactly the record: one button of each group, the record's, and the values.
bool SettingsShown(const platform::HeadlessControls& controls) {
  using namespace engine;
  const ConversionSettings& settings = Settings();
  const auto group = [&](ControlId first, int count, int index) {
    for (int button = 0; button < count; ++button) {
      if (controls.IsChecked(first + button) != (button == index)) return false;
    }
    return true;
  };
  return group(kFormatBmpRadio, 4, settings.OutputFormatIndex) &&
         group(kSizeKeepRadio, 3, settings.SizeMode) &&
         group(kNamingKeepRadio, 3, settings.NamingScheme) &&
         controls.IsChecked(kPngInterlaceCheck) == (settings.PngInterlace == 1) &&
         controls.IsChecked(kJpegProgressiveCheck) == (settings.JpegProgressive == 1) &&
         controls.IsChecked(kCropCheck) == (settings.CropEnabled == 1) &&
         controls.ComboSelection(kBmpDepthCombo) == settings.BmpDepthIndex &&
         controls.ComboSelection(kRotationCombo) == settings.RotationIndex &&
         controls.ComboSelection(kColorEffectCombo) == settings.ColorEffectIndex &&
         controls.SliderPosition(kCompressionSlider) == settings.Compression &&
         controls.Text(kWidthEdit) == std::to_string(settings.Width) &&
         controls.Text(kHeightEdit) == std::to_string(settings.Height) &&
         controls.Text(kCropXEdit) == std::to_string(settings.CropX) &&
         controls.Text(kCropYEdit) == std::to_string(settings.CropY) &&
         controls.Text(kCropWidthEdit) == std::to_string(settings.CropWidth) &&
         controls.Text(kCropHeightEdit) == std::to_string(settings.CropHeight) &&
         controls.Text(kOutputFolderEdit) == settings.OutputFolder &&
         controls.Text(kCustomNameEdit) == settings.CustomName;
}

// Starts a fresh form in `folder` as a new process would, checks the settings it loaded, then
// saves them as Execute does. Returns the loaded record as file text; nothing when a check fails.
std::optional<std::string> StartAndSave(const std::string& folder) {
  engine::ResetProcessState();
  platform::HeadlessControls controls(form::MainFormControls());
  platform::HeadlessShell shell;
  form::MainForm form(controls, shell, folder);
  form.InitialUpdate();
  if (!SettingsInRange() || !SettingsShown(controls)) return std::nullopt;
  std::string text = settings::SettingsFileText();
  settings::SyncSettingsFile(controls, settings::SettingsFileMode::Save);
  return text;
}

// Structurally valid UTF-8: every lead byte followed by as many continuation bytes as it announces.
bool ValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x06 ? 2
                               : (lead >> 4) == 0x0E ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || length > text.size() - at) return false;
    for (std::size_t next = at + 1; next < at + length; ++next) {
      if ((static_cast<unsigned char>(text[next]) & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

}  // namespace

bool BmpRoundTrip(std::span<const std::uint8_t> bytes) {
  const std::optional<imaging::Bitmap> first = imaging::bmp::Decode(bytes);
  if (!first) return true;
  if (first->depth != imaging::ColorDepth::kTrue24 ||
      first->pixels.size() != first->PixelCount() * 3) {
    return false;
  }
  const std::optional<std::vector<std::uint8_t>> encoded = EncodeInMemory(*first);
  if (!encoded) return false;
  const std::optional<imaging::Bitmap> second = imaging::bmp::Decode(*encoded);
  return second && second->width == first->width && second->height == first->height &&
         second->pixels == first->pixels;
}

bool LoadImage(std::span<const std::uint8_t> bytes) {
  const std::string path = InputPath(bytes);
  if (path.empty()) return false;
  const std::int32_t kind = imaging::ProbeFileKind(path, 0);
  if (kind < imaging::kFileKindBmp || kind > imaging::kFileKindUnknown) return false;
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  if (handle == 0) return true;
  // Only the three loadable kinds may give an image, and it must be a 24-bit image within the
  // limits whose last pixel can be read.
  imaging::ImageInfoRecord record{};
  bool kept = (kind == imaging::kFileKindBmp || kind == imaging::kFileKindJpeg ||
               kind == imaging::kFileKindPng) &&
              imaging::GetImageInfo(handle, record) == 1 && record[0] == 24 &&
              imaging::SizeWithinLimits(record[1], record[2]) && record[5] == record[1] * 3;
  if (kept) imaging::ReadPixelColor(handle, record[1] - 1, record[2] - 1);
  kept = imaging::FreeImage(handle) == 1 && kept;
  return kept;
}

bool ProbeFileKind(std::span<const std::uint8_t> bytes) {
  std::string path = InputPath(bytes);
  if (path.empty()) return false;
  const std::int32_t kind = imaging::ProbeFileKind(path, 0);
  if (kind < imaging::kFileKindBmp || kind > imaging::kFileKindUnknown) return false;
  // Only the leading bytes decide: the file cut to them is of the same kind.
  const std::span<const std::uint8_t> leading =
      bytes.first(std::min(bytes.size(), imaging::kFileKindProbeBytes));
  path = InputPath(leading);
  if (path.empty() || imaging::ProbeFileKind(path, 0) != kind) return false;
  const auto startsWith = [&](std::initializer_list<std::uint8_t> signature) {
    return bytes.size() >= signature.size() &&
           std::equal(signature.begin(), signature.end(), bytes.begin());
  };
  switch (kind) {
    case imaging::kFileKindBmp:
      return imaging::bmp::Sniff(bytes);
    case imaging::kFileKindJpeg:
      return startsWith({0xFF, 0xD8, 0xFF});
    case imaging::kFileKindPng:
      return startsWith({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    default:
      return true;
  }
}

bool LoadSettingsFile(std::span<const std::uint8_t> bytes) {
  static const ScratchFolder scratch;
  const std::string& folder = scratch.Path();
  if (folder.empty()) return false;
  std::filesystem::create_directory(folder + "LogFile");
  const std::string file = folder + "LogFile/Log.ini";
  const int descriptor = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool filled = descriptor >= 0 && FillInputFile(descriptor, bytes);
  if (descriptor >= 0) close(descriptor);
  if (!filled) return false;
  // The second start loads what the first one saved, and must find the same settings.
  const std::optional<std::string> first = StartAndSave(folder);
  if (!first) return false;
  const std::optional<std::string> second = StartAndSave(folder);
  return second && *second == *first;
}

bool FileNameParts(std::span<const std::uint8_t> bytes) {
  const std::string path(bytes.begin(), bytes.end());
  const std::string extension = form::ExtensionOf(path);
  if (extension.find('.') != std::string::npos) return false;
  const bool dotted = path.find('.') != std::string::npos;
  if (dotted ? !path.ends_with("." + extension) : !extension.empty()) return false;

  const std::string name = form::FileNameOf(path);
  const std::size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return name.empty();
  const std::string tail = path.substr(separator + 1);
  if (name.find_first_of("/\\") != std::string::npos || !tail.starts_with(name)) return false;
  const std::string tailExtension = form::ExtensionOf(tail);
  const bool whole = tailExtension.empty() ? name == tail : tail == name + "." + tailExtension;
  return whole && (!ValidUtf8(path) || ValidUtf8(name));
}

}  // namespace fuzztargets
