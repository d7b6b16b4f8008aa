// The entry points: handle bookkeeping, file access and depth keeping around the codecs and edits.
#include "imaging/Imaging.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <span>
#include <utility>

#include "imaging/BmpCodec.h"
#include "imaging/ColorDepth.h"
#include "imaging/ColorEffects.h"
#include "imaging/FileKind.h"
#include "imaging/Geometry.h"
#include "imaging/HandleTable.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace imaging {
namespace {

using Decoder = std::optional<Bitmap> (*)(std::span<const std::uint8_t>);

// Runs an entry point's body and turns anything thrown (memory exhaustion in a container, say)
// into the entry point's failure value, so nothing escapes the library.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

ImageHandle LoadWith(const std::string& path, Decoder decoder) {
  return Guarded<ImageHandle>(0, [&]() -> ImageHandle {
    const std::optional<std::vector<std::uint8_t>> bytes = platform::ReadFileBytes(path);
    if (!bytes) return 0;
    std::optional<Bitmap> bitmap = decoder(*bytes);
    return bitmap ? RegisterBitmap(std::move(*bitmap)) : 0;
  });
}

std::optional<Bitmap> DecodeAnyFormat(std::span<const std::uint8_t> bytes) {
  switch (FileKindOfBytes(bytes.first(std::min(bytes.size(), kFileKindProbeBytes)))) {
    case kFileKindBmp:
      return bmp::Decode(bytes);
    case kFileKindJpeg:
      return jpeg::Decode(bytes);
    case kFileKindPng:
      return png::Decode(bytes);
    default:
      return std::nullopt;
  }
}

// Runs a pixel edit on the 24-bit pixels of the image behind the handle, then brings the image back
// to the depth and RLE switch it had. Returns 1, or 0 when there is no image or the edit failed.
template <typename Edit>
std::int32_t EditInPlace(ImageHandle handle, Edit&& edit) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Bitmap* bitmap = FindBitmap(handle);
    if (bitmap == nullptr) return 0;
    const ColorDepth depth = bitmap->depth;
    const bool rleCompression = bitmap->rleCompression;
    const bool edited = edit(*bitmap);
    if (edited) RestoreDepth(*bitmap, depth, rleCompression);
    return edited ? 1 : 0;
  });
}

template <typename Encode>
std::int32_t SaveWith(const std::string& path, ImageHandle handle, Encode&& encode) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    const Bitmap* bitmap = FindBitmap(handle);
    if (bitmap == nullptr) return 0;
    platform::AtomicFileWriter writer(path);
    if (writer.Stream() == nullptr || !encode(*bitmap, writer.Stream())) return 0;
    return writer.Commit() ? 1 : 0;
  });
}

Rgb ColorFromBgr(std::uint32_t value) {
  return Rgb{static_cast<std::uint8_t>(value & 0xFF),
             static_cast<std::uint8_t>((value >> 8) & 0xFF),
             static_cast<std::uint8_t>((value >> 16) & 0xFF)};
}

}  // namespace

std::int32_t ProbeFileKind(const std::string& path, std::int32_t /*reserved*/) {
  return Guarded<std::int32_t>(kFileKindUnknown, [&]() {
    return FileKindOfBytes(platform::ReadFilePrefix(path, kFileKindProbeBytes));
  });
}

ImageHandle LoadImageFile(const std::string& path) { return LoadWith(path, DecodeAnyFormat); }
ImageHandle LoadBmp(const std::string& path) { return LoadWith(path, bmp::Decode); }
ImageHandle LoadJpeg(const std::string& path) { return LoadWith(path, jpeg::Decode); }
ImageHandle LoadPng(const std::string& path) { return LoadWith(path, png::Decode); }

std::int32_t FreeImage(ImageHandle handle) { return TakeBitmap(handle) ? 1 : 0; }

std::int32_t GetImageInfo(ImageHandle handle, ImageInfoRecord& record) {
  const Bitmap* bitmap = FindBitmap(handle);
  if (bitmap == nullptr) return 0;
  record.fill(0);
  record[0] = static_cast<std::int32_t>(bitmap->depth);
  record[1] = bitmap->width;
  record[2] = bitmap->height;
  record[3] = static_cast<std::int32_t>(bitmap->palette.size());
  record[4] = bitmap->rleCompression ? 1 : 0;
  record[5] = static_cast<std::int32_t>(bitmap->RowBytes());
  return 1;
}

