// The image behind a handle: its pixels, or the file it was loaded from and what the file's
// headers say, until the pixels are first needed.
//
// A load checks what it must to answer as a failed load would: a BMP's headers and data length
// decide everything; a JPEG opened by LoadImageFile is read through all its image data (the
// coefficients are kept, so nothing is decoded twice); a PNG is decoded at once. A JPEG opened by
// LoadJpeg is only read to the end of its headers: its first use decodes it, at a reduced scale
// when that use is a shrinking resize. Should such a deferred decode fail, the image has failed:
// from then on it acts as no image (see Imaging.h), and releasing it returns 0.
//
// A JPEG's bytes are held in memory (they are a fraction of its pixels, and libjpeg reads them
// more than once). A BMP or PNG waiting for its pixels keeps its file open instead and is decoded
// from it, so its whole file never sits in memory beside its pixels; should the file have been
// written to since the load, the decode fails.
//
// A photo keeps the metadata its file carried (PhotoMetadata.h) and, when it loaded with its
// orientation to be turned upright, the turn still owed to its stored pixels: its size is the
// upright size from the start, and the pixels are turned the moment they are decoded. A JPEG saved
// unedited turns its coefficients instead, where the turn is lossless.
//
// When the handling asks for it, a photo with a colour profile other than sRGB has its pixels
// converted to sRGB the moment they are decoded (at once for a PNG decoded at load); a CMYK JPEG
// with a CMYK profile is decoded through that profile. Such an image is never written from its
// coefficients.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ByteSource.h"
#include "imaging/ColorProfile.h"
#include "imaging/EncodedOutput.h"
#include "imaging/Failure.h"
#include "imaging/JpegCodec.h"
#include "imaging/PhotoMetadata.h"

namespace imaging {

using FileBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

class Image {
 public:
  // An image whose pixels are given.
  explicit Image(Bitmap bitmap);
  // An image of a file decoded at load: `bitmap` is what the file with this hash decodes to.
  Image(Bitmap bitmap, const ContentHash& fileHash, std::int32_t kind);
  // A JPEG whose pixels are decoded from its bytes when first needed; `validated` when the file is
  // known to decode (the library wrote or decoded it before).
  static Image Deferred(FileBytes bytes, bool validated, const jpeg::Header& header);
  // A BMP (its headers passed) or a PNG known to decode, decoded from its file when first needed.
  static Image Deferred(std::shared_ptr<const FileSource> file, std::int32_t kind, int width,
                        int height);
  // A JPEG read through all its image data.
  static Image WithCoefficients(FileBytes bytes, std::unique_ptr<jpeg::CoefficientImage> image);

  Image(Image&&) noexcept;
  Image& operator=(Image&&) noexcept;
  ~Image();

  // Attaches what the file carried beside its pixels (metadata may be null; kept only when the
  // handling keeps metadata) and the orientation it is stored in, as the handling asks, and picks
  // the conversion of its colour profile; pixels already decoded are converted and turned upright
  // at once. `decodedUpright`: the decoder already turned the pixels as the orientation says (a
  // HEIF's rotation and mirror properties), so only the metadata learn of the turn. False when
  // memory runs out for the turn.
  bool SetPhoto(std::shared_ptr<const PhotoMetadata> metadata, int orientation,
                const PhotoHandling& handling, bool decodedUpright = false);
  // An image made from this one's pixels (a crop) carries its metadata on, as an edited image.
  void InheritPhoto(const Image& from);
  // The metadata to write, or null.
  const PhotoMetadata* Metadata() const { return metadata_.get(); }
  // The stored pixels were (or will be, as they decode) turned upright.
  bool TurnedUpright() const { return turnedUpright_; }
  // The pixels are still those the file stored: no turn and no edit.
  bool PixelsAsStored() const { return !turnedUpright_ && !edited_; }
  // The handling the image was loaded with.
  bool LoadedWith(const PhotoHandling& handling) const { return handling_ == handling; }
  // A JPEG stored as one grey component.
  bool StoredGrey() const;

