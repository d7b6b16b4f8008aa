#include "fuzz/FuzzTargets.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/SettingRows.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "imaging/BmpCodec.h"
#include "imaging/ByteSource.h"
#include "imaging/ColorProfile.h"
#include "imaging/FileKind.h"
#include "imaging/HeifCodec.h"
#include "imaging/Imaging.h"
#include "imaging/PhotoMetadata.h"
#include "imaging/WebpCodec.h"
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
  const auto oneLine = [](const std::string& text) {
    return text.find_first_of(std::string("\n\0", 2)) == std::string::npos;
  };
  return std::ranges::all_of(
             engine::SettingRows(),
             [&](const engine::SettingRow& row) { return row.InRange(row.Get(settings)); }) &&
         !settings.OutputFolder.empty() && oneLine(settings.OutputFolder) &&
         oneLine(settings.CustomName);
}

// What a save cannot show by reading the controls back: each radio group has exactly the
// record's button checked, and the folder box (which no save reads) shows the record's folder.
bool SettingsShown(const platform::HeadlessControls& controls,
                   const engine::ConversionSettings& settings) {
  using namespace engine;
  for (const SettingRow& row : SettingRows()) {
    if (row.control != SettingControl::kRadioGroup) continue;
    for (std::size_t button = 0; button < row.controls.size(); ++button) {
      const bool chosen = static_cast<int>(button) == row.Get(settings);
      if (controls.IsChecked(row.controls[button]) != chosen) return false;
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
  const imaging::Result<imaging::Bitmap> first = imaging::bmp::Decode(bytes);
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
  const imaging::Result<imaging::Bitmap> second = imaging::bmp::Decode(imaging::FileSource(path));
  return second && second->width == first->width && second->height == first->height &&
         second->pixels == first->pixels;
}

bool LoadImage(std::span<const std::uint8_t> bytes) {
  // An empty path (the bytes could not be written) gives kind 0, and the target fails.
  const std::string path = InputPath(bytes);
  const std::int32_t kind = path.empty() ? 0 : imaging::ProbeFileKind(path, 0);
  const imaging::FileKindSignature* row = imaging::FindFileKind(kind);
  if (row == nullptr && kind != imaging::kFileKindUnknown) return false;
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  if (handle == 0) return true;
  // Only a kind that loads may give an image, and it must be a 24-bit image within the limits
  // whose last pixel can be read.
  imaging::ImageInfoRecord record{};
  bool kept = row != nullptr && row->loads && imaging::GetImageInfo(handle, record) == 1 &&
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

bool ColorProfile(std::span<const std::uint8_t> bytes) {
  imaging::PhotoMetadata metadata;
  metadata.icc.assign(bytes.begin(), bytes.end());
  if (metadata.icc.size() >= 4) {
    for (std::size_t i = 0; i < 4; ++i)
      metadata.icc[i] = static_cast<std::uint8_t>(metadata.icc.size() >> (24 - 8 * i));
  }
  imaging::CheckMetadata(metadata);
  const std::shared_ptr<const imaging::ColorTransform> transform =
      imaging::TransformToSrgb(metadata.icc);
  if (transform == nullptr) return true;
  // 256 pixels: the grey ramp, with the cube's corners over its first eight.
  constexpr std::size_t kPixels = 256;
  std::vector<std::uint8_t> samples(kPixels * 4);
  for (std::size_t pixel = 0; pixel < kPixels; ++pixel) {
    for (std::size_t channel = 0; channel < 4; ++channel) {
      const bool corner = pixel < 8 && channel < 3;
      samples[pixel * 4 + channel] =
          static_cast<std::uint8_t>(corner ? ((pixel >> channel) & 1) * 255 : pixel);
    }
  }
  // Converted twice, the second time as another worker would while the first still runs.
  std::vector<std::uint8_t> first(kPixels * 3);
  std::vector<std::uint8_t> second(kPixels * 3);
  if (transform->From() == imaging::ColorTransform::Source::kCmyk) {
    std::vector<std::uint8_t> ink = samples;
    transform->ConvertCmyk(ink.data(), first.data(), kPixels, false);
    ink = samples;
    transform->ConvertCmyk(ink.data(), second.data(), kPixels, false);
  } else {
    for (std::size_t pixel = 0; pixel < kPixels; ++pixel) {
      std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(pixel * 4), 3,
                  first.begin() + static_cast<std::ptrdiff_t>(pixel * 3));
    }
    second = first;
    transform->ConvertRgb(first.data(), kPixels);
    transform->ConvertRgb(second.data(), kPixels);
  }
  return first == second;
}

bool ProbeFileKind(std::span<const std::uint8_t> bytes) {
  std::string path = InputPath(bytes);
  const std::int32_t kind = path.empty() ? 0 : imaging::ProbeFileKind(path, 0);
  const imaging::FileKindSignature* row = imaging::FindFileKind(kind);
  if (row == nullptr && kind != imaging::kFileKindUnknown) return false;
  const std::span<const std::uint8_t> leading =
      bytes.first(std::min(bytes.size(), imaging::kFileKindProbeBytes));
  if (imaging::KindNeedsWholeFile(leading)) {
    // The kind the brands or the first chunk name, the codec of the primary image for brands
    // that name none, or not recognised when the headers do not read.
    const std::int32_t leadingKind = imaging::FileKindOfBytes(leading);
    const bool heif = imaging::heif::Sniff(leading) != imaging::heif::Codec::kNone;
    return kind == imaging::kFileKindUnknown || kind == leadingKind ||
           (heif && leadingKind == imaging::kFileKindUnknown &&
            (kind == imaging::kFileKindHeic || kind == imaging::kFileKindAvif));
  }
  // Only the leading bytes decide: the file cut to them is of the same kind.
  path = InputPath(leading);
  if (path.empty() || imaging::ProbeFileKind(path, 0) != kind) return false;
  // The kind is the first row whose signature the bytes carry.
  for (const imaging::FileKindSignature& earlier : imaging::FileKindSignatures()) {
    if (&earlier == row) return earlier.sniff(bytes);
    if (earlier.sniff(bytes)) return false;
  }
  return true;
}

bool DecodeHeifWebp(std::span<const std::uint8_t> bytes) {
  const auto whole = [](const imaging::Result<imaging::Bitmap>& bitmap) {
    return imaging::SizeWithinLimits(bitmap->width, bitmap->height) &&
           bitmap->pixels.size() == bitmap->PixelCount() * 3 &&
           bitmap->depth == imaging::ColorDepth::kTrue24;
  };
  const imaging::MemorySource source(bytes);
  imaging::heif::PrimaryImageCodec(source);
  for (const bool stored : {false, true}) {
    imaging::PhotoMetadata metadata;
    const imaging::Result<imaging::Bitmap> heif = imaging::heif::Decode(bytes, stored, &metadata);
    // A refusal always says why.
    if (!heif && heif.Reason().empty()) return false;
    if (!heif) continue;
    imaging::CheckMetadata(metadata);
    const auto size = imaging::heif::ReadSize(source);
    if (!whole(heif) || !size) return false;
    if (!stored && *size != std::pair(heif->width, heif->height)) return false;
  }
  imaging::PhotoMetadata metadata;
  const imaging::Result<imaging::Bitmap> webp = imaging::webp::Decode(bytes, &metadata);
  if (!webp) return !webp.Reason().empty();
  imaging::CheckMetadata(metadata);
  const auto size = imaging::webp::ReadSize(
      bytes.first(std::min(bytes.size(), imaging::webp::kHeaderProbeBytes)));
  return whole(webp) && size && *size == std::pair(webp->width, webp->height);
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
