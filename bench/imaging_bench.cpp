// Times whole conversions through the imaging entry points on generated photo-like images, and
// compares the two JPEG-source paths with a floor: bare libjpeg-turbo (and libpng) doing the same
// work with nothing around it, in the same run.
//
//   imaging_bench [--runs N]     N timed runs per row (default 7); the best one is reported
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/BmpCodec.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"

// jpeglib.h needs size_t and FILE declared before it.
extern "C" {
#include <jpeglib.h>
}

namespace {

using imaging::ImageHandle;

constexpr int kOutputQuality = 80;
constexpr int kSourceQuality = 90;

// A smooth scene of overlapping waves in each channel, finer ripples over it, and mild grain:
// noise from a fixed-seed generator, blended with the grain to the left and above so it is
// spatially correlated like a camera's. The same image on every run and every machine.
imaging::Bitmap MakePhoto(int width, int height) {
  imaging::Bitmap bitmap = *imaging::MakeBitmap(width, height);
  std::uint32_t seed = 20240607;
  std::vector<double> grainAbove(static_cast<std::size_t>(width) * 3, 0.0);
  std::uint8_t* pixel = bitmap.pixels.data();
  for (int y = 0; y < height; ++y) {
    double grainLeft[3] = {0.0, 0.0, 0.0};
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      const double v = static_cast<double>(y) / height;
      for (int channel = 0; channel < 3; ++channel) {
        const double phase = channel * 2.1;
        const double scene = 110.0 + 70.0 * std::sin(5.0 * u + 3.0 * v * v + phase) *
                                         std::cos(4.0 * v - 2.0 * u + phase / 2);
        const double ripples =
            25.0 * std::sin(40.0 * u * u + 25.0 * v + phase) * std::cos(30.0 * u * v + 7.0 * u);
        seed = seed * 1664525u + 1013904223u;
        const double white = static_cast<double>(seed >> 24) / 255.0 * 2.0 - 1.0;
        double& above =
            grainAbove[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(channel)];
        const double grain = 3.0 * white + 0.3 * grainLeft[channel] + 0.3 * above;
        grainLeft[channel] = grain;
        above = grain;
        const long value = std::lround(scene + ripples + grain);
        *pixel++ = static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
    }
  }
  return bitmap;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  std::fclose(file);
  return bytes;
}

// The floor's pieces: plain library calls with the library's default error handling (these
// inputs are our own and valid), the same output settings as our codecs.
struct RawImage {
  std::vector<std::uint8_t> pixels;
  int width = 0;
  int height = 0;
};

RawImage BareJpegDecode(const std::vector<std::uint8_t>& file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_RGB;
  jpeg_start_decompress(&info);
  RawImage image{std::vector<std::uint8_t>(static_cast<std::size_t>(info.output_width) *
                                           info.output_height * 3),
                 static_cast<int>(info.output_width), static_cast<int>(info.output_height)};
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  JSAMPROW rows[16];
  while (info.output_scanline < info.output_height) {
    const JDIMENSION count = std::min<JDIMENSION>(16, info.output_height - info.output_scanline);
    for (JDIMENSION row = 0; row < count; ++row) {
      rows[row] = image.pixels.data() + (info.output_scanline + row) * rowBytes;
    }
    jpeg_read_scanlines(&info, rows, count);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return image;
}

bool BareJpegEncode(const RawImage& image, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  info.input_components = 3;
  info.in_color_space = JCS_EXT_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kOutputQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(image.pixels.data()) + info.next_scanline * rowBytes;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(out) == 0;
}

bool BarePngEncode(const RawImage& image, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, imaging::png::kCompressionLevel);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, imaging::png::kFilterMask);
  png_write_info(png, info);
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, image.pixels.data() + static_cast<std::size_t>(y) * rowBytes);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

bool WriteWithCodec(const std::string& path, const std::function<bool(std::FILE*)>& encode) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = encode(out);
  return std::fclose(out) == 0 && written;
}