  // A deferred decode failed: the image acts as no image.
  bool Failed() const { return failed_; }
  // Why the image failed; empty while it has not.
  const std::string& FailureReason() const { return failureReason_; }
  bool HasPixels() const { return bitmap_.has_value(); }
  // The size the pixels have or will have when decoded in full.
  int Width() const { return bitmap_ ? bitmap_->width : (Transposed() ? height_ : width_); }
  int Height() const { return bitmap_ ? bitmap_->height : (Transposed() ? width_ : height_); }

  // The pixels, decoded in full first when they are deferred. Nullptr once the image failed.
  Bitmap* Pixels() { return bitmap_ ? &*bitmap_ : DecodedPixels(); }
  // The pixels for a resize to width × height that shrinks both sides: a deferred JPEG without
  // its coefficients at hand is decoded at the smallest scale still at least that size.
  Bitmap* PixelsToShrink(std::int64_t width, std::int64_t height);
  // The pixels for the full greyscale effect: a deferred BMP is decoded grey right away, and
  // `greyed` says so (the caller then has nothing left to do).
  Bitmap* PixelsToGreyscale(bool& greyed);

  // A JPEG save can write the image straight from its file's coefficients: the image holds no
  // pixels yet, nothing has changed it, and its file is a JPEG of the layout the encoder writes.
  bool CanTranscodeJpeg() const;
  // Reads the coefficients for TranscodeJpeg if they are not at hand. False when the file does
  // not decode, and the image has failed.
  bool PrepareTranscode();
  // Writes the coefficients requantised (jpeg::CoefficientImage::Transcode); they are spent
  // either way, so the image decodes from its file again should it be needed later.
  bool TranscodeJpeg(int quality, bool progressive, EncodedOutput& out,
                     std::span<const JpegSegment> segments);

  // Makes sure the file decodes (reading a JPEG's image data when nothing has checked it yet);
  // false when it does not, and the image has failed.
  bool Validate();

  // To be called after anything changed the image's pixels or state: the image is no longer as
  // loaded, and gets a new stamp.
  void Changed();
  // To be called after an edit changed what the pixels show (Changed, and a thumbnail no longer
  // matches).
  void Edited();
  // Different for every image and every change of one.
  std::uint64_t Stamp() const { return stamp_; }
  // Nothing changed the image since its file was loaded.
  bool AsLoaded() const { return asLoaded_ && !failed_; }
  // The hash of the file the image is still exactly as loaded from, when the image can tell it;
  // a file with this hash loads as this image.
  std::optional<ContentHash> SourceHash() const;
  std::int32_t SourceKind() const { return kind_; }

 private:
  Image();
  Bitmap* DecodedPixels();
  bool DecodeDeferred(int scaleDenominator, bool greyscale);
  bool ReadCoefficients();
  void Fail(std::string reason);
  // The turn still owed to the stored pixels swaps their sides.
  bool Transposed() const { return pendingOrientation_ >= 5; }
  // Turns freshly decoded pixels upright. False when memory runs out.
  bool TurnDecoded();
  // Converts freshly decoded RGB pixels from the photo's profile to sRGB, when that is asked (a
  // JPEG decoder converts its rows itself).
  void ConvertDecoded(Bitmap& bitmap) const;

  std::optional<Bitmap> bitmap_;
  // A JPEG's bytes; the open file of a BMP or PNG waiting for its pixels; the hash of the file of
  // a PNG decoded at load.
  FileBytes source_;
  std::shared_ptr<const FileSource> file_;
  std::optional<ContentHash> fileHash_;
  std::int32_t kind_ = 0;
  int width_ = 0;
  int height_ = 0;
  jpeg::Header jpegHeader_{};
  std::unique_ptr<jpeg::CoefficientImage> coefficients_;
  bool validated_ = false;
  bool failed_ = false;
  std::string failureReason_;
  bool asLoaded_ = false;
  std::uint64_t stamp_ = 0;
  std::shared_ptr<const PhotoMetadata> metadata_;
  PhotoHandling handling_{};
  // The EXIF orientation the stored pixels still need turning from (1: none).
  int pendingOrientation_ = 1;
  bool turnedUpright_ = false;
  bool edited_ = false;
  // The conversion of the photo's profile to sRGB its decoded pixels go through, or null: an RGB
  // profile's only when the handling asks for it, a CMYK profile's always.
  std::shared_ptr<const ColorTransform> toSrgb_;
};

}  // namespace imaging
