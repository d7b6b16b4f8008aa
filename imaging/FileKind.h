// Tells a file's kind from its first bytes.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/ByteSource.h"

namespace imaging {

// Enough leading bytes for every signature the probe looks at.
inline constexpr std::size_t kFileKindProbeBytes = 128;

// One of the FileKind values of Imaging.h for the leading bytes of a file (at most
// kFileKindProbeBytes are looked at; fewer is fine).
// A HEIF file whose brands name no codec (mif1, msf1) is not recognised by its leading bytes.
std::int32_t FileKindOfBytes(std::span<const std::uint8_t> leadingBytes);

// The kind of a whole file: its leading bytes, and for a HEIF file whose brands name no codec,
// the codec of its primary image. With `checkHeader`, a HEIC, AVIF or WebP file whose headers
// do not read (a truncated file, an image sequence without a still image) or give a size beyond
// the limits is not recognised.
std::int32_t FileKindOfSource(const ByteSource& source, bool checkHeader);

// A kind FileKindOfSource tells from more than the leading bytes.
bool KindNeedsWholeFile(std::span<const std::uint8_t> leadingBytes);

}  // namespace imaging