// Best wall time in milliseconds of `runs` calls of `work`, or nothing when a call fails. `setup`
// runs untimed before each call and hands `work` its image.
std::optional<double> BestMilliseconds(int runs, const std::function<ImageHandle()>& setup,
                                       const std::function<bool(ImageHandle)>& work) {
  double best = 0;
  for (int run = 0; run < runs; ++run) {
    const ImageHandle handle = setup ? setup() : 0;
    const auto start = std::chrono::steady_clock::now();
    const bool done = work(handle);
    const auto stop = std::chrono::steady_clock::now();
    if (handle != 0) imaging::FreeImage(handle);
    if (!done) return std::nullopt;
    const double milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
    if (run == 0 || milliseconds < best) best = milliseconds;
  }
  return best;
}

std::optional<double> BestMilliseconds(int runs, const std::function<bool()>& work) {
  return BestMilliseconds(runs, nullptr, [&](ImageHandle) { return work(); });
}

struct Comparison {
  std::optional<double> ours;
  std::optional<double> floor;
};

// Best of `runs` calls each of `ours` and `floor`, taken in turn so that both see the same load
// from whatever else the machine is doing.
Comparison CompareAlternately(int runs, const std::function<bool()>& ours,
                              const std::function<bool()>& floor) {
  Comparison best;
  for (int run = 0; run < runs; ++run) {
    const std::optional<double> oursNow = BestMilliseconds(1, ours);
    const std::optional<double> floorNow = BestMilliseconds(1, floor);
    if (!oursNow || !floorNow) return {};
    if (run == 0 || *oursNow < *best.ours) best.ours = oursNow;
    if (run == 0 || *floorNow < *best.floor) best.floor = floorNow;
  }
  return best;
}

// A converted image is released inside the timed part: freeing is part of every conversion.
bool Convert(ImageHandle loaded, const std::function<bool(ImageHandle)>& save) {
  if (loaded == 0) return false;
  const bool saved = save(loaded);
  imaging::FreeImage(loaded);
  return saved;
}

std::string Cell(const std::optional<double>& milliseconds) {
  if (!milliseconds) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", *milliseconds);
  return text;
}

// One table row: our time, the floor's, their ratio, and the size of the file our path wrote.
void PrintRow(const char* name, const std::optional<double>& ours,
              const std::optional<double>& floor = std::nullopt, const std::string& output = "") {
  std::string ratio;
  if (ours && floor) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", *ours / *floor);
    ratio = text;
  }
  std::error_code error;
  const std::uintmax_t bytes = output.empty() ? 0 : std::filesystem::file_size(output, error);
  const std::string size = ours && !output.empty() && !error ? std::to_string(bytes) : "";
  std::printf("%-40s %9s %9s %6s %10s\n", name, Cell(ours).c_str(), Cell(floor).c_str(),
              ratio.c_str(), size.c_str());
}

