#include "engine/FileFormats.h"

#include <algorithm>
#include <iterator>

#include "engine/SettingDefaults.h"

namespace engine {
namespace {

std::int32_t EncodeBmp(const std::string& target, imaging::ImageHandle image,
                       const ImageEncoding& /*encoding*/) {
  return imaging::SaveBmp(target, image);
}

std::int32_t EncodeJpeg(const std::string& target, imaging::ImageHandle image,
                        const ImageEncoding& encoding) {
  return imaging::SaveJpeg(target, image, encoding.quality, encoding.progressive);
}

std::int32_t EncodePng(const std::string& target, imaging::ImageHandle image,
                       const ImageEncoding& encoding) {
  return imaging::SavePng(target, image, encoding.interlace);
}

using imaging::FileKind;

// The file dialog's one entry for HEIC, AVIF and WebP.
constexpr std::string_view kModernPhotosName = "HEIC・AVIF・WebP";

constexpr InputFormat kInputFormats[] = {
    {FileKind::kFileKindBmp, "BMP", "", imaging::LoadBmp, "ビットマップ", "*.bmp", "bmp",
     "image/bmp"},
    {FileKind::kFileKindJpeg, "JPG", "", imaging::LoadJpeg, "ジェイぺグ", "*.jp*g", "jpg jpeg",
     "image/jpeg"},
    {FileKind::kFileKindPng, "PNG", "", imaging::LoadPng, "ピング", "*.png", "png", "image/png"},
    // Photos from phones and the web, read by content whatever the output.
    {FileKind::kFileKindHeic, "HEIC", "", imaging::LoadImageFile, kModernPhotosName,
     "*.heic;*.heif", "heic heif", "image/heic;image/heif"},
    {FileKind::kFileKindAvif, "AVIF", "", imaging::LoadImageFile, kModernPhotosName, "*.avif",
     "avif", "image/avif"},
    {FileKind::kFileKindWebp, "WEBP", "", imaging::LoadImageFile, kModernPhotosName, "*.webp",
     "webp", "image/webp"},
    {FileKind::kFileKindGif, "GIF", "GIFです!!この形式は変換できません!!", nullptr, "", "", "", ""},
    {FileKind::kFileKindTiff, "TIFF", "TIFFです!!この形式は変換できません!!", nullptr, "", "", "",
     ""},
    {FileKind::kFileKindPic, "PIC", "PICです!!この形式は変換できません!!", nullptr, "", "", "", ""},
    {FileKind::kFileKindMag, "MAG", "MAGです!!この形式は変換できません!!", nullptr, "", "", "", ""},
    {FileKind::kFileKindPcx, "PCX", "PCXです!!この形式は変換できません!!", nullptr, "", "", "", ""},
    // Anything the probe does not recognise, and every number no row above has.
    {FileKind::kFileKindUnknown, "不明", "このファイルは変換できません!!", nullptr, "", "", "", ""},
};

constexpr OutputFormat kOutputFormats[] = {
    {0, 1, kFormatBmpRadio, "bmp", ".bmp", FileKind::kFileKindBmp, EncodeBmp, true, false, false},
    {1, 2, kFormatJpegRadio, "jpg", ".jpg", FileKind::kFileKindJpeg, EncodeJpeg, false, true, true},
    {2, 3, kFormatPngRadio, "png", ".png", FileKind::kFileKindPng, EncodePng, false, true, false},
    // HTML colours are sRGB: a page carries no profile.
    {3, 0, kFormatHtmRadio, "htm", ".htm", FileKind::kFileKindUnknown, nullptr, false, false, false},
};

// The entry of the file dialog that offers every convertible kind at once.
constexpr std::string_view kAllConvertibleName = "変換可能なすべてのピクチャ";

// "NAME (*.a,*.b)" with patterns "*.a;*.b".
platform::FileFilter Filter(std::string_view name, const std::string& patterns) {
  std::string shown = patterns;
  std::replace(shown.begin(), shown.end(), ';', ',');
  return {std::string(name) + " (" + shown + ")", patterns};
}

void AddPatterns(std::string& patterns, std::string_view more) {
  if (!patterns.empty()) patterns += ';';
  patterns += more;
}

}  // namespace

std::span<const InputFormat> InputFormats() { return kInputFormats; }

const InputFormat& InputFormatOf(int kind) {
  const auto* row = std::find_if(std::begin(kInputFormats), std::end(kInputFormats),
                                 [&](const InputFormat& entry) { return entry.kind == kind; });
  if (row != std::end(kInputFormats)) return *row;
  return InputFormatOf(imaging::kFileKindUnknown);
}

std::string KindName(int kind) {
  if (kind == kTableArtPageKind) return "HTM";
  return std::string(InputFormatOf(kind).kindText);
}

bool OutputCarriesProfile(const OutputFormat& format, int effectIndex) {
  return format.carriesProfile && !(format.writesGreyAsGrey && effectIndex == kGreyscaleEffect);
}

std::span<const OutputFormat> OutputFormats() { return kOutputFormats; }

const OutputFormat* OutputFormatOfKind(int outputKind) {
  for (const OutputFormat& format : kOutputFormats) {
    if (format.outputKind == outputKind) return &format;
  }
  return nullptr;
}

const OutputFormat* OutputFormatAt(int settingsIndex) {
  for (const OutputFormat& format : kOutputFormats) {
    if (format.settingsIndex == settingsIndex) return &format;
  }
  return nullptr;
}

const OutputFormat* OutputFormatWriting(imaging::FileKind kind) {
  for (const OutputFormat& format : kOutputFormats) {
    if (format.encoder != nullptr && format.sameKind == kind) return &format;
  }
  return nullptr;
}

const OutputFormat* CheckedOutputFormat(const platform::Controls& controls) {
  for (const OutputFormat& format : kOutputFormats) {
    if (controls.IsChecked(format.radio)) return &format;
  }
  return nullptr;
}

std::vector<platform::FileFilter> InputFileFilters() {
  std::string all;
  std::vector<std::pair<std::string_view, std::string>> entries;
  for (const InputFormat& format : kInputFormats) {
    if (format.dialogPatterns.empty()) continue;
    AddPatterns(all, format.dialogPatterns);
    if (entries.empty() || entries.back().first != format.dialogName) {
      entries.emplace_back(format.dialogName, "");
    }
    AddPatterns(entries.back().second, format.dialogPatterns);
  }
  std::vector<platform::FileFilter> filters{Filter(kAllConvertibleName, all)};
  for (const auto& [name, patterns] : entries) filters.push_back(Filter(name, patterns));
  return filters;
}

std::vector<std::string> ConvertibleMimeTypes() {
  std::vector<std::string> types;
  for (const InputFormat& format : kInputFormats) {
    for (std::size_t start = 0; format.Converts() && start < format.mimeType.size();) {
      const std::size_t end = std::min(format.mimeType.find(';', start), format.mimeType.size());
      types.emplace_back(format.mimeType.substr(start, end - start));
      start = end + 1;
    }
  }
  return types;
}

}  // namespace engine
