#include "imaging/PngCodec.h"

namespace imaging::png {
bool Sniff(std::span<const std::uint8_t>) { return false; }
std::optional<Bitmap> Decode(std::span<const std::uint8_t>) { return std::nullopt; }
bool Encode(const Bitmap&, bool, std::FILE*) { return false; }
}  // namespace imaging::png