// Near when every channel is within `tolerance` of the expected colour (0x00BBGGRR).
bool Near(std::uint32_t color, int red, int green, int blue, int tolerance) {
  return std::abs(static_cast<int>(color & 0xFF) - red) <= tolerance &&
         std::abs(static_cast<int>((color >> 8) & 0xFF) - green) <= tolerance &&
         std::abs(static_cast<int>((color >> 16) & 0xFF) - blue) <= tolerance;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  for (int index = 1; index < argc; ++index) {
    if (std::strcmp(argv[index], "--runs") == 0 && index + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++index]));
    } else {
      std::fprintf(stderr, "usage: %s [--runs N]\n", argv[0]);
      return 2;
    }
  }

  std::string folder = (std::filesystem::temp_directory_path() / "imaging-bench-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  folder += "/";
  const std::string sourceJpeg = folder + "source.jpg";
  const std::string sourcePng = folder + "source.png";
  const std::string sourceBmp = folder + "source.bmp";
  const std::string outJpeg = folder + "out.jpg";
  const std::string outPng = folder + "out.png";
  const std::string outBmp = folder + "out.bmp";
  const std::string floorJpeg = folder + "floor.jpg";
  const std::string floorPng = folder + "floor.png";

  const imaging::Bitmap large = MakePhoto(1920, 1080);
  const imaging::Bitmap medium = MakePhoto(1280, 720);
  const bool haveJpeg = WriteWithCodec(sourceJpeg, [&](std::FILE* out) {
    return imaging::jpeg::Encode(large, kSourceQuality, false, out);
  });
  const bool havePng = WriteWithCodec(
      sourcePng, [&](std::FILE* out) { return imaging::png::Encode(medium, false, out); });
  const bool haveBmp =
      WriteWithCodec(sourceBmp, [&](std::FILE* out) { return imaging::bmp::Encode(large, out); });

  std::printf("imaging_bench: best of %d runs, ms per image\n", runs);
  std::printf("%-40s %9s %9s %6s %10s\n", "path", "ours", "floor", "ratio", "bytes");

  const auto loadJpeg = [&] { return imaging::LoadJpeg(sourceJpeg); };
  const auto jpegToJpeg = [&] {
    return Convert(imaging::LoadJpeg(sourceJpeg), [&](ImageHandle handle) {
      return imaging::SaveJpeg(outJpeg, handle, kOutputQuality, 0) != 0;
    });
  };
  const auto bareJpegToJpeg = [&] {
    const auto bytes = ReadWholeFile(sourceJpeg);
    return bytes && BareJpegEncode(BareJpegDecode(*bytes), floorJpeg);
  };
  const auto jpegToPng = [&] {
    return Convert(imaging::LoadJpeg(sourceJpeg),
                   [&](ImageHandle handle) { return imaging::SavePng(outPng, handle, 0) != 0; });
  };
  const auto bareJpegToPng = [&] {
    const auto bytes = ReadWholeFile(sourceJpeg);
    return bytes && BarePngEncode(BareJpegDecode(*bytes), floorPng);
  };
  Comparison comparison;
  if (haveJpeg) comparison = CompareAlternately(runs, jpegToJpeg, bareJpegToJpeg);
  PrintRow("JPEG 1920x1080 -> JPEG q80", comparison.ours, comparison.floor, outJpeg);
  comparison = {};
  if (haveJpeg) comparison = CompareAlternately(runs, jpegToPng, bareJpegToPng);
  PrintRow("JPEG 1920x1080 -> PNG", comparison.ours, comparison.floor, outPng);

  const auto pngToBmp = [&] {
    return Convert(imaging::LoadPng(sourcePng),
                   [&](ImageHandle handle) { return imaging::SaveBmp(outBmp, handle) != 0; });
  };
  PrintRow("PNG 1280x720 -> BMP", havePng ? BestMilliseconds(runs, pngToBmp) : std::nullopt,
           std::nullopt, outBmp);
  const auto bmpToJpeg = [&] {
    return Convert(imaging::LoadBmp(sourceBmp), [&](ImageHandle handle) {
      return imaging::SaveJpeg(outJpeg, handle, kOutputQuality, 0) != 0;
    });
  };
  PrintRow("BMP 1920x1080 -> JPEG q80", haveBmp ? BestMilliseconds(runs, bmpToJpeg) : std::nullopt,
           std::nullopt, outJpeg);

  // Edits on the loaded 1920 × 1080 image; each is checked for its effect, so an edit that is not
  // there yet reads n/a rather than a meaningless time.
  const std::function<ImageHandle()> freshImage = loadJpeg;
  PrintRow("rotate 5 degrees", BestMilliseconds(runs, freshImage, [](ImageHandle handle) {
             imaging::ImageInfoRecord record{};
             return imaging::RotateImage(handle, 5000, 0xFFFFFF) != 0 &&
                    imaging::GetImageInfo(handle, record) != 0 && record[1] > 1920;
           }));
  PrintRow("sepia (greyscale + scale 1400,1000,725)",
           BestMilliseconds(runs, freshImage, [](ImageHandle handle) {
             const std::uint32_t before = imaging::ReadPixelColor(handle, 960, 540);
             const bool done = imaging::MakeGreyscale(handle, 255) != 0 &&
                               imaging::ScaleRgb(handle, 1400, 1000, 725) != 0;
             const double grey = 0.299 * (before & 0xFF) + 0.587 * ((before >> 8) & 0xFF) +
                                 0.114 * ((before >> 16) & 0xFF);
             return done && Near(imaging::ReadPixelColor(handle, 960, 540),
                                 static_cast<int>(std::min(255.0, grey * 1.4)),
                                 static_cast<int>(grey), static_cast<int>(grey * 0.725), 3);
           }));
  PrintRow(
      "resize 1920x1080 -> 640x480", BestMilliseconds(runs, freshImage, [](ImageHandle handle) {
        imaging::ImageInfoRecord record{};
        return imaging::ResizeImage(handle, 640, 480) != 0 &&
               imaging::GetImageInfo(handle, record) != 0 && record[1] == 640 && record[2] == 480;
      }));

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
