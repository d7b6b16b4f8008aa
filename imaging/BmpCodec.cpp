#include "imaging/BmpCodec.h"

namespace imaging::bmp {
bool Sniff(std::span<const std::uint8_t>) { return false; }
std::optional<Bitmap> Decode(std::span<const std::uint8_t>) { return std::nullopt; }
bool Encode(const Bitmap&, std::FILE*) { return false; }
}  // namespace imaging::bmp
