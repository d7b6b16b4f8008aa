// Tells a file's kind from its first bytes.
#pragma once

#include <cstdint>
#include <span>

namespace imaging {

// Enough leading bytes for every signature the probe looks at.
inline constexpr std::size_t kFileKindProbeBytes = 128;

// One of the FileKind values of Imaging.h for the leading bytes of a file (at most
// kFileKindProbeBytes are looked at; fewer is fine).
std::int32_t FileKindOfBytes(std::span<const std::uint8_t> leadingBytes);

}  // namespace imaging
