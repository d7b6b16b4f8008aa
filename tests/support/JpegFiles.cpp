#include "tests/support/JpegFiles.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>

#include "tests/support/TestSupport.h"

namespace testsupport {

std::vector<std::uint8_t> LibjpegFile(int width, int height, int components, J_COLOR_SPACE input,
                                      J_COLOR_SPACE file, bool adobe,
                                      std::vector<std::uint8_t> samples,
                                      std::vector<jpeg_scan_info> scans, unsigned restartInterval) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = input;
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, file);
  info.write_Adobe_marker = adobe ? TRUE : FALSE;
  jpeg_set_quality(&info, 100, TRUE);
  info.scan_info = scans.empty() ? nullptr : scans.data();
  info.num_scans = static_cast<int>(scans.size());
  info.restart_interval = restartInterval;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = samples.data() + info.next_scanline * static_cast<unsigned>(width * components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<std::uint8_t> bytes(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

std::vector<std::uint8_t> GreyJpegWithScans(int count) {
  std::vector<jpeg_scan_info> scans = {{1, {0}, 0, 0, 0, 0}};
  for (int coefficient = 1; coefficient <= 63; ++coefficient) {
    const int steps = (count - 1) / 63 + (coefficient <= (count - 1) % 63 ? 1 : 0);
    for (int low = steps - 1; low >= 0; --low) {
      scans.push_back({1, {0}, coefficient, coefficient, low == steps - 1 ? 0 : low + 1, low});
    }
  }
  std::vector<std::uint8_t> samples(256);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
  return LibjpegFile(16, 16, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, samples, scans);
}

std::vector<std::uint8_t> JpegWithGarbledRestarts(int every) {
  const imaging::Bitmap photo = PhotoLike(401, 319);
  std::vector<std::uint8_t> jpeg =
      LibjpegFile(photo.width, photo.height, 3, JCS_RGB, JCS_YCbCr, false, photo.pixels, {}, 1);
  const std::uint8_t startOfScan[] = {0xFF, 0xDA};
  std::size_t at = static_cast<std::size_t>(
      std::search(jpeg.begin(), jpeg.end(), startOfScan, startOfScan + 2) - jpeg.begin());
  int restarts = 0;
  for (; at + 1 < jpeg.size(); ++at) {
    const bool restart = jpeg[at] == 0xFF && (jpeg[at + 1] & 0xF8) == 0xD0;
    if (!restart || ++restarts % every != 0) continue;
    jpeg[at + 1] = 0x00;
    // A byte of the interval before, where neither it nor its neighbours take part in a marker.
    const std::size_t changed = at - 3;
    if (jpeg[changed - 1] != 0xFF && jpeg[changed] != 0xFF && jpeg[changed] != 0xAA) {
      jpeg[changed] ^= 0x55;
    }
  }
  return jpeg;
}

namespace {

// libjpeg's error manager with a jump back to DecodeWithLibjpeg; `manager` is the first member.
struct Errors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

// The decode of LibjpegPixels into `pixels`; the caller owns everything, so that the jump skips no
// destructor.
bool DecodeWithLibjpeg(const std::vector<std::uint8_t>& jpeg, jpeg_decompress_struct& info,
                       Errors& errors, std::vector<std::uint8_t>& pixels) {
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.emit_message = [](j_common_ptr, int) {};
  errors.manager.error_exit = [](j_common_ptr common) {
    std::longjmp(reinterpret_cast<Errors*>(common->err)->jump, 1);
  };
  if (setjmp(errors.jump) != 0) return false;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  pixels.resize(std::size_t{info.output_width} * 3 * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels.data() + std::size_t{info.output_scanline} * info.output_width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> LibjpegPixels(const std::vector<std::uint8_t>& jpeg) {
  jpeg_decompress_struct info{};
  Errors errors{};
  std::vector<std::uint8_t> pixels;
  if (!DecodeWithLibjpeg(jpeg, info, errors, pixels)) pixels.clear();
  jpeg_destroy_decompress(&info);
  return pixels;
}

std::vector<std::uint8_t> HugeFrame(const std::vector<std::uint8_t>& jpeg, std::uint8_t frameMarker,
                                    std::uint16_t side) {
  const std::uint8_t pair[] = {0xFF, frameMarker};
  const auto frame = std::search(jpeg.begin(), jpeg.end(), pair, pair + 2) - jpeg.begin();
  // Height and width, big-endian, written as one little-endian word.
  const std::uint32_t bigEndian = static_cast<std::uint32_t>(side >> 8 | (side & 0xFF) << 8);
  return Patched(jpeg, static_cast<std::size_t>(frame) + 5, bigEndian | bigEndian << 16);
}

}  // namespace testsupport
