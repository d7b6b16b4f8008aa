// The entry points: handle bookkeeping, file access and depth keeping around the codecs and edits.
// What a load checks and what it leaves for the first use is described in Image.h; what the
// library remembers of files between calls, in FileMemory.h.
#include "imaging/Imaging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "imaging/BmpCodec.h"
#include "imaging/ColorDepth.h"
#include "imaging/ColorEffects.h"
#include "imaging/EncodedOutput.h"
#include "imaging/Failure.h"
#include "imaging/FileKind.h"
#include "imaging/FileMemory.h"
#include "imaging/Geometry.h"
#include "imaging/HandleTable.h"
#include "imaging/HeifCodec.h"
#include "imaging/Image.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "imaging/WebpCodec.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace imaging {
namespace {

// Why the latest entry point that failed on this thread failed (see FailureReason).
thread_local std::string failureReason;

void NoteFailure(std::string reason) { failureReason = std::move(reason); }

// The same for the handlers below, which must not throw: a reason that cannot be stored for want
// of memory is dropped.
void NoteFailureQuietly(const char* reason) noexcept {
  try {
    failureReason = reason;
  } catch (...) {
  }
}

// Runs an entry point's body and turns anything thrown (memory exhaustion in a container, say)
// into the entry point's failure value and a reason, so nothing escapes the library.
template <typename Value, typename Body>
Value Guarded(Value failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    NoteFailureQuietly(kOutOfMemory);
  } catch (const std::exception& error) {
    NoteFailureQuietly(error.what());
  } catch (...) {
    NoteFailureQuietly("an unexpected error");
  }
  return failure;
}

// An entry point found no pixels for a live image: its deferred decode failed in this call (or
// an earlier one), and the decode's reason is the entry point's.
void NoteDecodeFailure(const Image& image) {
  if (image.Failed()) NoteFailure(image.FailureReason());
}
std::int32_t NoPixels(const Image& image) {
  NoteDecodeFailure(image);
  return 0;
}

// Which entry point loads: LoadImageFile tells the format by content, the others read their own
// format whatever the content.
enum class Loader { kAnyFormat, kBmp, kJpeg, kPng };

std::int32_t KindFor(Loader loader, const ByteSource& file) {
  switch (loader) {
    case Loader::kAnyFormat: {
      // The decode checks the headers.
      const std::int32_t kind = FileKindOfSource(file, false);
      const FileKindSignature* row = FindFileKind(kind);
      return row != nullptr && row->loads ? kind : 0;
    }
    case Loader::kBmp:
      return kFileKindBmp;
    case Loader::kJpeg:
      return kFileKindJpeg;
    case Loader::kPng:
      return kFileKindPng;
  }
  return 0;
}

// The image of a file, its metadata (when asked for) still to be attached, or why the load fails.
// Only LoadJpeg may leave a JPEG's image data unread: its conversions write nothing when a later
// decode fails, whereas an image loaded by LoadImageFile (for table art, say, or to learn its
// size) must decode whenever it loads. A HEIF is decoded upright by its rotation and mirror properties unless `storedOrientation`.
Result<Image> OpenPixels(std::shared_ptr<const FileSource> file, std::int32_t kind,
                         bool deferChecks, bool storedOrientation, PhotoMetadata* metadata) {
  switch (kind) {
    case kFileKindBmp: {
      Result<std::pair<int, int>> size = bmp::ReadSize(*file);
      if (!size) return size.TakeFailure();
      return Image::Deferred(std::move(file), kind, size->first, size->second);
    }
    case kFileKindJpeg: {
      const FileBytes bytes = ReadWholeFile(*file);
      if (bytes == nullptr) return Refused("the file could not be read");
      std::vector<JpegSegment> segments;
      Result<jpeg::Header> header =
          jpeg::ReadHeader(*bytes, metadata != nullptr ? &segments : nullptr);
      if (!header) return header.TakeFailure();
      if (metadata != nullptr && !segments.empty()) {
        *metadata = MetadataFromJpegSegments(segments);
      }
      const bool good = IsGoodFile(MemorySource(*bytes), kind);
      if (deferChecks || good) return Image::Deferred(bytes, good, *header);
      Result<std::unique_ptr<jpeg::CoefficientImage>> coefficients =
          jpeg::CoefficientImage::Read(*bytes);
      if (!coefficients) return coefficients.TakeFailure();
      RememberGoodFile(*bytes, kind);
      return Image::WithCoefficients(bytes, std::move(*coefficients));
    }
    case kFileKindPng: {
      if (IsGoodFile(*file, kind)) {
        Result<std::pair<int, int>> size = png::ReadSize(*file, metadata);
        if (!size) return size.TakeFailure();
        return Image::Deferred(std::move(file), kind, size->first, size->second);
      }
      Result<Bitmap> bitmap = png::Decode(*file, metadata);
      if (!bitmap) return bitmap.TakeFailure();
      // The file is hashed after the decode, so that a file found not to decode costs no hashing.
      const std::optional<ContentHash> hash = file->Hash();
      if (!hash) return Refused("the file could not be read");
      RememberGoodFile(*hash, kind);
      return Image(std::move(*bitmap), *hash, kind);
    }
    case kFileKindHeic:
    case kFileKindAvif:
    case kFileKindWebp: {
      const FileBytes bytes = ReadWholeFile(*file);
      if (bytes == nullptr) return Refused("the file could not be read");
      Result<Bitmap> bitmap = kind == kFileKindWebp
                                  ? webp::Decode(*bytes, metadata)
                                  : heif::Decode(*bytes, storedOrientation, metadata);
      if (!bitmap) return bitmap.TakeFailure();
      ContentHash hash;
      hash.Add(*bytes);
      RememberGoodFile(hash, kind);
      return Image(std::move(*bitmap), hash, kind);
    }
    default:
      return Refused(kNotConvertibleReason);
  }
}

