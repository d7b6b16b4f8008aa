// imaging_bench: what each step of a conversion costs inside the imaging library, in one process,
// on generated photo-like images and a flat screenshot-like one. bench/run prints it after the
// comparison with the other tools, as a breakdown of where the converter's time goes; the floors
// those comparisons need are in bench_floor.
//
//   imaging_bench [--runs N]     N timed runs per step (default 7); the best one is reported
#include <malloc.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AdobeRgbProfile.h"
#include "imaging/Bitmap.h"
#include "imaging/BmpCodec.h"
#include "imaging/ColorProfile.h"
#include "imaging/FileMemory.h"
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

// Processor time of this thread, in milliseconds: on a shared machine it leaves out the time the
// thread waited for a processor.
double ThreadMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The best processor time in milliseconds of each piece of work over `runs` rounds, each round
// doing every piece once, so that a busy spell of the machine falls on all of them alike; nothing
// for a piece that failed. As in a batch, freed memory and pooled buffers serve the next piece;
// only the files seen before are forgotten.
std::vector<std::optional<double>> BestInterleaved(int runs,
                                                   const std::vector<std::function<bool()>>& work) {
  std::vector<std::optional<double>> best(work.size());
  std::vector<bool> failed(work.size(), false);
  for (int run = 0; run < runs; ++run) {
    for (std::size_t index = 0; index < work.size(); ++index) {
      if (failed[index]) continue;
      imaging::ForgetFiles();
      const double start = ThreadMilliseconds();
      const bool done = work[index]();
      const double milliseconds = ThreadMilliseconds() - start;
      if (!done) {
        failed[index] = true;
        best[index].reset();
        continue;
      }
      if (!best[index] || milliseconds < *best[index]) best[index] = milliseconds;
    }
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

  // An unedited JPEG saved as JPEG, load included, untagged and tagged as a camera would, in
  // every orientation. At 1920 x 1080 a mirror along the rows (2) and a transposition (5, 8) move
  // whole blocks, while a mirror along the columns (3, 4, 6, 7) meets the chroma's last block row,
  // half full (1080 = 67.5 x 16), and mixes neighbouring blocks; a 4032 x 3024 phone photo is
  // whole MCUs, a 4000 x 3000 one ends in half an MCU again.
  const auto convert = [&](const std::string& input) {
    const ImageHandle handle = imaging::LoadImageFile(input);
    const bool done = imaging::SaveJpeg(output, handle, 80, 0) != 0;
    imaging::FreeImage(handle);
    return done;
  };
  const std::string phoneFile = folder + "phone.jpg";
  const std::string cameraFile = folder + "camera.jpg";
  bool tagged =
      WriteWithCodec(phoneFile,
                     [&](std::FILE* out) {
                       return imaging::jpeg::Encode(MakePhoto(4032, 3024), 90, false, out);
                     }) &&
      WriteWithCodec(cameraFile, [&](std::FILE* out) {
        return imaging::jpeg::Encode(MakePhoto(4000, 3000), 90, false, out);
      });
  std::vector<std::pair<std::string, std::string>> cases = {{"1920 x 1080 untagged", jpegFile}};
  for (int orientation = 2; orientation <= 8; ++orientation) {
    const std::string file = folder + "tagged" + std::to_string(orientation) + ".jpg";
    tagged = tagged && WriteTagged(file, jpegFile, orientation);
    static const char* const kHow[] = {
        "mirrored",          "mixed",     "mixed", "transposed", "transposed, mixed",
        "transposed, mixed", "transposed"};
    cases.emplace_back(
        "  tagged " + std::to_string(orientation) + " (" + kHow[orientation - 2] + ")", file);
  }
  cases.emplace_back("4032 x 3024 untagged", phoneFile);
  cases.emplace_back("  tagged 6 (transposed)", folder + "phone6.jpg");
  cases.emplace_back("4000 x 3000 untagged", cameraFile);
  cases.emplace_back("  tagged 6 (transposed, mixed)", folder + "camera6.jpg");
  tagged = tagged && WriteTagged(folder + "phone6.jpg", phoneFile, 6) &&
           WriteTagged(folder + "camera6.jpg", cameraFile, 6);
  // Freed blocks stay in the heap for the next file, as tessellarion-cli keeps them for a batch.
  mallopt(M_MMAP_THRESHOLD, 512 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  std::vector<std::function<bool()>> conversions;
  for (const auto& entry : cases) {
    conversions.push_back([&, file = entry.second] { return convert(file); });
  }
  const std::vector<std::optional<double>> times =
      tagged ? BestInterleaved(runs, conversions)
             : std::vector<std::optional<double>>(cases.size());
  std::printf(
      "JPEG -> JPEG q80, load and save, best processor time of %d rounds, ms, and the "
      "ratio to the same photo untagged:\n",
      runs);
  std::optional<double> untagged;
  for (std::size_t index = 0; index < cases.size(); ++index) {
    const bool isTagged = cases[index].first.starts_with(" ");
    if (!isTagged) untagged = times[index];
    if (isTagged && times[index] && untagged) {
      std::printf("  %-52s %8.2f  %5.2f\n", cases[index].first.c_str(), *times[index],
                  *times[index] / *untagged);
    } else {
      PrintRow(cases[index].first.c_str(), times[index]);
    }
  }

  // An Adobe RGB photo to sRGB: the transform's build, once per batch, and what the conversion
  // adds to decoding the 12-megapixel photo, in the decoder's rows or in a pass of its own.
  std::vector<std::uint8_t> camera;
  if (std::FILE* in = std::fopen(cameraFile.c_str(), "rb")) {
    camera.resize(static_cast<std::size_t>(std::filesystem::file_size(cameraFile)));
    if (std::fread(camera.data(), 1, camera.size(), in) != camera.size()) camera.clear();
    std::fclose(in);
  }
  const std::vector<std::uint8_t> adobe = bench::AdobeRgbProfile();
  const std::shared_ptr<const imaging::ColorTransform> toSrgb =
      imaging::ColorTransform::Build(adobe);
  const auto decode = [&](const imaging::ColorTransform* profile, bool secondPass) {
    imaging::Result<imaging::Bitmap> bitmap = imaging::jpeg::Decode(camera, 1, profile);
    if (!bitmap) return false;
    if (secondPass) toSrgb->ConvertRgb(bitmap->pixels.data(), bitmap->PixelCount());
    imaging::ReturnBuffer(std::move(bitmap->pixels));
    return true;
  };
  const std::vector<std::optional<double>> colour =
      camera.empty() || toSrgb == nullptr
          ? std::vector<std::optional<double>>(4)
          : BestInterleaved(runs, {[&] { return imaging::ColorTransform::Build(adobe) != nullptr; },
                                   [&] { return decode(nullptr, false); },
                                   [&] { return decode(toSrgb.get(), false); },
                                   [&] { return decode(nullptr, true); }});
  std::printf("Adobe RGB to sRGB, 4000 x 3000 JPEG, best processor time of %d rounds, ms, and the "
              "ratio to the decode alone:\n",
              runs);
  PrintRow("transform built (LittleCMS, tables, checks)", colour[0]);
  PrintRow("decode, untagged", colour[1]);
  const char* const kConverted[] = {"  converted in the decoder's rows", "  converted in a second pass"};
  for (std::size_t index = 2; index < 4; ++index) {
    if (colour[index] && colour[1]) {
      std::printf("  %-52s %8.2f  %5.2f\n", kConverted[index - 2], *colour[index],
                  *colour[index] / *colour[1]);
    } else {
      PrintRow(kConverted[index - 2], colour[index]);
    }
  }

  imaging::ResetHandleTable();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return 0;
}
