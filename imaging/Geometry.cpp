#include "imaging/Geometry.h"

namespace imaging {
std::optional<Bitmap> Crop(const Bitmap&, std::int64_t, std::int64_t, std::int64_t, std::int64_t) {
  return std::nullopt;
}
bool Rotate(Bitmap&, std::int64_t, Rgb) { return false; }
bool Resize(Bitmap&, std::int64_t, std::int64_t) { return false; }
}  // namespace imaging