std::uint32_t ReadPixelColor(ImageHandle handle, std::int32_t x, std::int32_t y) {
  const Bitmap* bitmap = FindBitmap(handle);
  if (bitmap == nullptr || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) return 0;
  const std::uint8_t* pixel = bitmap->Row(y) + static_cast<std::size_t>(x) * 3;
  return static_cast<std::uint32_t>(pixel[0]) | (static_cast<std::uint32_t>(pixel[1]) << 8) |
         (static_cast<std::uint32_t>(pixel[2]) << 16);
}

ImageHandle CropImage(ImageHandle handle, std::int32_t left, std::int32_t top, std::int32_t width,
                      std::int32_t height) {
  std::unique_ptr<Bitmap> source = TakeBitmap(handle);
  if (!source) return 0;
  return Guarded<ImageHandle>(0, [&]() -> ImageHandle {
    std::optional<Bitmap> cropped = Crop(*source, left, top, width, height);
    if (!cropped) return 0;
    RestoreDepth(*cropped, source->depth, source->rleCompression);
    source.reset();
    return RegisterBitmap(std::move(*cropped));
  });
}

std::int32_t ConvertTo24Bit(ImageHandle handle) {
  Bitmap* bitmap = FindBitmap(handle);
  if (bitmap == nullptr) return 0;
  ExpandTo24(*bitmap);
  return 1;
}

std::int32_t ReduceTo16Bit(ImageHandle handle, std::int32_t, std::int32_t) {
  Bitmap* bitmap = FindBitmap(handle);
  if (bitmap == nullptr) return 0;
  ReduceTo16(*bitmap);
  return 1;
}

std::int32_t ReduceTo8Bit(ImageHandle handle, std::int32_t, std::int32_t) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Bitmap* bitmap = FindBitmap(handle);
    return bitmap != nullptr && ReduceTo8(*bitmap) ? 1 : 0;
  });
}

std::int32_t EnableRleCompression(ImageHandle handle) {
  Bitmap* bitmap = FindBitmap(handle);
  if (bitmap == nullptr) return 0;
  bitmap->rleCompression = true;
  return 1;
}

std::int32_t SaveBmp(const std::string& path, ImageHandle handle) {
  return SaveWith(path, handle,
                  [](const Bitmap& bitmap, std::FILE* out) { return bmp::Encode(bitmap, out); });
}

std::int32_t SaveJpeg(const std::string& path, ImageHandle handle, std::int32_t quality,
                      std::int32_t progressive) {
  return SaveWith(path, handle, [&](const Bitmap& bitmap, std::FILE* out) {
    return jpeg::Encode(bitmap, std::clamp(quality, 0, 100), progressive != 0, out);
  });
}

std::int32_t SavePng(const std::string& path, ImageHandle handle, std::int32_t interlace) {
  return SaveWith(path, handle, [&](const Bitmap& bitmap, std::FILE* out) {
    return png::Encode(bitmap, interlace != 0, out);
  });
}

std::int32_t MakeGreyscale(ImageHandle handle, std::int32_t strength) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    MakeGreyscale(bitmap, strength);
    return true;
  });
}

std::int32_t TintRgb(ImageHandle handle, std::int32_t red, std::int32_t green, std::int32_t blue) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    TintRgb(bitmap, red, green, blue);
    return true;
  });
}

std::int32_t ScaleRgb(ImageHandle handle, std::int32_t red, std::int32_t green, std::int32_t blue) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    ScaleRgb(bitmap, red, green, blue);
    return true;
  });
}

std::int32_t AdjustClarityRgb(ImageHandle handle, std::int32_t red, std::int32_t green,
                              std::int32_t blue) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    AdjustClarityRgb(bitmap, red, green, blue);
    return true;
  });
}

std::int32_t ApplyLookupTables(ImageHandle handle, const std::uint8_t* tables) {
  if (tables == nullptr) return 0;
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    ApplyLookupTables(bitmap, tables);
    return true;
  });
}

std::int32_t ResizeImage(ImageHandle handle, std::int32_t width, std::int32_t height) {
  return EditInPlace(handle, [&](Bitmap& bitmap) { return Resize(bitmap, width, height); });
}

std::int32_t RotateImage(ImageHandle handle, std::int32_t angleThousandths,
                         std::uint32_t background) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    return Rotate(bitmap, angleThousandths, ColorFromBgr(background));
  });
}

}  // namespace imaging
