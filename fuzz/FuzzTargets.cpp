#include "fuzz/FuzzTargets.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "imaging/BmpCodec.h"
#include "imaging/FileKind.h"
#include "imaging/Imaging.h"
#include "imaging/PhotoMetadata.h"
#include "platform/Headless.h"
#include "settings/SettingsFile.h"

namespace fuzztargets {
namespace {

// Replaces the file's content by the bytes.
bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

// The path of an in-memory file, made once per process, holding the bytes; empty when it cannot
// be filled.
std::string InputPath(std::span<const std::uint8_t> bytes) {
  static const int descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
  const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
  return descriptor >= 0 && WriteFile(path, bytes) ? path : std::string();
}

// Every field of the record within the range the settings validation keeps it in. The folder and
// the name are kept as read, however long, but always as one line without a NUL.
bool SettingsInRange(const engine::ConversionSettings& settings) {
  // clang-format off
  const long long ranges[][3] = {
      {settings.OutputFormatIndex, 0, 3}, {settings.SizeMode, 0, 2}, {settings.Width, 1, 2000},
      {settings.Height, 1, 2000}, {settings.BmpDepthIndex, 0, 3}, {settings.PngInterlace, 0, 1},
      {settings.JpegProgressive, 0, 1}, {settings.Compression, 0, 100},
      {settings.ColorEffectIndex, 0, 8}, {settings.CropEnabled, 0, 1}, {settings.CropX, 0, 2000},
      {settings.CropY, 0, 2000}, {settings.CropWidth, 0, 2000}, {settings.CropHeight, 0, 2000},
      {settings.NamingScheme, 0, 2}, {settings.RotationIndex, 0, engine::kRotationEntryCount - 1}};
  // clang-format on
  const auto oneLine = [](const std::string& text) {
    return text.find_first_of(std::string("\n\0", 2)) == std::string::npos;
  };
  return std::ranges::all_of(
             ranges,
             [](const auto& range) { return range[0] >= range[1] && range[0] <= range[2]; }) &&
         !settings.OutputFolder.empty() && oneLine(settings.OutputFolder) &&
         oneLine(settings.CustomName);
}

// What a save cannot show by reading the controls back: each radio group has exactly the
// record's button checked, and the folder box (which no save reads) shows the record's folder.
bool SettingsShown(const platform::HeadlessControls& controls,
                   const engine::ConversionSettings& settings) {
  using namespace engine;
  const std::pair<ControlId, int> groups[] = {{kFormatBmpRadio, settings.OutputFormatIndex},
                                              {kSizeKeepRadio, settings.SizeMode},
                                              {kNamingKeepRadio, settings.NamingScheme}};
  for (const auto& [first, index] : groups) {
    for (int button = 0; button < (first == kFormatBmpRadio ? 4 : 3); ++button) {
      if (controls.IsChecked(first + button) != (button == index)) return false;
    }
  }
  return controls.Text(kOutputFolderEdit) == settings.OutputFolder;
}

// Starts a fresh form in `folder` as a new process would, checks the settings it loaded, then
// saves them as Execute does. Returns the loaded record as file text; nothing when a check fails.
std::optional<std::string> StartAndSave(const std::string& folder) {
  platform::HeadlessControls controls(form::MainFormControls());
  platform::HeadlessShell shell;
  form::MainForm form(controls, shell, folder);
  form.InitialUpdate();
  engine::Session& session = form.Session();
  if (!SettingsInRange(session.Settings) || !SettingsShown(controls, session.Settings)) {
    return std::nullopt;
  }
  std::string text = settings::SettingsFileText(session.Settings);
  settings::SyncSettingsFile(controls, session.Settings, session.Job.SettingsFolder,
                             settings::SettingsFileMode::Save);
  return text;
}

}  // namespace

bool BmpRoundTrip(std::span<const std::uint8_t> bytes) {
  const std::optional<imaging::Bitmap> first = imaging::bmp::Decode(bytes);
  if (!first) return true;
  if (first->depth != imaging::ColorDepth::kTrue24 ||
      first->pixels.size() != first->PixelCount() * 3) {
    return false;
  }
  // Written as a 24-bit BMP to the in-memory file, and read back from there.
  const std::string path = InputPath({});
  std::FILE* stream = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
  const bool encoded = stream != nullptr && imaging::bmp::Encode(*first, stream);
  if (stream == nullptr || std::fclose(stream) != 0 || !encoded) return false;
  const std::optional<imaging::Bitmap> second = imaging::bmp::Decode(imaging::FileSource(path));
  return second && second->width == first->width && second->height == first->height &&
         second->pixels == first->pixels;
}

bool LoadImage(std::span<const std::uint8_t> bytes) {
  // An empty path (the bytes could not be written) gives kind 0, and the target fails.
  const std::string path = InputPath(bytes);
  const std::int32_t kind = path.empty() ? 0 : imaging::ProbeFileKind(path, 0);
  if (kind < imaging::kFileKindBmp || kind > imaging::kFileKindUnknown) return false;
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  if (handle == 0) return true;
  // Only the three loadable kinds (BMP, JPEG and PNG, the first three) may give an image, and it
  // must be a 24-bit image within the limits whose last pixel can be read.
  imaging::ImageInfoRecord record{};
  bool kept = kind <= imaging::kFileKindPng && imaging::GetImageInfo(handle, record) == 1 &&
              record[0] == 24 && imaging::SizeWithinLimits(record[1], record[2]) &&
              record[5] == record[1] * 3;
  if (kept) imaging::ReadPixelColor(handle, record[1] - 1, record[2] - 1);
  return imaging::FreeImage(handle) == 1 && kept;
}

bool PhotoMetadata(std::span<const std::uint8_t> bytes) {
  const int orientation = imaging::ExifOrientation(bytes);
  if (orientation < 1 || orientation > 8) return false;
  for (const bool dropThumbnail : {false, true}) {
    const auto rewritten =
        imaging::RewriteExif(bytes, {true, dropThumbnail, std::pair{4032, 3024}});
    if (rewritten && rewritten->size() > bytes.size()) return false;
  }
  std::vector<imaging::JpegSegment> segments;
  for (std::size_t at = 0; at < bytes.size();) {
    const int marker = (bytes[at] & 1) != 0 ? imaging::kMarkerApp1 : imaging::kMarkerApp2;
    const std::size_t length =
        at + 2 < bytes.size() ? (std::size_t{bytes[at + 1]} << 8) | bytes[at + 2] : 0;
    const std::size_t start = std::min(at + 3, bytes.size());
    const std::size_t end = std::min(start + length, bytes.size());
    segments.push_back({marker, std::vector(bytes.data() + start, bytes.data() + end)});
    at = end;
  }
  const imaging::PhotoMetadata metadata = imaging::MetadataFromJpegSegments(segments);
  const imaging::PhotoMetadata again =
      imaging::MetadataFromJpegSegments(imaging::JpegSegmentsFor(metadata));
  // EXIF and XMP travel when they fit one segment beside their name.
  const bool exifFits = metadata.exif.size() + 6 <= imaging::kMaxSegmentBytes;
  const bool xmpFits = metadata.xmp.size() + 29 <= imaging::kMaxSegmentBytes;
  if (again.icc != metadata.icc || (exifFits && again.exif != metadata.exif) ||
      (xmpFits && again.xmp != metadata.xmp)) {
    return false;
  }
  for (const bool turned : {false, true}) {
    const imaging::PhotoMetadata output = imaging::MetadataForOutput(
        metadata, {.width = 1, .height = 2, .turnedUpright = turned, .pixelsAsStored = !turned});
    if (output.exif.size() > metadata.exif.size() || output.xmp.size() != metadata.xmp.size()) {
      return false;
    }
  }
  return true;
}

bool ProbeFileKind(std::span<const std::uint8_t> bytes) {
  std::string path = InputPath(bytes);
  const std::int32_t kind = path.empty() ? 0 : imaging::ProbeFileKind(path, 0);
  if (kind < imaging::kFileKindBmp || kind > imaging::kFileKindUnknown) return false;
  // Only the leading bytes decide: the file cut to them is of the same kind.
  path = InputPath(bytes.first(std::min(bytes.size(), imaging::kFileKindProbeBytes)));
  if (path.empty() || imaging::ProbeFileKind(path, 0) != kind) return false;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (kind == imaging::kFileKindBmp) return imaging::bmp::Sniff(bytes);
  if (kind == imaging::kFileKindJpeg) return text.starts_with("\xFF\xD8\xFF");
  return kind != imaging::kFileKindPng || text.starts_with("\x89PNG\r\n\x1A\n");
}

bool LoadSettingsFile(std::span<const std::uint8_t> bytes) {
  // A fresh folder stands in for the executable's folder.
  std::string folder = std::filesystem::temp_directory_path() / "tessellarion-fuzz-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return false;
  folder += "/";
  std::filesystem::create_directory(folder + "LogFile");
  // The second start loads what the first one saved, and must find the same settings.
  const std::optional<std::string> first =
      WriteFile(folder + "LogFile/Log.ini", bytes) ? StartAndSave(folder) : std::nullopt;
  const std::optional<std::string> second = first ? StartAndSave(folder) : std::nullopt;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
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
  // The name ends where the extension's dot starts: it holds no separator, and it keeps every
  // multi-byte character of the text whole, since a dot is never part of one.
  const std::string tailExtension = form::ExtensionOf(tail);
  return tailExtension.empty() ? name == tail : tail == name + "." + tailExtension;
}

}  // namespace fuzztargets