Result<Image> Open(std::shared_ptr<const FileSource> file, std::int32_t kind, bool deferChecks,
                   const PhotoHandling& handling) {
  const bool readMetadata = handling.autoOrient || handling.keepMetadata || handling.convertToSrgb;
  PhotoMetadata metadata;
  // A HEIF's rotation and mirror properties describe the turn its EXIF orientation names; the
  // decoder applies them, and the orientation is not applied a second time.
  const bool heif = kind == kFileKindHeic || kind == kFileKindAvif;
  Result<Image> image = OpenPixels(std::move(file), kind, deferChecks, !handling.autoOrient,
                                   readMetadata ? &metadata : nullptr);
  if (!image) return image;
  if (!metadata.Empty()) CheckMetadata(metadata);
  const int orientation = ExifOrientation(metadata.exif);
  // The image keeps the metadata when the handling does; its profile is looked at either way.
  std::shared_ptr<const PhotoMetadata> carried;
  if (!metadata.Empty()) carried = std::make_shared<const PhotoMetadata>(std::move(metadata));
  if (!image->SetPhoto(std::move(carried), orientation, handling, heif)) {
    return Refused(kOutOfMemory);
  }
  return image;
}

// The metadata a save writes for the image (empty when it has none).
PhotoMetadata OutputMetadata(const Image& image, bool grey) {
  const PhotoMetadata* metadata = image.Metadata();
  if (metadata == nullptr) return {};
  OutputFacts facts;
  facts.width = image.Width();
  facts.height = image.Height();
  facts.turnedUpright = image.TurnedUpright();
  facts.pixelsAsStored = image.PixelsAsStored();
  facts.space = grey ? ProfileSpace::kGrey : ProfileSpace::kRgb;
  return MetadataForOutput(*metadata, facts);
}

ImageHandle LoadWith(const std::string& path, Loader loader, const PhotoHandling& handling) {
  return Guarded<ImageHandle>(0, [&]() -> ImageHandle {
    Result<std::shared_ptr<const FileSource>> opened = FileSource::Open(path);
    if (!opened) {
      NoteFailure(opened.TakeFailure().reason);
      return 0;
    }
    std::shared_ptr<const FileSource> file = std::move(*opened);
    const std::int32_t kind = KindFor(loader, *file);
    if (kind == 0) {
      NoteFailure(kNotConvertibleReason);
      return 0;
    }
    const bool deferChecks = loader == Loader::kJpeg;
    std::unique_ptr<Image> released = TakeReleasedImage(*file, kind);
    // An image loaded with another handling may be turned or carry metadata differently.
    if (released != nullptr && released->LoadedWith(handling)) {
      if (!deferChecks && !released->Validate()) {
        NoteDecodeFailure(*released);
        return 0;
      }
      return RegisterImage(std::move(*released));
    }
    Result<Image> image = Open(std::move(file), kind, deferChecks, handling);
    if (!image) {
      NoteFailure(image.TakeFailure().reason);
      return 0;
    }
    return RegisterImage(std::move(*image));
  });
}

