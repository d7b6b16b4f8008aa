// imaging_bench: what each step of a conversion costs inside the imaging library, in one process,
// on generated photo-like images and a flat screenshot-like one. bench/run prints it after the
// comparison with the other tools, as a breakdown of where the converter's time goes; the floors
// those comparisons need are in bench_floor.
//
//   imaging_bench [--runs N]     N timed runs per step (default 7); the best one is reported
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
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"

namespace {

using imaging::ImageHandle;

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

// Bands of a few flat colours with one-pixel borders, like a screenshot.
imaging::Bitmap MakeFlat(int width, int height) {
  imaging::Bitmap bitmap = *imaging::MakeBitmap(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = bitmap.Row(y) + static_cast<std::size_t>(x) * 3;
      const bool border = x % 160 == 0 || y % 90 == 0;
      const int band = (x / 160 + y / 90) % 4;
      pixel[0] = border ? 40 : static_cast<std::uint8_t>(200 + band * 10);
      pixel[1] = border ? 40 : static_cast<std::uint8_t>(210 - band * 20);
      pixel[2] = border ? 48 : static_cast<std::uint8_t>(230 - band * 5);
    }
  }
  return bitmap;
}

// The JPEG file with an APP1 EXIF segment saying `orientation` put after its JFIF segment, as a
// phone writes a portrait photo (stored on its side, tagged 6).
bool WriteTagged(const std::string& path, const std::string& source, int orientation) {
  std::FILE* in = std::fopen(source.c_str(), "rb");
  if (in == nullptr) return false;
  std::vector<std::uint8_t> bytes;
  for (int byte = std::fgetc(in); byte != EOF; byte = std::fgetc(in)) {
    bytes.push_back(static_cast<std::uint8_t>(byte));
  }
  std::fclose(in);
  // "Exif\0\0", a little-endian TIFF header, IFD0 with the one orientation entry, no next IFD.
  const std::vector<std::uint8_t> segment = {0xFF,
                                             0xE1,
                                             0,
                                             34,
                                             'E',
                                             'x',
                                             'i',
                                             'f',
                                             0,
                                             0,
                                             'I',
                                             'I',
                                             42,
                                             0,
                                             8,
                                             0,
                                             0,
                                             0,
                                             1,
                                             0,
                                             0x12,
                                             0x01,
                                             3,
                                             0,
                                             1,
                                             0,
                                             0,
                                             0,
                                             static_cast<std::uint8_t>(orientation),
                                             0,
                                             0,
                                             0,
                                             0,
                                             0,
                                             0,
                                             0};
  if (bytes.size() < 20) return false;
  bytes.insert(bytes.begin() + 20, segment.begin(), segment.end());  // after SOI and JFIF
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

bool WriteWithCodec(const std::string& path, const std::function<bool(std::FILE*)>& encode) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = encode(out);
  return std::fclose(out) == 0 && written;
}

// Best wall time in milliseconds of `runs` calls of `work`, or nothing when a call fails. `setup`
// runs untimed before each call and hands `work` its image, released untimed afterwards. The
// library forgets the files it has seen before each run, so no run profits from the one before.
std::optional<double> BestMilliseconds(int runs, const std::function<ImageHandle()>& setup,
                                       const std::function<bool(ImageHandle)>& work) {
  double best = 0;
  for (int run = 0; run < runs; ++run) {
    imaging::ResetHandleTable();
    const ImageHandle handle = setup ? setup() : 0;
    const auto start = std::chrono::steady_clock::now();
    const bool done = work(handle);
    const auto stop = std::chrono::steady_clock::now();
    imaging::FreeImage(handle);
    if (!done) return std::nullopt;
    const double milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
    if (run == 0 || milliseconds < best) best = milliseconds;
  }
  return best;
}

