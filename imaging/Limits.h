// The size limits every decoder, edit and load checks before it allocates: an image or file beyond
// them does not load.
#pragma once

#include <cstdint>

namespace imaging {

inline constexpr std::int64_t kMaxImageSide = 65535;
inline constexpr std::int64_t kMaxImagePixels = 100'000'000;
// Progressive JPEG files with more scans than this are refused (each scan costs a pass over the
// coefficients, so a crafted file with thousands of tiny scans would take minutes).
inline constexpr int kMaxJpegScans = 256;
// Files larger than this do not load, without being read: a JPEG's load holds the whole file in
// memory, and a BMP's compressed data is read whole. Every image within the limits fits well below
// it (a 32-bit BMP of kMaxImagePixels is 400 MB, a 16-bit RGBA PNG stored without compression
// 800 MB).
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{1} << 30;
// Why a file beyond kMaxImageFileBytes does not load.
inline constexpr const char* kFileTooLargeReason = "the file is larger than 1 GiB";
static_assert(kMaxImageFileBytes == std::uint64_t{1} << 30, "the reason names the limit");

}  // namespace imaging
