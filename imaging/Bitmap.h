// The in-memory image behind an ImageHandle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace imaging {

// One colour as the codecs and edits see it.
struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The colour depth an image is held at. Decoders always produce kTrue24; the reductions switch to
// the other two states.
enum class ColorDepth { kTrue24 = 24, kHigh16 = 16, kPalette8 = 8 };

struct Bitmap {
  int width = 0;
  int height = 0;
  // Top-down rows of red, green, blue bytes with no row padding. Whatever the depth, this always
  // holds the colours the image shows: at kHigh16 each channel is a 5-bit value widened to 8 bits
  // ((v << 3) | (v >> 2)), at kPalette8 each pixel is its palette entry.
  std::vector<std::uint8_t> pixels;
  ColorDepth depth = ColorDepth::kTrue24;
  // kPalette8 only: at most 256 colours and one palette index per pixel, top-down, no padding.
  std::vector<Rgb> palette;
  std::vector<std::uint8_t> indices;
  // A later BMP save of a kPalette8 image writes RLE8 data.
  bool rleCompression = false;
  // Every pixel has red = green = blue. Set by the full greyscale effect and by the decoders of
  // greyscale files, kept by the edits that treat the three channels alike, cleared by any other.
  // A JPEG save writes such an image as one greyscale component.
  bool grey = false;

  std::size_t RowBytes() const { return static_cast<std::size_t>(width) * 3; }
  std::size_t PixelCount() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
  std::uint8_t* Row(int y) { return pixels.data() + static_cast<std::size_t>(y) * RowBytes(); }
  const std::uint8_t* Row(int y) const {
    return pixels.data() + static_cast<std::size_t>(y) * RowBytes();
  }
};

// True when width × height is a size the library accepts (both sides 1..kMaxImageSide and at most
// kMaxImagePixels in all). Every decoder and every edit that makes a new size asks this before it
// allocates.
bool SizeWithinLimits(std::int64_t width, std::int64_t height);

// A 24-bit bitmap of the given size with every pixel black, or nothing when the size is outside the
// limits or the memory cannot be had.
std::optional<Bitmap> MakeBitmap(std::int64_t width, std::int64_t height);
// The same, but its pixels hold anything: for a decoder that writes every one of them. The memory
// may be that of a released image.
std::optional<Bitmap> MakeBitmapToFill(std::int64_t width, std::int64_t height);

// Large buffers of released images and files, kept for the next file of a batch, so that each
// file does not map, fault in and clear fresh memory. At most two are kept: a batch needs one for
// a JPEG file's bytes and one for its pixels.
//
// A pooled buffer with room for `size` bytes, resized to exactly that (the bytes it held stay,
// the rest are zero), or a new one of zeros. Throws std::bad_alloc when memory runs out.
std::vector<std::uint8_t> TakeBuffer(std::size_t size);
// The pooled buffer with the least room of those with room for `size` bytes, as it is (its size
// and content unchanged); or an empty one with room for an eighth more than `size`, so that the
// slightly larger files of a batch fit it too. Throws std::bad_alloc when memory runs out.
std::vector<std::uint8_t> TakeBufferWithRoom(std::size_t size);
// Hands a buffer back; small ones are simply released.
void ReturnBuffer(std::vector<std::uint8_t>&& buffer);
// Releases every pooled buffer.
void ReleaseBuffers();

}  // namespace imaging
