#include "tests/support/JpegFiles.h"

#include <algorithm>
#include <cstdlib>

#include "tests/support/TestSupport.h"

namespace testsupport {

std::vector<std::uint8_t> LibjpegFile(int width, int height, int components, J_COLOR_SPACE input,
                                      J_COLOR_SPACE file, bool adobe,
                                      std::vector<std::uint8_t> samples,
                                      std::vector<jpeg_scan_info> scans) {
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

std::vector<std::uint8_t> HugeFrame(const std::vector<std::uint8_t>& jpeg,
                                    std::uint8_t frameMarker) {
  const std::uint8_t pair[] = {0xFF, frameMarker};
  const auto frame = std::search(jpeg.begin(), jpeg.end(), pair, pair + 2) - jpeg.begin();
  return Patched(jpeg, static_cast<std::size_t>(frame) + 5, 0xDCFFDCFF);
}

}  // namespace testsupport
