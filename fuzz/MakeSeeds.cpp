// Writes the fuzzing seeds: BMP files from our encoder at every depth, hand-made BMP files for the
// header kinds and codings the encoder never writes, and JPEG and PNG files from our encoders (left
// out while those encoders cannot write); the leading bytes of the other kinds the probe tells
// apart; settings files; and paths. Usage: fuzz_make_seeds <seeds folder>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
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
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      const auto index = static_cast<std::uint8_t>(y == 2 ? 3 : (x + y) % 6);
      bitmap.indices.push_back(index);
      const imaging::Rgb color = bitmap.palette[index];
      std::uint8_t* pixel = bitmap.Row(y) + 3 * x;
      pixel[0] = color.red;
      pixel[1] = color.green;
      pixel[2] = color.blue;
    }
  }
  bitmap.depth = depth;
  bitmap.rleCompression = rle;
  if (depth != imaging::ColorDepth::kPalette8) {
    bitmap.palette.clear();
    bitmap.indices.clear();
  }
  return bitmap;
}

template <typename Write>
Bytes Captured(Write write) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = stream != nullptr && write(stream);
  if (stream != nullptr) std::fclose(stream);
  Bytes bytes;
  if (written) bytes.assign(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

void PutU16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutU32(Bytes& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// A BMP put together field by field: masks inside headers of 52 bytes and more, after a 40-byte
// header otherwise. Without `data`, uncompressed rows of a fixed byte pattern are made up.
Bytes HandMade(std::uint32_t headerSize, std::int32_t width, std::int32_t height,
               std::uint32_t bits, std::uint32_t compression, const Bytes& palette,
               const std::vector<std::uint32_t>& masks, Bytes data = {}) {
  if (data.empty()) {
    const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    for (std::size_t index = 0; index < stride * static_cast<std::size_t>(std::abs(height));
         ++index) {
      data.push_back(static_cast<std::uint8_t>(index * 37 + 11));
    }
  }
  Bytes header;
  PutU32(header, headerSize);
  if (headerSize == imaging::bmp::kCoreHeaderSize) {
    for (std::uint32_t field :
         {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 1u, bits}) {
      PutU16(header, field);
    }
  } else {
    PutU32(header, static_cast<std::uint32_t>(width));
    PutU32(header, static_cast<std::uint32_t>(height));
    PutU16(header, 1);
    PutU16(header, bits);
    const std::size_t entrySize = 4;
    for (std::uint32_t field : {compression, static_cast<std::uint32_t>(data.size()), 2835u, 2835u,
                                static_cast<std::uint32_t>(palette.size() / entrySize), 0u}) {
      PutU32(header, field);
    }
    for (std::uint32_t mask : masks) PutU32(header, mask);
    if (headerSize != imaging::bmp::kInfoHeaderSize) header.resize(headerSize);
  }
  Bytes file = {'B', 'M'};
  const std::size_t offset = imaging::bmp::kFileHeaderSize + header.size() + palette.size();
  PutU32(file, static_cast<std::uint32_t>(offset + data.size()));
  PutU32(file, 0);
  PutU32(file, static_cast<std::uint32_t>(offset));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The text with every line feed stored as CR LF, as the settings file is written.
std::string WithCrLf(const std::string& text) {
  std::string stored;
  for (char character : text)
    stored += character == '\n' ? std::string("\r\n") : std::string(1, character);
  return stored;
}

bool WriteSeed(const std::filesystem::path& folder, const std::string& name, const Bytes& bytes) {
  if (bytes.empty()) {
    std::cerr << "skipped " << name << ": its encoder wrote nothing\n";
    return true;
  }
  std::filesystem::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds <seeds folder>\n";
    return 2;
  }
  using imaging::ColorDepth;
  const auto encodeBmp = [](const imaging::Bitmap& bitmap) {
    return Captured([&](std::FILE* out) { return imaging::bmp::Encode(bitmap, out); });
  };
  const Bytes palette4 = {0, 0, 255, 0, 0, 160, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
  const Bytes corePalette = {0, 0, 255, 0, 160, 0, 255, 0, 0, 255, 255, 255};
  const std::vector<std::pair<std::string, Bytes>> bmpSeeds = {
      {"encoded-24.bmp", encodeBmp(SmallImage(ColorDepth::kTrue24, false))},
      {"encoded-16.bmp", encodeBmp(SmallImage(ColorDepth::kHigh16, false))},
      {"encoded-8.bmp", encodeBmp(SmallImage(ColorDepth::kPalette8, false))},
      {"encoded-8-rle.bmp", encodeBmp(SmallImage(ColorDepth::kPalette8, true))},
      {"core-8.bmp", HandMade(12, 4, 3, 8, 0, corePalette, {})},
      {"os2-64-4bit.bmp", HandMade(64, 5, 3, 4, 0, palette4, {})},
      {"info-1bit-topdown.bmp",
       HandMade(40, 9, -3, 1, 0, Bytes(palette4.begin(), palette4.begin() + 8), {})},
      {"info-32bit.bmp", HandMade(40, 3, 2, 32, 0, {}, {})},
      {"info-565-masks-after.bmp", HandMade(40, 3, 3, 16, 3, {}, {0xF800, 0x07E0, 0x001F})},
      {"v5-565.bmp", HandMade(124, 3, 3, 16, 3, {}, {0xF800, 0x07E0, 0x001F})},
      {"v3-32bit-10-10-10.bmp",
       HandMade(56, 3, 2, 32, 3, {}, {0x3FF00000, 0x000FFC00, 0x000003FF})},
      // Runs, an absolute run, end of line, a delta, end of bitmap.
      {"rle4.bmp", HandMade(40, 6, 4, 4, 2, palette4, {},
                            {6, 0x12, 0, 0, 0, 5, 0x31, 0x23, 0x10, 0, 0, 2, 1, 1, 3, 0x33, 0, 1})},
      {"rle8-delta.bmp", HandMade(40, 6, 4, 8, 1, palette4, {},
                                  {6, 1, 0, 0, 0, 3, 2, 3, 1, 0, 0, 2, 2, 1, 2, 3, 0, 0, 0, 1})},
  };
  const imaging::Bitmap photo = SmallImage(ColorDepth::kTrue24, false);
  const std::vector<std::pair<std::string, Bytes>> otherSeeds = {
      {"baseline.jpg",
       Captured([&](std::FILE* out) { return imaging::jpeg::Encode(photo, 75, false, out); })},
      {"progressive.jpg",
       Captured([&](std::FILE* out) { return imaging::jpeg::Encode(photo, 75, true, out); })},
      {"plain.png",
       Captured([&](std::FILE* out) { return imaging::png::Encode(photo, false, out); })},
      {"interlaced.png",
       Captured([&](std::FILE* out) { return imaging::png::Encode(photo, true, out); })},
  };

  using namespace std::string_view_literals;
  // The kinds the probe tells apart besides the three images, and text that starts like them.
  const std::vector<std::pair<std::string, Bytes>> probeSeeds = {
      {"gif87a.gif", Text("GIF87a\x07\x00\x05\x00\x80\x00\x00"sv)},
      {"gif89a.gif", Text("GIF89a\x07\x00\x05\x00\x80\x00\x00"sv)},
      {"intel.tif", Text("II*\x00\x08\x00\x00\x00\x00\x00"sv)},
      {"motorola.tif", Text("MM\x00*\x00\x00\x00\x08\x00\x00"sv)},
      {"bare.pic", Text("PIC\x1A\x00\x00\x00\x01\x00\x10"sv)},
      {"commented.pic", Text("PIC made by hand\x1A\x00\x00\x00\x01"sv)},
      {"maki.mag", Text("MAKI02  PC98 user     \x1A"sv)},
      {"version5.pcx", Text("\x0A\x05\x01\x08\x00\x00\x00\x00\x06\x00\x04\x00"sv)},
      {"text.txt", Text("PIC and GIF are named in this text file.\n")},
  };
  // Every field, one per line.
  const std::string settings =
      "TessellarionVer102\n/home/user/out dir/\n2\n2\n800\n600\n3\n1\n0\n35\n4\n71\n1\n10\n20\n30\n"
      "40\n2\nholiday\n";
  const std::string outOfRange =
      "TessellarionVer102\n\n9\n-1\n0\n2001\nx\n5\n99999999999\n150\n9\n72\n2\n-5\n0\n0\n2001\n7\n"
      "   name\n";
  const std::vector<std::pair<std::string, Bytes>> settingsSeeds = {
      {"every-field.ini", Text(WithCrLf(settings))},
      {"lf-only.ini", Text(settings)},
      {"byte-order-mark.ini", Text("\xEF\xBB\xBF" + WithCrLf(settings))},
      {"short.ini", Text(WithCrLf(settings.substr(0, settings.find("35\n"))))},
      {"out-of-range.ini", Text(WithCrLf(outOfRange))},
  };
  const std::vector<std::pair<std::string, Bytes>> nameSeeds = {
      {"unix.txt", Text("/home/user/holiday.final.jpg")},
      {"windows.txt", Text("C:\\in\\a.b.c.png")},
      {"no-folder.txt", Text("nofolder.bmp")},
      {"japanese.txt", Text("/表/ソフト.bmp")},
      {"dotted-folder.txt", Text("/my.pics/scan")},
      {"trailing-dot.txt", Text("/in/name.")},
  };

  const std::filesystem::path root = argv[1];
  bool written = true;
  for (const auto& [name, bytes] : bmpSeeds) {
    written = WriteSeed(root / "fuzz_bmp_roundtrip", name, bytes) && written;
    written = WriteSeed(root / "fuzz_load_image", name, bytes) && written;
  }
  for (const auto& [name, bytes] : otherSeeds) {
    written = WriteSeed(root / "fuzz_load_image", name, bytes) && written;
  }
  // The probe sees the images too, one of each format.
  for (const auto& seeds : {bmpSeeds, otherSeeds, probeSeeds}) {
    for (const auto& [name, bytes] : seeds) {
      written = WriteSeed(root / "fuzz_probe_file_kind", name, bytes) && written;
    }
  }
  for (const auto& [name, bytes] : settingsSeeds) {
    written = WriteSeed(root / "fuzz_settings_file", name, bytes) && written;
  }
  for (const auto& [name, bytes] : nameSeeds) {
    written = WriteSeed(root / "fuzz_file_name", name, bytes) && written;
  }
  return written ? 0 : 1;
}
