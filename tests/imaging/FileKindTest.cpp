// The file-kind probe: each kind's signature, near misses, and text that must stay unknown.
#include <gtest/gtest.h>

#include <string>

#include "imaging/FileKind.h"
#include "imaging/Imaging.h"

namespace {

using namespace std::string_literals;

std::int32_t KindOf(const std::string& text) {
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  return imaging::FileKindOfBytes(bytes);
}

// A PCX header start: manufacturer, version, encoding, bits per plane, window 0,0 .. 5,4.
std::string Pcx(char version, char bitsPerPlane) {
  return "\x0A"s + version + "\x01"s + bitsPerPlane + "\0\0\0\0\x05\0\x04\0"s +
         std::string(116, '\0');
}

TEST(FileKindTest, TellsEachKindFromItsSignature) {
  const std::string bmpHeader = "BM\x36\0\0\0\0\0\0\0\x36\0\0\0"s;
  const struct {
    std::string bytes;
    std::int32_t kind;
  } cases[] = {
      {bmpHeader + "\x28\0\0\0"s, imaging::kFileKindBmp},
      {bmpHeader + "\x0C\0\0\0"s, imaging::kFileKindBmp},
      {bmpHeader + "\x7C\0\0\0"s, imaging::kFileKindBmp},
      {"\xFF\xD8\xFF\xE0\0\x10JFIF"s, imaging::kFileKindJpeg},
      {"\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"s, imaging::kFileKindPng},
      {"GIF87a\x06\0"s, imaging::kFileKindGif},
      {"GIF89a\x06\0"s, imaging::kFileKindGif},
      {"II*\0\x08\0\0\0"s, imaging::kFileKindTiff},
      {"MM\0*\0\0\0\x08"s, imaging::kFileKindTiff},
      {"PIC\x1A\0\0\0\x08"s, imaging::kFileKindPic},
      {"PIC/MM/XY00000000/:comment\x1A\0"s, imaging::kFileKindPic},
      {"MAKI02  user  \x1A"s, imaging::kFileKindMag},
      {Pcx(5, 8), imaging::kFileKindPcx},
      {Pcx(0, 1), imaging::kFileKindPcx},
      // Near misses: "BM" with a header size no BMP has, a two-byte JPEG start, GIF of an
      // unknown version, "PIC" without its comment end, MAG of another version, and PCX with a
      // bad version, bits per plane, or window.
      {bmpHeader + "\x42\0\0\0"s, imaging::kFileKindUnknown},
      {"BM"s, imaging::kFileKindUnknown},
      {"\xFF\xD8"s, imaging::kFileKindUnknown},
      {"GIF88a"s, imaging::kFileKindUnknown},
      {"PIC\x01\x1A"s, imaging::kFileKindUnknown},
      {"MAKI01A "s, imaging::kFileKindUnknown},
      {Pcx(1, 8), imaging::kFileKindUnknown},
      {Pcx(5, 3), imaging::kFileKindUnknown},
      {"\x0A\x05\x01\x08\x05\0\0\0\x04\0\0\0"s, imaging::kFileKindUnknown},
      // Text, including text that starts with a line feed (the PCX manufacturer byte) and text
      // that starts with "PIC", and nothing at all.
      {"Hello, world.\n"s, imaging::kFileKindUnknown},
      {"\n\nHello\n"s, imaging::kFileKindUnknown},
      {"\n\x05\x01\x08"s, imaging::kFileKindUnknown},
      {"PICTURE LIST\nsunset.bmp\n"s, imaging::kFileKindUnknown},
      {"BMP files are bitmaps.\n"s, imaging::kFileKindUnknown},
      {""s, imaging::kFileKindUnknown},
  };
  for (const auto& test : cases) EXPECT_EQ(KindOf(test.bytes), test.kind) << test.bytes;
}

}  // namespace