// Runs a pixel edit on the 24-bit pixels of an image, then brings the image back to the depth and
// RLE switch it had. Returns 1, or 0 when there are no pixels or the edit failed.
template <typename Edit>
std::int32_t EditPixels(Image& image, Bitmap* bitmap, Edit&& edit) {
  if (bitmap == nullptr) return NoPixels(image);
  const ColorDepth depth = bitmap->depth;
  const bool rleCompression = bitmap->rleCompression;
  if (!edit(*bitmap)) {
    NoteFailure("the edit would leave the size limits, or memory ran out");
    return 0;
  }
  RestoreDepth(*bitmap, depth, rleCompression);
  image.Edited();
  return 1;
}

template <typename Edit>
std::int32_t EditInPlace(ImageHandle handle, Edit&& edit) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    return EditPixels(*image, image->Pixels(), edit);
  });
}

// Writes a file of the format through the atomic writer; `encode` gets the stream once the image
// is known to have what the encoder needs. Nothing is created when there is no image. A failure
// notes the writer's reason, or the error number a failed write left.
template <typename Encode>
bool WriteFile(const std::string& path, const char* format, Encode&& encode) {
  platform::AtomicFileWriter writer(path);
  if (writer.Stream() == nullptr) {
    NoteFailure(writer.FailureReason());
    return false;
  }
  errno = 0;
  if (!encode(writer.Stream())) {
    NoteFailure(errno != 0 ? platform::FileErrorText(errno)
                           : std::string(format) + ": the image could not be encoded");
    return false;
  }
  if (!writer.Commit()) {
    NoteFailure(writer.FailureReason());
    return false;
  }
  return true;
}

Rgb ColorFromBgr(std::uint32_t value) {
  return Rgb{static_cast<std::uint8_t>(value & 0xFF),
             static_cast<std::uint8_t>((value >> 8) & 0xFF),
             static_cast<std::uint8_t>((value >> 16) & 0xFF)};
}

}  // namespace

std::string FailureReason() { return failureReason; }
void ClearFailureReason() { failureReason.clear(); }

std::int32_t ProbeFileKind(const std::string& path, std::int32_t /*reserved*/) {
  return Guarded<std::int32_t>(kFileKindUnknown, [&]() {
    const std::vector<std::uint8_t> leading = platform::ReadFilePrefix(path, kFileKindProbeBytes);
    if (!KindNeedsWholeFile(leading)) return FileKindOfBytes(leading);
    const Result<std::shared_ptr<const FileSource>> file = FileSource::Open(path);
    return file ? FileKindOfSource(**file, true) : kFileKindUnknown;
  });
}

ImageHandle LoadImageFile(const std::string& path) { return LoadImageFile(path, {}); }
ImageHandle LoadBmp(const std::string& path) { return LoadBmp(path, {}); }
ImageHandle LoadJpeg(const std::string& path) { return LoadJpeg(path, {}); }
ImageHandle LoadPng(const std::string& path) { return LoadPng(path, {}); }

ImageHandle LoadImageFile(const std::string& path, const PhotoHandling& handling) {
  return LoadWith(path, Loader::kAnyFormat, handling);
}
ImageHandle LoadBmp(const std::string& path, const PhotoHandling& handling) {
  return LoadWith(path, Loader::kBmp, handling);
}
ImageHandle LoadJpeg(const std::string& path, const PhotoHandling& handling) {
  return LoadWith(path, Loader::kJpeg, handling);
}
ImageHandle LoadPng(const std::string& path, const PhotoHandling& handling) {
  return LoadWith(path, Loader::kPng, handling);
}

std::int32_t FreeImage(ImageHandle handle) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    std::unique_ptr<Image> image = TakeImage(handle);
    if (image == nullptr) return 0;
    const bool live = !image->Failed();
    KeepReleasedImage(std::move(image));
    return live ? 1 : 0;
  });
}

std::int32_t GetImageInfo(ImageHandle handle, ImageInfoRecord& record) {
  Image* image = FindImage(handle);
  if (image == nullptr || image->Failed()) return 0;
  record.fill(0);
  record[1] = image->Width();
  record[2] = image->Height();
  record[5] = image->Width() * 3;
  // An image still waiting for its pixels is 24-bit.
  record[0] = 24;
  if (image->HasPixels()) {
    const Bitmap& bitmap = *image->Pixels();
    record[0] = static_cast<std::int32_t>(bitmap.depth);
    record[3] = static_cast<std::int32_t>(bitmap.palette.size());
    record[4] = bitmap.rleCompression ? 1 : 0;
  }
  return 1;
}

