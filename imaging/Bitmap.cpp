#include "imaging/Bitmap.h"

#include <new>

#include "imaging/Imaging.h"

namespace imaging {

bool SizeWithinLimits(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

std::optional<Bitmap> MakeBitmap(std::int64_t width, std::int64_t height) {
  if (!SizeWithinLimits(width, height)) return std::nullopt;
  Bitmap bitmap;
  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  try {
    bitmap.pixels.assign(bitmap.PixelCount() * 3, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return bitmap;
}

}  // namespace imaging
