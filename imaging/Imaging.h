// The imaging library: every piece of pixel work the converter does goes through these entry
// points.
//
// Images live in the library behind an ImageHandle; 0 means "no image". Every entry point accepts 0
// or an unknown handle and then does nothing: GetImageInfo leaves the record untouched, saves and
// loads return 0, ReadPixelColor returns 0. No entry point throws; failures are return values, and
// FailureReason tells why the latest one failed.
//
// Loaded images are 24-bit colour. ReduceTo16Bit and ReduceTo8Bit switch an image to a 16-bit
// (5-5-5) or an 8-bit palette state; every later edit works in 24-bit colour and reduces again, so
// the depth (and the RLE switch) chosen before the edits is the one a later SaveBmp writes.
//
// Several threads may call the library at once, each on images of its own: a handle is used by
// one thread at a time. What the library shares between calls (the handle table, what it
// remembers of files, its reusable buffers) is guarded inside it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "imaging/FileKind.h"
#include "imaging/Limits.h"
#include "imaging/PhotoMetadata.h"

namespace imaging {

using ImageHandle = std::uint32_t;

// Ten 32-bit integers describing an image, filled by GetImageInfo:
//   [0] bits per pixel of the image's current state (24, 16 or 8)
//   [1] width in pixels
//   [2] height in pixels
//   [3] number of palette entries (0 unless the image is in its 8-bit state)
//   [4] 1 when a later SaveBmp writes RLE-compressed data, else 0
//   [5] bytes per row of the 24-bit pixel data (3 × width)
//   [6] .. [9] reserved, 0
using ImageInfoRecord = std::array<std::int32_t, 10>;

// Why the latest entry point that failed on this thread failed, as a short text naming the format
// or the file's situation ("BMP: compression 99 is not supported", "PNG: data ends in the middle
// of an image chunk", "disk full"); empty when none failed since ClearFailureReason. An entry
// point handed 0 leaves the reason as it is, and one handed an image whose deferred decode failed
// gives that decode's reason, so after a chain of calls on one image it names the failure that
// broke the chain.
std::string FailureReason();
void ClearFailureReason();

// The kind of the file at path, by content (see FileKind). `reserved` is ignored.
std::int32_t ProbeFileKind(const std::string& path, std::int32_t reserved);

// Loads a BMP, JPEG, PNG, HEIC, AVIF or WebP file, told by content. Returns a new handle, 0 on
// failure. Without a PhotoHandling, photos are turned upright and keep their metadata.
ImageHandle LoadImageFile(const std::string& path);
ImageHandle LoadImageFile(const std::string& path, const PhotoHandling& handling);
// Loaders for one format each: a file of any other format does not load.
ImageHandle LoadBmp(const std::string& path);
ImageHandle LoadBmp(const std::string& path, const PhotoHandling& handling);
// LoadJpeg reads a file's headers only (a file whose headers are refused does not load); its image
// data is decoded at the first use of the pixels, at a reduced scale when that use is a shrinking
// ResizeImage, and GetImageInfo answers from the headers until then. Should that decode fail, the
// image acts as no image from then on: every call does what it does for 0 (saves write nothing and
// return 0, GetImageInfo leaves the record untouched...), and FreeImage releases it returning 0.
ImageHandle LoadJpeg(const std::string& path);
ImageHandle LoadJpeg(const std::string& path, const PhotoHandling& handling);
ImageHandle LoadPng(const std::string& path);
ImageHandle LoadPng(const std::string& path, const PhotoHandling& handling);

// Releases the image. Returns 1 when a live image was released, else 0.
std::int32_t FreeImage(ImageHandle handle);

// Fills the record (see ImageInfoRecord). Returns 1, or 0 (record untouched) for no image.
std::int32_t GetImageInfo(ImageHandle handle, ImageInfoRecord& record);

// Colour of pixel (x, y), counted from the top-left corner, as 0x00BBGGRR. 0 outside the image.
std::uint32_t ReadPixelColor(ImageHandle handle, std::int32_t x, std::int32_t y);

// Returns a new handle holding the part of the image inside the rectangle (intersected with the
// image), or 0 when the intersection is empty or width or height is below 1. The handle passed in
// is released in every case.
ImageHandle CropImage(ImageHandle handle, std::int32_t left, std::int32_t top, std::int32_t width,
                      std::int32_t height);

// Depth changes, in place. The reserved arguments are ignored.
std::int32_t ConvertTo24Bit(ImageHandle handle);
// 5 bits per channel.
std::int32_t ReduceTo16Bit(ImageHandle handle, std::int32_t reserved1, std::int32_t reserved2);
// A palette of at most 256 colours: an image with at most 256 colours keeps them exactly, any
// other gets a palette cut from its colour histogram.
std::int32_t ReduceTo8Bit(ImageHandle handle, std::int32_t reserved1, std::int32_t reserved2);
// A later SaveBmp of an 8-bit image writes RLE8 data. Ignored for other depths when saving.
std::int32_t EnableRleCompression(ImageHandle handle);

// Saves write the format they are named for, whatever the path's name. The file is written to a
// temporary file in the target's folder and renamed over the target, so on failure the earlier
// file stays as it was. They return non-zero on success, 0 on failure.
std::int32_t SaveBmp(const std::string& path, ImageHandle handle);
// quality 0..100 (clamped), progressive 0 or 1.
std::int32_t SaveJpeg(const std::string& path, ImageHandle handle, std::int32_t quality,
                      std::int32_t progressive);
// interlace 1 writes Adam7.
std::int32_t SavePng(const std::string& path, ImageHandle handle, std::int32_t interlace);

// How many conversions run at once from now on (at least 1): the library keeps reusable buffers
// for that many.
void SetConcurrentJobs(std::int32_t jobs);

// Colour effects, in place.
// Greyscale with BT.601 weights; `strength` 255 is fully grey, 0 leaves the image, values between
// blend linearly.
std::int32_t MakeGreyscale(ImageHandle handle, std::int32_t strength);
// Tints toward each channel given a positive percent p: that channel c becomes
// c + (255 − c) × p / 200 (100 closes half the gap to full strength). A negative percent pulls its
// channel toward 0: c × (200 + p) / 200. A percent of 0 leaves its channel. Percents are clamped to
// −100..100.
std::int32_t TintRgb(ImageHandle handle, std::int32_t red, std::int32_t green, std::int32_t blue);
// Channel weights in per mille (1000 leaves a channel unchanged); results clamped to 0..255.
std::int32_t ScaleRgb(ImageHandle handle, std::int32_t red, std::int32_t green, std::int32_t blue);
// Per channel, amount 1..100 sharpens (unsharp mask with the 3 × 3 box blur: c + (c − blur) ×
// amount / 100) and −1..−100 softens (blend toward the 3 × 3 box blur by |amount| / 100, applied
// twice at −100). 0 leaves the channel. Amounts are clamped to −100..100.
std::int32_t AdjustClarityRgb(ImageHandle handle, std::int32_t red, std::int32_t green,
                              std::int32_t blue);
// Three 256-byte tables, red first, then green, then blue: channel value v becomes table[v].
std::int32_t ApplyLookupTables(ImageHandle handle, const std::uint8_t* tables);

// Scales to exactly width × height (area averaging when shrinking, bilinear when enlarging). A
// width or height below 1, or a size beyond the limits, leaves the image unchanged and returns 0.
std::int32_t ResizeImage(ImageHandle handle, std::int32_t width, std::int32_t height);

// Turns the image clockwise by angle / 1000 degrees. The canvas grows to hold the whole turned
// image; the uncovered area takes `background` (0x00BBGGRR). Multiples of 90° are exact.
std::int32_t RotateImage(ImageHandle handle, std::int32_t angleThousandths,
                         std::uint32_t background);

}  // namespace imaging
