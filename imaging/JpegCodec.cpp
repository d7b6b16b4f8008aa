#include "imaging/JpegCodec.h"

namespace imaging::jpeg {
bool Sniff(std::span<const std::uint8_t>) { return false; }
std::optional<Bitmap> Decode(std::span<const std::uint8_t>) { return std::nullopt; }
bool Encode(const Bitmap&, int, bool, std::FILE*) { return false; }
}  // namespace imaging::jpeg
