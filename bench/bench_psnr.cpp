// bench_psnr: peak signal-to-noise ratio between two image files of the same size, both decoded
// through our imaging library (BMP, JPEG or PNG, any depth), over all three channels.
//
//   bench_psnr FIRST SECOND       prints the PSNR in dB ("inf" when equal, "n/a" when either
//                                 file does not load or the sizes differ)
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "imaging/Imaging.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_psnr FIRST SECOND\n");
    return 64;
  }
  const imaging::ImageHandle first = imaging::LoadImageFile(argv[1]);
  const imaging::ImageHandle second = imaging::LoadImageFile(argv[2]);
  imaging::ImageInfoRecord firstInfo{};
  imaging::ImageInfoRecord secondInfo{};
  if (imaging::GetImageInfo(first, firstInfo) == 0 ||
      imaging::GetImageInfo(second, secondInfo) == 0 || firstInfo[1] != secondInfo[1] ||
      firstInfo[2] != secondInfo[2]) {
    std::printf("n/a\n");
    return 1;
  }
  double squares = 0;
  for (std::int32_t y = 0; y < firstInfo[2]; ++y) {
    for (std::int32_t x = 0; x < firstInfo[1]; ++x) {
      const std::uint32_t a = imaging::ReadPixelColor(first, x, y);
      const std::uint32_t b = imaging::ReadPixelColor(second, x, y);
      for (int shift = 0; shift < 24; shift += 8) {
        const double difference =
            static_cast<double>((a >> shift) & 0xFF) - static_cast<double>((b >> shift) & 0xFF);
        squares += difference * difference;
      }
    }
  }
  imaging::FreeImage(first);
  imaging::FreeImage(second);
  const double samples = 3.0 * firstInfo[1] * firstInfo[2];
  if (squares == 0) {
    std::printf("inf\n");
  } else {
    std::printf("%.2f\n", 10.0 * std::log10(255.0 * 255.0 * samples / squares));
  }
  return 0;
}
