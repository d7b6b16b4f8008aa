// Writes the fuzzing seeds that come from the library's encoders: BMP at every depth, JPEG baseline
// and progressive, PNG plain and interlaced, into the folders of the targets that read images.
// The other seeds (hand-made BMP files of the header kinds and codings the encoder never writes,
// the leading bytes of the other kinds, settings files and paths) are stored as they are.
// Usage: fuzz_make_seeds <seeds folder>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "imaging/BmpCodec.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A 7 x 5 image of six colours: row 2 is one run, the other rows change at every pixel, so the RLE8
// seed holds both encoded and absolute runs.
imaging::Bitmap SmallImage(imaging::ColorDepth depth, bool rle) {
  imaging::Bitmap bitmap = *imaging::MakeBitmap(7, 5);
  bitmap.palette = {{255, 0, 0},     {0, 160, 0},  {0, 0, 255},
                    {255, 255, 255}, {40, 40, 40}, {250, 200, 0}};
  for (int pixel = 0; pixel < 7 * 5; ++pixel) {
    const int x = pixel % 7, y = pixel / 7;
    bitmap.indices.push_back(static_cast<std::uint8_t>(y == 2 ? 3 : (x + y) % 6));
    const imaging::Rgb color = bitmap.palette[bitmap.indices.back()];
    std::uint8_t* target = bitmap.Row(y) + 3 * x;
    target[0] = color.red;
    target[1] = color.green;
    target[2] = color.blue;
  }
  bitmap.depth = depth;
  bitmap.rleCompression = rle;
  if (depth != imaging::ColorDepth::kPalette8) {
    bitmap.palette.clear();
    bitmap.indices.clear();
  }
  return bitmap;
}

// What an encoder writes to a memory stream; empty when it fails.
Bytes Encoded(const std::function<bool(std::FILE*)>& encode) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = stream != nullptr && encode(stream);
  if (stream != nullptr) std::fclose(stream);
  Bytes bytes(buffer, buffer + (written ? size : 0));
  std::free(buffer);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds <seeds folder>\n";
    return 2;
  }
  const std::filesystem::path root = argv[1];
  bool written = true;
  // Every image goes to the load and probe targets, a BMP to the round trip too.
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    for (const char* target : {"fuzz_load_image", "fuzz_probe_file_kind", "fuzz_bmp_roundtrip"}) {
      if (std::string(target) == "fuzz_bmp_roundtrip" && !name.ends_with(".bmp")) continue;
      std::filesystem::create_directories(root / target);
      std::ofstream out(root / target / name, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      written = written && !bytes.empty() && out;
    }
  };
  using imaging::ColorDepth;
  const std::pair<const char*, imaging::Bitmap> bitmaps[] = {
      {"encoded-24.bmp", SmallImage(ColorDepth::kTrue24, false)},
      {"encoded-16.bmp", SmallImage(ColorDepth::kHigh16, false)},
      {"encoded-8.bmp", SmallImage(ColorDepth::kPalette8, false)},
      {"encoded-8-rle.bmp", SmallImage(ColorDepth::kPalette8, true)}};
  for (const auto& seed : bitmaps) {
    write(seed.first,
          Encoded([&](std::FILE* out) { return imaging::bmp::Encode(seed.second, out); }));
  }
  const imaging::Bitmap photo = SmallImage(ColorDepth::kTrue24, false);
  for (const bool second : {false, true}) {
    write(second ? "progressive.jpg" : "baseline.jpg",
          Encoded([&](std::FILE* out) { return imaging::jpeg::Encode(photo, 75, second, out); }));
    write(second ? "interlaced.png" : "plain.png",
          Encoded([&](std::FILE* out) { return imaging::png::Encode(photo, second, out); }));
  }
  return written ? 0 : 1;
}