std::uint32_t ReadPixelColor(ImageHandle handle, std::int32_t x, std::int32_t y) {
  return Guarded<std::uint32_t>(0, [&]() -> std::uint32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    const Bitmap* bitmap = image->Pixels();
    if (bitmap == nullptr || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height) return 0;
    const std::uint8_t* pixel = bitmap->Row(y) + static_cast<std::size_t>(x) * 3;
    return static_cast<std::uint32_t>(pixel[0]) | (static_cast<std::uint32_t>(pixel[1]) << 8) |
           (static_cast<std::uint32_t>(pixel[2]) << 16);
  });
}

ImageHandle CropImage(ImageHandle handle, std::int32_t left, std::int32_t top, std::int32_t width,
                      std::int32_t height) {
  std::unique_ptr<Image> source = TakeImage(handle);
  if (!source) return 0;
  return Guarded<ImageHandle>(0, [&]() -> ImageHandle {
    const Bitmap* bitmap = source->Pixels();
    if (bitmap == nullptr) {
      NoteDecodeFailure(*source);
      return 0;
    }
    std::optional<Bitmap> cropped = Crop(*bitmap, left, top, width, height);
    if (!cropped) {
      NoteFailure("the crop rectangle holds no pixel of the image");
      return 0;
    }
    RestoreDepth(*cropped, bitmap->depth, bitmap->rleCompression);
    Image image(std::move(*cropped));
    image.InheritPhoto(*source);
    source.reset();
    return RegisterImage(std::move(image));
  });
}

std::int32_t ConvertTo24Bit(ImageHandle handle) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr || image->Failed()) return 0;
    // An image still waiting for its pixels is 24-bit already.
    if (!image->HasPixels()) return 1;
    Bitmap& bitmap = *image->Pixels();
    if (bitmap.depth != ColorDepth::kTrue24 || bitmap.rleCompression) {
      ExpandTo24(bitmap);
      image->Changed();
    }
    return 1;
  });
}

std::int32_t ReduceTo16Bit(ImageHandle handle, std::int32_t, std::int32_t) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    Bitmap* bitmap = image->Pixels();
    if (bitmap == nullptr) return NoPixels(*image);
    ReduceTo16(*bitmap);
    image->Edited();
    return 1;
  });
}

std::int32_t ReduceTo8Bit(ImageHandle handle, std::int32_t, std::int32_t) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    Bitmap* bitmap = image->Pixels();
    if (bitmap == nullptr) return NoPixels(*image);
    if (!ReduceTo8(*bitmap)) {
      NoteFailure(kOutOfMemory);
      return 0;
    }
    image->Edited();
    return 1;
  });
}

std::int32_t EnableRleCompression(ImageHandle handle) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    Bitmap* bitmap = image->Pixels();
    if (bitmap == nullptr) return NoPixels(*image);
    if (!bitmap->rleCompression) {
      bitmap->rleCompression = true;
      image->Changed();
    }
    return 1;
  });
}

std::int32_t SaveBmp(const std::string& path, ImageHandle handle) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    if (image->Failed()) return NoPixels(*image);
    // The engine writes a BMP twice, before and after the edits; with no edit between, the file
    // the first save wrote is already what the second would write.
    if (SavedAsBmp(path, image->Stamp())) return 1;
    const Bitmap* bitmap = image->Pixels();
    if (bitmap == nullptr) return NoPixels(*image);
    if (!WriteFile(path, "BMP", [&](std::FILE* out) { return bmp::Encode(*bitmap, out); })) {
      return 0;
    }
    RememberBmpSave(path, image->Stamp());
    return 1;
  });
}

std::int32_t SaveJpeg(const std::string& path, ImageHandle handle, std::int32_t quality,
                      std::int32_t progressive) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    const int clamped = std::clamp(quality, 0, 100);
    const bool transcode = image->CanTranscodeJpeg();
    const Bitmap* bitmap = nullptr;
    if (transcode ? !image->PrepareTranscode() : (bitmap = image->Pixels()) == nullptr) {
      return NoPixels(*image);
    }
    const std::vector<JpegSegment> segments =
        JpegSegmentsFor(OutputMetadata(*image, transcode ? image->StoredGrey() : bitmap->grey));
    std::optional<ContentHash> written;
    const bool saved = WriteFile(path, "JPEG", [&](std::FILE* stream) {
      EncodedOutput out(stream);
      const bool encoded = transcode
                               ? image->TranscodeJpeg(clamped, progressive != 0, out, segments)
                               : jpeg::Encode(*bitmap, clamped, progressive != 0, out, segments);
      if (!encoded || !out.Finish()) return false;
      written = out.Hash();
      return true;
    });
    if (!saved) return 0;
    RememberGoodFile(*written, kFileKindJpeg);
    return 1;
  });
}

