// JPEG decoding and encoding through libjpeg-turbo.
//
// libjpeg reports fatal errors by calling error_exit, which must not return; ours jumps back with
// longjmp to the function that drove the library. Every function that calls setjmp here keeps only
// trivially destructible locals and receives everything else (the bitmap, the library state) by
// pointer or reference from its caller, so the jump skips no destructor and no local of the
// jumping frame is read afterwards. The caller releases the library state on every path.
//
// Damaged files: a file that ends early (or whose entropy data hits an unexpected marker) is
// decoded as far as its data goes and the rest is filled by the library's mid-grey, as most
// viewers show it. Each such problem is a libjpeg warning; a file that raises more than
// kMaxJpegWarnings of them is refused, so a stream of garbage is not decoded block by block.
#include "imaging/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include "imaging/Imaging.h"

// jpeglib.h needs size_t and FILE declared before it.
extern "C" {
#include <jpeglib.h>
}

namespace imaging::jpeg {
namespace {

// A file raising more warnings than this is treated as garbage rather than as damaged.
constexpr int kMaxJpegWarnings = 100;
// Scanlines handed to libjpeg per read or write call; enough for the tallest MCU row.
constexpr int kRowsPerCall = 16;

// libjpeg's error manager with the jump target of the current library call. The library's err
// pointer points at `manager`, the first member of this standard-layout struct, so it can be
// turned back into a pointer to the whole struct.
struct ErrorState {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  int warnings;
};

ErrorState& ErrorStateOf(j_common_ptr common) {
  return *reinterpret_cast<ErrorState*>(common->err);
}

[[noreturn]] void JumpOnError(j_common_ptr common) { std::longjmp(ErrorStateOf(common).jump, 1); }

// Warnings (level -1) are counted, never printed; trace messages (level 0 and up) are dropped.
void CountWarning(j_common_ptr common, int level) {
  if (level >= 0) return;
  ErrorState& state = ErrorStateOf(common);
  if (++state.warnings > kMaxJpegWarnings) std::longjmp(state.jump, 1);
}

void DiscardMessage(j_common_ptr) {}

jpeg_error_mgr* InstallErrorState(ErrorState& state) {
  jpeg_error_mgr* manager = jpeg_std_error(&state.manager);
  manager->error_exit = JumpOnError;
  manager->emit_message = CountWarning;
  manager->output_message = DiscardMessage;
  state.warnings = 0;
  return manager;
}

// Everything one decode needs from libjpeg, owned by Decode and released there on every path.
struct DecodeState {
  jpeg_decompress_struct info;
  ErrorState error;
  jpeg_progress_mgr progress;
};

// libjpeg calls this while it gathers the scans of a multi-scan file; input_scan_number is the
// number of scans started so far. A file with too many scans is refused before the next one is
// decoded.
void LimitScans(j_common_ptr common) {
  const auto* info = reinterpret_cast<j_decompress_ptr>(common);
  if (info->input_scan_number > kMaxJpegScans) std::longjmp(ErrorStateOf(common).jump, 1);
}

// Reads the headers up to the first scan and chooses the output colour space. False on any error.
bool ReadHeader(DecodeState& state, const std::uint8_t* data, std::size_t size) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_create_decompress(&state.info);
  state.progress.progress_monitor = LimitScans;
  state.info.progress = &state.progress;
  jpeg_mem_src(&state.info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&state.info, TRUE);
  // libjpeg converts YCCK to CMYK but neither to RGB; CMYK rows are converted here instead.
  const bool cmyk =
      state.info.jpeg_color_space == JCS_CMYK || state.info.jpeg_color_space == JCS_YCCK;
  state.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGB;
  return true;
}

// CMYK as stored by Adobe applications (marked by the Adobe segment) is inverted: each byte is
// 255 minus the ink, so it already measures the light let through, and red = c × k / 255. Files
// without the segment hold plain ink amounts: red = (255 − c) × (255 − k) / 255.
void CmykRowToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const unsigned black = inverted ? cmyk[3] : 255u - cmyk[3];
    for (int channel = 0; channel < 3; ++channel) {
      const unsigned light = inverted ? cmyk[channel] : 255u - cmyk[channel];
      rgb[channel] = static_cast<std::uint8_t>((light * black + 127) / 255);
    }
  }
}

