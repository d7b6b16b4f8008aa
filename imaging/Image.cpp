#include "imaging/Image.h"

#include <atomic>
#include <new>
#include <utility>

#include "imaging/BmpCodec.h"
#include "imaging/FileMemory.h"
#include "imaging/Geometry.h"
#include "imaging/Imaging.h"
#include "imaging/PngCodec.h"

namespace imaging {
namespace {

// Images are made on several threads at once; each still gets a stamp of its own.
std::uint64_t NextStamp() {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

Image::Image() : stamp_(NextStamp()) {}

Image::Image(Bitmap bitmap) : bitmap_(std::move(bitmap)), stamp_(NextStamp()) {}

Image::Image(Bitmap bitmap, const ContentHash& fileHash, std::int32_t kind)
    : bitmap_(std::move(bitmap)),
      fileHash_(fileHash),
      kind_(kind),
      validated_(true),
      asLoaded_(true),
      stamp_(NextStamp()) {}

Image Image::Deferred(FileBytes bytes, bool validated, const jpeg::Header& header) {
  Image image;
  image.source_ = std::move(bytes);
  image.kind_ = kFileKindJpeg;
  image.width_ = header.width;
  image.height_ = header.height;
  image.jpegHeader_ = header;
  image.validated_ = validated;
  image.asLoaded_ = true;
  return image;
}

Image Image::Deferred(std::shared_ptr<const FileSource> file, std::int32_t kind, int width,
                      int height) {
  Image image;
  image.file_ = std::move(file);
  image.kind_ = kind;
  image.width_ = width;
  image.height_ = height;
  image.validated_ = true;
  image.asLoaded_ = true;
  return image;
}

Image Image::WithCoefficients(FileBytes bytes, std::unique_ptr<jpeg::CoefficientImage> image) {
  Image result = Deferred(std::move(bytes), true, image->FileHeader());
  result.coefficients_ = std::move(image);
  return result;
}

namespace {

// The conversion a photo's pixels go through for the handling: an RGB profile's only when the
// output cannot carry it, a CMYK profile's always (no output carries it).
std::shared_ptr<const ColorTransform> ConversionFor(const PhotoMetadata* metadata,
                                                    const PhotoHandling& handling) {
  if (metadata == nullptr || metadata->icc.empty()) return nullptr;
  if (ProfileSpaceOf(metadata->icc) == ProfileSpace::kRgb && !handling.convertToSrgb) return nullptr;
  return TransformToSrgb(metadata->icc);
}

}  // namespace

bool Image::SetPhoto(std::shared_ptr<const PhotoMetadata> metadata, int orientation,
                     const PhotoHandling& handling, bool decodedUpright) {
  handling_ = handling;
  toSrgb_ = ConversionFor(metadata.get(), handling);
  if (bitmap_) ConvertDecoded(*bitmap_);
  if (handling.keepMetadata && metadata != nullptr && !metadata->Empty())
    metadata_ = std::move(metadata);
  if (!handling.autoOrient || orientation < 2 || orientation > 8) return true;
  turnedUpright_ = true;
  if (decodedUpright) return true;
  pendingOrientation_ = orientation;
  return !bitmap_ || TurnDecoded();
}

void Image::InheritPhoto(const Image& from) {
  metadata_ = from.metadata_;
  handling_ = from.handling_;
  turnedUpright_ = from.turnedUpright_;
  edited_ = true;
}

void Image::ConvertDecoded(Bitmap& bitmap) const {
  if (toSrgb_ == nullptr || toSrgb_->From() != ColorTransform::Source::kRgb || bitmap.grey) return;
  toSrgb_->ConvertRgb(bitmap.pixels.data(), bitmap.PixelCount());
}

bool Image::StoredGrey() const { return kind_ == kFileKindJpeg && jpegHeader_.greyscale; }

bool Image::TurnDecoded() {
  if (pendingOrientation_ == 1) return true;
  if (!Orient(*bitmap_, pendingOrientation_)) return false;
  pendingOrientation_ = 1;
  return true;
}

Image::Image(Image&&) noexcept = default;
Image& Image::operator=(Image&&) noexcept = default;
Image::~Image() {
  if (bitmap_) ReturnBuffer(std::move(bitmap_->pixels));
}

void Image::Fail(std::string reason) {
  failed_ = true;
  failureReason_ = std::move(reason);
  if (bitmap_) ReturnBuffer(std::move(bitmap_->pixels));
  bitmap_.reset();
  coefficients_.reset();
  source_.reset();
  file_.reset();
  fileHash_.reset();
}

// Decodes the deferred file: a JPEG at 1 / scaleDenominator of its size, a BMP turned grey when
// asked. A full-size decode leaves the image as loaded; the others are the first step of an edit.
bool Image::DecodeDeferred(int scaleDenominator, bool greyscale) {
  if (failed_) return false;
  if (bitmap_) return true;
  try {
    Result<Bitmap> decoded = Refused("the file was changed while it was converted");
    // A JPEG's rows are converted to sRGB as they decode; the other files' after.
    bool converted = false;
    if (coefficients_) {
      // The coefficients give the full size only; they are not needed once there are pixels.
      std::optional<Bitmap> pixels = coefficients_->Pixels(toSrgb_.get());
      decoded = pixels ? Result<Bitmap>(std::move(*pixels)) : Refused(kOutOfMemory);
      coefficients_.reset();
      scaleDenominator = 1;
      converted = true;
    } else if (source_) {
      decoded = jpeg::Decode(*source_, scaleDenominator, toSrgb_.get());
      converted = true;
    } else if (file_ && file_->Unchanged()) {
      decoded = kind_ == kFileKindBmp ? bmp::Decode(*file_, greyscale) : png::Decode(*file_);
    }
    if (!decoded) {
      Fail(decoded.TakeFailure().reason);
      return false;
    }
    if (!validated_) RememberGoodFile(*source_, kind_);
    validated_ = true;
    if (!converted) ConvertDecoded(*decoded);
    bitmap_ = std::move(*decoded);
    if (!TurnDecoded()) {
      Fail(kOutOfMemory);
      return false;
    }
  } catch (const std::bad_alloc&) {
    Fail(kOutOfMemory);
    return false;
  }
  // Only a JPEG decoded in full stays as loaded: it still has the bytes that identify its file.
  if (scaleDenominator != 1 || !source_) Changed();
  return true;
}

Bitmap* Image::DecodedPixels() { return DecodeDeferred(1, false) ? &*bitmap_ : nullptr; }

Bitmap* Image::PixelsToShrink(std::int64_t width, std::int64_t height) {
  int denominator = 1;
  // The size asked for is upright; the stored pixels may still lie on their side.
  if (Transposed()) std::swap(width, height);
  if (!bitmap_ && !coefficients_ && kind_ == kFileKindJpeg && width < width_ && height < height_) {
    denominator = jpeg::ScaleDenominator(jpegHeader_, width, height);
  }
  return DecodeDeferred(denominator, false) ? &*bitmap_ : nullptr;
}

Bitmap* Image::PixelsToGreyscale(bool& greyed) {
  greyed = !bitmap_ && !failed_ && kind_ == kFileKindBmp;
  return DecodeDeferred(1, greyed) ? &*bitmap_ : nullptr;
}

// Reads a deferred JPEG through all its image data into its coefficients. False when the file
// does not decode, and the image has failed.
bool Image::ReadCoefficients() {
  std::string reason = kOutOfMemory;
  try {
    Result<std::unique_ptr<jpeg::CoefficientImage>> read = jpeg::CoefficientImage::Read(*source_);
    if (read) {
      coefficients_ = std::move(*read);
    } else {
      reason = read.Reason();
    }
  } catch (const std::bad_alloc&) {
    coefficients_.reset();
  }
  if (!coefficients_) {
    Fail(std::move(reason));
    return false;
  }
  if (!validated_) RememberGoodFile(*source_, kind_);
  validated_ = true;
  return true;
}

std::optional<ContentHash> Image::SourceHash() const {
  if (!AsLoaded()) return std::nullopt;
  if (fileHash_) return fileHash_;
  if (source_) {
    ContentHash hash;
    hash.Add(*source_);
    return hash;
  }
  return std::nullopt;
}

bool Image::CanTranscodeJpeg() const {
  return !failed_ && !bitmap_ && asLoaded_ && kind_ == kFileKindJpeg && source_ && !toSrgb_ &&
         jpegHeader_.transcodable && jpeg::TurnsInCoefficients(jpegHeader_, pendingOrientation_);
}

bool Image::PrepareTranscode() { return coefficients_ != nullptr || ReadCoefficients(); }

bool Image::TranscodeJpeg(int quality, bool progressive, EncodedOutput& out,
                          std::span<const JpegSegment> segments) {
  if (!CanTranscodeJpeg() || !PrepareTranscode()) return false;
  bool written = false;
  try {
    written = coefficients_->Transcode(quality, progressive, out, pendingOrientation_, segments);
  } catch (const std::bad_alloc&) {
    written = false;
  }
  coefficients_.reset();
  return written;
}

bool Image::Validate() {
  if (failed_) return false;
  if (bitmap_ || validated_) return true;
  if (source_) return ReadCoefficients();
  return DecodeDeferred(1, false);
}

void Image::Edited() {
  edited_ = true;
  Changed();
}

void Image::Changed() {
  asLoaded_ = false;
  // Only an image as loaded is ever written from or matched with its file again.
  source_.reset();
  file_.reset();
  fileHash_.reset();
  coefficients_.reset();
  stamp_ = NextStamp();
}

}  // namespace imaging