void PrintRow(const char* name, const std::optional<double>& milliseconds) {
  if (milliseconds) {
    std::printf("  %-52s %8.2f\n", name, *milliseconds);
  } else {
    std::printf("  %-52s %8s\n", name, "n/a");
  }
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
  const std::string jpegFile = folder + "photo.jpg";
  const std::string pngFile = folder + "photo.png";
  const std::string flatFile = folder + "flat.png";
  const std::string bmpFile = folder + "photo.bmp";
  const std::string output = folder + "out";

  const imaging::Bitmap photo = MakePhoto(1920, 1080);
  const bool written =
      WriteWithCodec(
          jpegFile, [&](std::FILE* out) { return imaging::jpeg::Encode(photo, 90, false, out); }) &&
      WriteWithCodec(pngFile,
                     [&](std::FILE* out) { return imaging::png::Encode(photo, false, out); }) &&
      WriteWithCodec(
          flatFile,
          [&](std::FILE* out) { return imaging::png::Encode(MakeFlat(1280, 720), false, out); }) &&
      WriteWithCodec(bmpFile, [&](std::FILE* out) { return imaging::bmp::Encode(photo, out); });
  if (!written) {
    std::fprintf(stderr, "imaging_bench: cannot write the test images in %s\n", folder.c_str());
    return 1;
  }

  std::printf(
      "Steps inside the imaging library, 1920 x 1080 photo unless named, best of %d runs, ms:\n",
      runs);
  const auto none = std::function<ImageHandle()>();
  const auto loadJpeg = [&] { return imaging::LoadJpeg(jpegFile); };
  const auto loadAny = [&] { return imaging::LoadImageFile(jpegFile); };
  const auto pixels = [](ImageHandle handle) {
    return imaging::ReadPixelColor(handle, 0, 0), handle;
  };
  const auto decoded = [&] { return pixels(loadJpeg()); };
  const auto infoOf = [](ImageHandle handle) {
    imaging::ImageInfoRecord record{};
    return imaging::GetImageInfo(handle, record) != 0 ? std::optional(record) : std::nullopt;
  };

  PrintRow("JPEG header only (LoadJpeg + GetImageInfo)",
           BestMilliseconds(runs, none, [&](ImageHandle) {
             const ImageHandle handle = loadJpeg();
             const bool done = infoOf(handle).has_value();
             imaging::FreeImage(handle);
             return done;
           }));
  PrintRow("JPEG decode, full size", BestMilliseconds(runs, loadJpeg, [&](ImageHandle handle) {
             return imaging::ReadPixelColor(handle, 1919, 1079) != 0 || infoOf(handle).has_value();
           }));
  PrintRow("JPEG decode at 1/2 for a resize to 640 x 480 (with the resize)",
           BestMilliseconds(runs, loadJpeg, [&](ImageHandle handle) {
             return imaging::ResizeImage(handle, 640, 480) != 0;
           }));
  PrintRow("JPEG read through all data (LoadImageFile)",
           BestMilliseconds(runs, none, [&](ImageHandle) {
             const ImageHandle handle = loadAny();
             const bool done = handle != 0;
             imaging::FreeImage(handle);
             return done;
           }));
  PrintRow("JPEG q80 from the coefficients (after LoadImageFile)",
           BestMilliseconds(runs, loadAny, [&](ImageHandle handle) {
             return imaging::SaveJpeg(output, handle, 80, 0) != 0;
           }));
  // An unedited JPEG saved as JPEG, load included, untagged and tagged as a camera would: at
  // 1920 × 1080, orientation 2 mirrors the coefficients in place and 8 transposes them, while 6
  // would mirror the partial MCU row at the bottom (1080 = 67.5 × 16) to the left, so that photo
  // goes through pixels; a 4032 × 3024 phone photo is whole MCUs and turns in its coefficients.
  const auto convert = [&](const std::string& input) {
    return BestMilliseconds(runs, none, [&, input](ImageHandle) {
      const ImageHandle handle = imaging::LoadImageFile(input);
      const bool done = imaging::SaveJpeg(output, handle, 80, 0) != 0;
      imaging::FreeImage(handle);
      return done;
    });
  };
  const std::string phoneFile = folder + "phone.jpg";
  bool tagged = WriteWithCodec(phoneFile, [&](std::FILE* out) {
    return imaging::jpeg::Encode(MakePhoto(4032, 3024), 90, false, out);
  });
  for (const int orientation : {2, 6, 8}) {
    tagged = tagged &&
             WriteTagged(folder + "tagged" + std::to_string(orientation) + ".jpg", jpegFile,
                         orientation) &&
             WriteTagged(folder + "phone" + std::to_string(orientation) + ".jpg", phoneFile,
                         orientation);
  }
  const auto taggedRow = [&](const char* name, const std::string& file) {
    PrintRow(name, tagged ? convert(folder + file) : std::nullopt);
  };
  PrintRow("JPEG -> JPEG q80, load and save, untagged", convert(jpegFile));
  taggedRow("  tagged 2 (mirrored in the coefficients)", "tagged2.jpg");
  taggedRow("  tagged 8 (transposed in the coefficients)", "tagged8.jpg");
  taggedRow("  tagged 6 (partial MCU row: through pixels)", "tagged6.jpg");
  PrintRow("  4032 x 3024 untagged", tagged ? convert(phoneFile) : std::nullopt);
  taggedRow("  4032 x 3024 tagged 6 (in the coefficients)", "phone6.jpg");
  PrintRow("JPEG q80 from pixels", BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::SaveJpeg(output, handle, 80, 0) != 0;
           }));
  PrintRow("greyscale + JPEG q80 of one component",
           BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             // The greyscale pass is part of the timed work; its own cost is below.
             return imaging::MakeGreyscale(handle, 255) != 0 &&
                    imaging::SaveJpeg(output, handle, 80, 0) != 0;
           }));
  PrintRow("PNG decode", BestMilliseconds(runs, none, [&](ImageHandle) {
             const ImageHandle handle = imaging::LoadPng(pngFile);
             const bool done = handle != 0;
             imaging::FreeImage(handle);
             return done;
           }));
  PrintRow("PNG encode, photo", BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::SavePng(output, handle, 0) != 0;
           }));
  PrintRow("PNG encode, photo, interlaced (zlib)",
           BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::SavePng(output, handle, 1) != 0;
           }));
  PrintRow("PNG encode, flat 1280 x 720",
           BestMilliseconds(
               runs, [&] { return imaging::LoadPng(flatFile); },
               [&](ImageHandle handle) { return imaging::SavePng(output, handle, 0) != 0; }));
  PrintRow("BMP decode", BestMilliseconds(runs, none, [&](ImageHandle) {
             const ImageHandle handle = imaging::LoadBmp(bmpFile);
             const bool done = imaging::ReadPixelColor(handle, 0, 0) != 0 || handle != 0;
             imaging::FreeImage(handle);
             return done;
           }));
  PrintRow("BMP encode, 24-bit", BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::SaveBmp(output + "24.bmp", handle) != 0;
           }));
  PrintRow("256 colours (ReduceTo8Bit)", BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::ReduceTo8Bit(handle, 0, 0) != 0;
           }));
  PrintRow("BMP encode, 8-bit", BestMilliseconds(
                                    runs,
                                    [&] {
                                      const ImageHandle handle = decoded();
                                      imaging::ReduceTo8Bit(handle, 0, 0);
                                      return handle;
                                    },
                                    [&](ImageHandle handle) {
                                      return imaging::SaveBmp(output + "8.bmp", handle) != 0;
                                    }));
  PrintRow("greyscale", BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::MakeGreyscale(handle, 255) != 0;
           }));
  PrintRow("sepia (greyscale + scale 1400, 1000, 725)",
           BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::MakeGreyscale(handle, 255) != 0 &&
                    imaging::ScaleRgb(handle, 1400, 1000, 725) != 0;
           }));
  PrintRow("rotate 5 degrees", BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::RotateImage(handle, 5000, 0xFFFFFF) != 0;
           }));
  PrintRow("resize to 640 x 480 (decoded in full first)",
           BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             return imaging::ResizeImage(handle, 640, 480) != 0;
           }));
  PrintRow("table-art pixel reads (ReadPixelColor, every pixel)",
           BestMilliseconds(runs, decoded, [&](ImageHandle handle) {
             std::uint32_t sum = 0;
             for (int y = 0; y < 1080; ++y) {
               for (int x = 0; x < 1920; ++x) sum += imaging::ReadPixelColor(handle, x, y);
             }
             return sum != 0;
           }));

  imaging::ResetHandleTable();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