// Decodes the image into `pixels` (output_height rows of rowBytes bytes, top-down). For a
// multi-scan file jpeg_start_decompress gathers every scan first, under the scan limit.
bool ReadPixels(DecodeState& state, std::uint8_t* pixels, std::size_t rowBytes) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_start_decompress(&state.info);
  jpeg_decompress_struct& info = state.info;
  const bool cmyk = info.out_color_space == JCS_CMYK;
  if (static_cast<std::size_t>(info.output_width) * 3 != rowBytes ||
      info.output_components != (cmyk ? 4 : 3)) {
    return false;
  }
  // CMYK rows land in a library-owned buffer first; jpeg_destroy_decompress frees it.
  JSAMPARRAY cmykRows =
      cmyk ? info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                    info.output_width * 4, kRowsPerCall)
           : nullptr;
  JSAMPROW rows[kRowsPerCall];
  while (info.output_scanline < info.output_height) {
    const JDIMENSION first = info.output_scanline;
    const JDIMENSION count =
        std::min<JDIMENSION>(info.output_height - first, static_cast<JDIMENSION>(kRowsPerCall));
    for (JDIMENSION row = 0; row < count; ++row) {
      rows[row] = cmyk ? cmykRows[row] : pixels + static_cast<std::size_t>(first + row) * rowBytes;
    }
    const JDIMENSION read = jpeg_read_scanlines(&info, rows, count);
    if (read == 0) return false;
    if (cmyk) {
      for (JDIMENSION row = 0; row < read; ++row) {
        CmykRowToRgb(cmykRows[row], pixels + static_cast<std::size_t>(first + row) * rowBytes,
                     info.output_width, info.saw_Adobe_marker != 0);
      }
    }
  }
  // The rest of the file (normally just the end marker) is not needed; jpeg_destroy_decompress
  // discards it without checking.
  return true;
}

// Everything one encode needs from libjpeg, owned by Encode and released there on every path.
struct EncodeState {
  jpeg_compress_struct info;
  ErrorState error;
};

bool WriteImage(EncodeState& state, const Bitmap& bitmap, int quality, bool progressive,
                std::FILE* out) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_compress_struct& info = state.info;
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(bitmap.width);
  info.image_height = static_cast<JDIMENSION>(bitmap.height);
  info.input_components = 3;
  info.in_color_space = JCS_EXT_RGB;
  // The defaults give a JFIF file, YCbCr with 4:2:0 chroma, the standard Huffman tables (no
  // optimisation pass, for speed) and the accurate integer DCT.
  jpeg_set_defaults(&info);
  // Forcing baseline tables keeps every quantiser within 8 bits; quality 0 is taken as 1.
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  // libjpeg takes non-const rows but only reads them.
  auto* pixels = const_cast<std::uint8_t*>(bitmap.pixels.data());
  const std::size_t rowBytes = bitmap.RowBytes();
  JSAMPROW rows[kRowsPerCall];
  while (info.next_scanline < info.image_height) {
    const JDIMENSION first = info.next_scanline;
    const JDIMENSION count =
        std::min<JDIMENSION>(info.image_height - first, static_cast<JDIMENSION>(kRowsPerCall));
    for (JDIMENSION row = 0; row < count; ++row) {
      rows[row] = pixels + static_cast<std::size_t>(first + row) * rowBytes;
    }
    if (jpeg_write_scanlines(&info, rows, count) == 0) return false;
  }
  // Flushes the last bytes; the stdio destination raises an error when a write fails.
  jpeg_finish_compress(&info);
  return true;
}

}  // namespace

bool Sniff(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

std::optional<Bitmap> Decode(std::span<const std::uint8_t> bytes) {
  DecodeState state{};
  state.info.err = InstallErrorState(state.error);
  std::optional<Bitmap> bitmap;
  // The size check comes before anything is allocated for the pixels, by us or by libjpeg.
  if (ReadHeader(state, bytes.data(), bytes.size()) &&
      SizeWithinLimits(state.info.image_width, state.info.image_height)) {
    bitmap = MakeBitmap(state.info.image_width, state.info.image_height);
    if (bitmap && !ReadPixels(state, bitmap->pixels.data(), bitmap->RowBytes())) bitmap.reset();
  }
  jpeg_destroy_decompress(&state.info);
  return bitmap;
}

bool Encode(const Bitmap& bitmap, int quality, bool progressive, std::FILE* out) {
  if (out == nullptr || !SizeWithinLimits(bitmap.width, bitmap.height) ||
      bitmap.pixels.size() != bitmap.PixelCount() * 3) {
    return false;
  }
  EncodeState state{};
  state.info.err = InstallErrorState(state.error);
  const bool written = WriteImage(state, bitmap, std::clamp(quality, 0, 100), progressive, out);
  jpeg_destroy_compress(&state.info);
  return written && std::ferror(out) == 0;
}

}  // namespace imaging::jpeg
