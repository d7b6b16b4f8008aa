// The bodies of the fuzz targets, as plain functions: the libFuzzer entry points call them, and the
// replay test runs every stored seed and finding through them in the normal test suite.
#pragma once

#include <cstdint>
#include <span>

namespace fuzztargets {

// Decodes the bytes as a BMP; when that works, writes the image as a 24-bit BMP to memory, decodes
// that again and compares the pixels. False when the second decode fails or differs.
bool BmpRoundTrip(std::span<const std::uint8_t> bytes);

// Loads the bytes through imaging::LoadImageFile, exactly as a file on disk: the bytes are put in
// an in-memory file (memfd) and loaded by its /proc path. A loaded image is probed, read and
// released. False when a loaded image breaks the library's promises (sizes beyond the limits, a
// 24-bit state, or a handle that does not release).
bool LoadImage(std::span<const std::uint8_t> bytes);

}  // namespace fuzztargets
