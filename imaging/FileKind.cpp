#include "imaging/FileKind.h"

#include "imaging/Imaging.h"

namespace imaging {
std::int32_t FileKindOfBytes(std::span<const std::uint8_t>) { return kFileKindUnknown; }
}  // namespace imaging