std::int32_t SavePng(const std::string& path, ImageHandle handle, std::int32_t interlace) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    const Bitmap* bitmap = image->Pixels();
    if (bitmap == nullptr) return NoPixels(*image);
    // PNG output is always RGB.
    const PhotoMetadata metadata = OutputMetadata(*image, false);
    std::optional<ContentHash> written;
    const bool saved = WriteFile(path, "PNG", [&](std::FILE* stream) {
      EncodedOutput out(stream);
      if (!png::Encode(*bitmap, interlace != 0, out, metadata) || !out.Finish()) return false;
      written = out.Hash();
      return true;
    });
    if (!saved) return 0;
    RememberGoodFile(*written, kFileKindPng);
    return 1;
  });
}

std::int32_t MakeGreyscale(ImageHandle handle, std::int32_t strength) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    if (image == nullptr) return 0;
    const int clamped = std::clamp(strength, 0, 255);
    bool greyed = false;
    Bitmap* bitmap = clamped == 255 ? image->PixelsToGreyscale(greyed) : image->Pixels();
    return EditPixels(*image, bitmap, [&](Bitmap& pixels) {
      if (!greyed) MakeGreyscale(pixels, clamped);
      pixels.grey = pixels.grey || clamped == 255;
      return true;
    });
  });
}

std::int32_t TintRgb(ImageHandle handle, std::int32_t red, std::int32_t green, std::int32_t blue) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    TintRgb(bitmap, red, green, blue);
    const auto percent = [](std::int32_t value) { return std::clamp(value, -100, 100); };
    bitmap.grey = bitmap.grey && percent(red) == percent(green) && percent(red) == percent(blue);
    return true;
  });
}

std::int32_t ScaleRgb(ImageHandle handle, std::int32_t red, std::int32_t green, std::int32_t blue) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    ScaleRgb(bitmap, red, green, blue);
    const auto weight = [](std::int32_t value) { return std::clamp(value, 0, 255'000); };
    bitmap.grey = bitmap.grey && weight(red) == weight(green) && weight(red) == weight(blue);
    return true;
  });
}

std::int32_t AdjustClarityRgb(ImageHandle handle, std::int32_t red, std::int32_t green,
                              std::int32_t blue) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    AdjustClarityRgb(bitmap, red, green, blue);
    const auto amount = [](std::int32_t value) { return std::clamp(value, -100, 100); };
    bitmap.grey = bitmap.grey && amount(red) == amount(green) && amount(red) == amount(blue);
    return true;
  });
}

std::int32_t ApplyLookupTables(ImageHandle handle, const std::uint8_t* tables) {
  if (tables == nullptr) return 0;
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    ApplyLookupTables(bitmap, tables);
    bitmap.grey = bitmap.grey && std::memcmp(tables, tables + 256, 256) == 0 &&
                  std::memcmp(tables, tables + 512, 256) == 0;
    return true;
  });
}

std::int32_t ResizeImage(ImageHandle handle, std::int32_t width, std::int32_t height) {
  return Guarded<std::int32_t>(0, [&]() -> std::int32_t {
    Image* image = FindImage(handle);
    // A size the resize refuses leaves the image as it is, decoded or not.
    if (image == nullptr || !SizeWithinLimits(width, height)) return 0;
    return EditPixels(*image, image->PixelsToShrink(width, height),
                      [&](Bitmap& bitmap) { return Resize(bitmap, width, height); });
  });
}

std::int32_t RotateImage(ImageHandle handle, std::int32_t angleThousandths,
                         std::uint32_t background) {
  return EditInPlace(handle, [&](Bitmap& bitmap) {
    const Rgb color = ColorFromBgr(background);
    if (!Rotate(bitmap, angleThousandths, color)) return false;
    bitmap.grey = bitmap.grey && color.red == color.green && color.red == color.blue;
    return true;
  });
}

}  // namespace imaging
