// Hostile input files through the whole program: each one dropped on the list, then converted by a
// batch run into every output format, followed by a good file that must still be converted. A file
// that does not load leaves no output under its final name (and no temporary), the closing
// messages count it, and nothing crashes, hangs, leaks or takes much memory. The codec tests check
// the decoders' answers in detail; here it is the program around them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "engine/ControlIds.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "platform/FileSystem.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/JpegFiles.h"

extern "C" {
#include <jpeglib.h>
#include <zlib.h>
}

namespace {

using namespace engine;
using Bytes = std::vector<std::uint8_t>;
using testsupport::PutU16;
using testsupport::PutU32;

// How far a file gets: a drop refuses it by its kind, or it is listed and does not load, or it
// loads and is converted.
enum class Stage { kNotListed, kNotLoaded, kLoads };

// What a case puts at its path besides plain bytes.
enum class Kind { kBytes, kPipe, kFolder, kSparse };

struct Case {
  const char* what;
  const char* extension;
  Bytes bytes;
  Stage stage;
  Kind kind = Kind::kBytes;
};

Bytes Patched(Bytes bytes, std::size_t at, std::uint64_t value, int byteCount = 4) {
  for (int byte = 0; byte < byteCount; ++byte) {
    bytes.at(at + static_cast<std::size_t>(byte)) = static_cast<std::uint8_t>(value >> (8 * byte));
  }
  return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// A BMP put together field by field, with a 40-byte header (masks after it) and the pixel offset
// right after the palette.
struct BmpFields {
  std::int32_t width;
  std::int32_t height;
  std::uint16_t bits;
  std::uint32_t compression;
  std::uint32_t colorsUsed;
  Bytes palette;
  Bytes data;
  std::vector<std::uint32_t> masks = {};
};

Bytes Bmp(const BmpFields& fields) {
  Bytes file = {'B', 'M'};
  const auto offset =
      static_cast<std::uint32_t>(54 + 4 * fields.masks.size() + fields.palette.size());
  PutU32(file, offset + static_cast<std::uint32_t>(fields.data.size()));
  PutU32(file, 0);
  PutU32(file, offset);
  PutU32(file, 40);
  PutU32(file, static_cast<std::uint32_t>(fields.width));
  PutU32(file, static_cast<std::uint32_t>(fields.height));
  PutU16(file, 1);
  PutU16(file, fields.bits);
  for (std::uint32_t value : {fields.compression, static_cast<std::uint32_t>(fields.data.size()),
                              2835u, 2835u, fields.colorsUsed, 0u}) {
    PutU32(file, value);
  }
  for (std::uint32_t mask : fields.masks) PutU32(file, mask);
  for (const Bytes* part : {&fields.palette, &fields.data}) {
    file.insert(file.end(), part->begin(), part->end());
  }
  return file;
}

// Four palette entries: white, red, green, blue.
const Bytes kPalette = {255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};

// Rows of `width` pixels at 1 or 4 bits, padded to 4 bytes, the indices counting up.
Bytes PackedRows(int width, int height, int bits) {
  const std::size_t stride = (static_cast<std::size_t>(width * bits) + 31) / 32 * 4;
  Bytes data(stride * static_cast<std::size_t>(height), 0);
  for (std::size_t index = 0; index < data.size(); ++index) {
    data[index] = static_cast<std::uint8_t>(bits == 1 ? 0xA5 + index : 0x12 * (index % 3));
  }
  return data;
}

// The bytes of the image saved through the library in the format its extension names.
Bytes Saved(const imaging::Bitmap& bitmap, const std::string& extension, bool progressive) {
  testsupport::TempFolder scratch;
  const std::string path = scratch.File("image." + extension);
  const imaging::ImageHandle handle = imaging::RegisterBitmap(bitmap);
  if (extension == "bmp") imaging::SaveBmp(path, handle);
  if (extension == "jpg") imaging::SaveJpeg(path, handle, 90, progressive ? 1 : 0);
  if (extension == "png") imaging::SavePng(path, handle, 0);
  imaging::FreeImage(handle);
  return testsupport::ReadFileBytes(path);
}

// Offset of the JPEG segment with this marker before the image data.
std::size_t Segment(const Bytes& bytes, std::uint8_t marker) {
  for (std::size_t at = 2; at + 4 <= bytes.size() && bytes[at] == 0xFF;
       at += 2 + (std::size_t{bytes[at + 2]} << 8) + bytes[at + 3]) {
    if (bytes[at + 1] == marker) return at;
  }
  return 0;
}

// The JPEG with the frame header claiming 65,500 × 65,500 pixels.
Bytes HugeFrame(Bytes jpeg, std::uint8_t frameMarker) {
  const std::size_t frame = Segment(jpeg, frameMarker);
  for (std::size_t field : {frame + 5, frame + 7}) {
    jpeg.at(field) = 0xFF;
    jpeg.at(field + 1) = 0xDC;
  }
  return jpeg;
}

// A 16 × 16 JPEG written by libjpeg from `components` samples per pixel, in a layout our encoder
// never writes.
Bytes LibjpegFile(int components, J_COLOR_SPACE input, J_COLOR_SPACE stored) {
  Bytes samples(static_cast<std::size_t>(16 * 16 * components));
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 13);
  return testsupport::LibjpegFile(16, 16, components, input, stored, false, samples);
}

void PutBigEndian32(Bytes& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// One PNG chunk with a correct CRC.
Bytes Chunk(const std::string& type, const Bytes& data) {
  Bytes chunk;
  chunk.reserve(12 + data.size());
  PutBigEndian32(chunk, static_cast<std::uint32_t>(data.size()));
  chunk.insert(chunk.end(), type.begin(), type.end());
  chunk.insert(chunk.end(), data.begin(), data.end());
  PutBigEndian32(chunk, static_cast<std::uint32_t>(
                            crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
  return chunk;
}

constexpr std::size_t kIhdrEnd = 33;  // signature and IHDR chunk

// The PNG with `inserted` put between IHDR and the image data.
Bytes WithChunks(const Bytes& png, const Bytes& inserted) {
  Bytes bytes = Cut(png, kIhdrEnd);
  bytes.insert(bytes.end(), inserted.begin(), inserted.end());
  bytes.insert(bytes.end(), png.begin() + kIhdrEnd, png.end());
  return bytes;
}

Bytes Flipped(Bytes bytes, std::size_t at) {
  bytes.at(at) ^= 1;
  return bytes;
}

std::vector<Case> HostileCases() {
  const imaging::Bitmap letter = testsupport::LetterF();
  const Bytes bmp = Saved(letter, "bmp", false);
  const Bytes jpeg = Saved(testsupport::PhotoLike(37, 23), "jpg", false);
  const Bytes progressive = Saved(testsupport::PhotoLike(37, 23), "jpg", true);
  const Bytes png = Saved(letter, "png", false);
  const std::size_t jpegData = Segment(jpeg, 0xDA) + 20;
  const std::size_t pngEnd = png.size() - 12;  // where IEND starts
  Bytes manyTexts;
  const Bytes text = Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'});
  for (int i = 0; i < 10'000; ++i) manyTexts.insert(manyTexts.end(), text.begin(), text.end());
  Bytes hugeHeader = Cut(png, 8);
  const Bytes ihdr = Chunk("IHDR", {0, 0x0F, 0x42, 0x40, 0, 0x0F, 0x42, 0x40, 8, 2, 0, 0, 0});
  hugeHeader.insert(hugeHeader.end(), ihdr.begin(), ihdr.end());
  hugeHeader.insert(hugeHeader.end(), png.begin() + kIhdrEnd, png.end());

  using enum Stage;
  return {
      // Too short to be anything.
      {"empty file", "bmp", {}, kNotListed},
      {"one byte", "bmp", {'B'}, kNotListed},
      {"two bytes", "bmp", {'B', 'M'}, kNotListed},
      // Header sizes no BMP has, one of them far past the end of the file.
      {"header size 0", "bmp", Patched(bmp, 14, 0), kNotListed},
      {"header size 66", "bmp", Patched(bmp, 14, 66), kNotListed},
      {"header size 0xFFFFFFFF", "bmp", Patched(bmp, 14, 0xFFFFFFFF), kNotListed},
      // Cut inside the headers and inside the pixels of an uncompressed file.
      {"cut after the header size", "bmp", Cut(bmp, 20), kNotLoaded},
      {"cut in the pixels", "bmp", Cut(bmp, bmp.size() - 3), kNotLoaded},
      // Bit counts no BMP has.
      {"0 bits", "bmp", Patched(bmp, 28, 0, 2), kNotLoaded},
      {"2 bits", "bmp", Patched(bmp, 28, 2, 2), kNotLoaded},
      {"3 bits", "bmp", Patched(bmp, 28, 3, 2), kNotLoaded},
      {"7 bits", "bmp", Patched(bmp, 28, 7, 2), kNotLoaded},
      {"64 bits", "bmp", Patched(bmp, 28, 64, 2), kNotLoaded},
      // A JPEG and a PNG stream inside a BMP, and compression values beyond every known one.
      {"BI_JPEG", "bmp", Bmp({37, 23, 0, 4, 0, {}, jpeg}), kNotLoaded},
      {"BI_PNG", "bmp", Bmp({6, 5, 0, 5, 0, {}, png}), kNotLoaded},
      {"compression 7", "bmp", Patched(bmp, 30, 7), kNotLoaded},
      {"compression 0xFFFFFFFF", "bmp", Patched(bmp, 30, 0xFFFFFFFF), kNotLoaded},
      // A height whose negation overflows 32 bits.
      {"height INT_MIN", "bmp", Patched(bmp, 22, 0x80000000u), kNotLoaded},
      // Stride × height: a width whose stride overflows 32 bits, and a size at the pixel limit
      // whose 400 MB of pixels the file does not hold.
      {"width 0x7FFFFFFF", "bmp", Patched(bmp, 18, 0x7FFFFFFF), kNotLoaded},
      {"40000 x 2500 at 32 bits", "bmp", Bmp({40000, 2500, 32, 0, 0, {}, Bytes(64, 7)}),
       kNotLoaded},
      // Size fields that lie: the file and image sizes are not trusted and do not matter, a pixel
      // offset past the end refuses the file.
      {"file size 0xFFFFFFFF", "bmp", Patched(bmp, 2, 0xFFFFFFFF), kLoads},
      {"image size 0xFFFFFFFF", "bmp", Patched(bmp, 34, 0xFFFFFFFF), kLoads},
      {"pixel offset past the end", "bmp", Patched(bmp, 10, 0xFFFFFF00), kNotLoaded},
      // 256 palette entries promised, four there, the pixels nowhere: the end cuts the palette.
      {"palette cut off", "bmp", Patched(Bmp({3, 2, 8, 0, 256, kPalette, {}}), 10, 0), kNotLoaded},
      // Palette indices 4 to 15 past a palette of four: black.
      {"indices past the palette", "bmp",
       Bmp({5, 2, 4, 0, 4, kPalette, {0x4F, 0xE1, 0xC0, 0, 0x9A, 0x3B, 0xD0, 0}}), kLoads},
      // RLE8 runs and absolute runs past the row's end, a delta far past the image, no end code.
      {"RLE8 past the row and the image", "bmp",
       Bmp({3, 2, 8, 1, 4, kPalette, {250, 1, 0, 9, 1, 2, 3,   1,   2, 3,
                                      1,   2, 3, 0, 0, 2, 255, 255, 1, 1}}),
       kLoads},
      // RLE4 runs past the row, then an absolute run the data cuts short.
      {"RLE4 past the row, cut short", "bmp",
       Bmp({3, 3, 4, 2, 4, kPalette, {255, 0x12, 0, 0, 0, 200, 0x31}}), kLoads},
      // Bit fields with every mask zero: black, not a division or shift by the mask's width.
      {"zero bit-field masks", "bmp", Bmp({3, 2, 16, 3, 0, {}, Bytes(16, 0xFF), {0, 0, 0}}),
       kLoads},
      // Narrow rows at 1 and 4 bits, where the padding is most of the row.
      {"width 1 at 1 bit", "bmp", Bmp({1, 3, 1, 0, 2, Cut(kPalette, 8), PackedRows(1, 3, 1)}),
       kLoads},
      {"width 3 at 1 bit", "bmp", Bmp({3, 3, 1, 0, 2, Cut(kPalette, 8), PackedRows(3, 3, 1)}),
       kLoads},
      {"width 10 at 1 bit", "bmp", Bmp({10, 3, 1, 0, 2, Cut(kPalette, 8), PackedRows(10, 3, 1)}),
       kLoads},
      {"width 1 at 4 bits", "bmp", Bmp({1, 3, 4, 0, 4, kPalette, PackedRows(1, 3, 4)}), kLoads},
      {"width 3 at 4 bits", "bmp", Bmp({3, 3, 4, 0, 4, kPalette, PackedRows(3, 3, 4)}), kLoads},
      {"width 10 at 4 bits", "bmp", Bmp({10, 3, 4, 0, 4, kPalette, PackedRows(10, 3, 4)}), kLoads},

      // More progressive scans than the limit: each one is a pass over every coefficient.
      {"257 scans", "jpg", testsupport::GreyJpegWithScans(imaging::kMaxJpegScans + 1), kNotLoaded},
      {"300 scans", "jpg", testsupport::GreyJpegWithScans(300), kNotLoaded},
      // 65,500 × 65,500 claimed by a file of a few hundred bytes, baseline and progressive.
      {"65500 x 65500 baseline", "jpg", HugeFrame(jpeg, 0xC0), kNotLoaded},
      {"65500 x 65500 progressive", "jpg", HugeFrame(progressive, 0xC2), kNotLoaded},
      // The signature alone, a cut in the tables, a cut in the image data (shown as far as it
      // goes, the rest grey).
      {"JPEG signature only", "jpg", {0xFF, 0xD8, 0xFF}, kNotLoaded},
      {"JPEG cut in the tables", "jpg", Cut(jpeg, 100), kNotLoaded},
      {"JPEG cut in the data", "jpg", Cut(jpeg, jpegData + 40), kLoads},
      // Four-channel colour, Adobe CMYK and YCCK.
      {"CMYK", "jpg", LibjpegFile(4, JCS_CMYK, JCS_CMYK), kLoads},
      {"YCCK", "jpg", LibjpegFile(4, JCS_CMYK, JCS_YCCK), kLoads},

      // 1,000,000 × 1,000,000 with a correct CRC.
      {"PNG 1000000 x 1000000", "png", hugeHeader, kNotLoaded},
      // Bad CRCs in the header and the image data refuse the file; in a text chunk they drop it.
      {"bad IHDR CRC", "png", Flipped(png, kIhdrEnd - 1), kNotLoaded},
      {"bad IDAT CRC", "png", Flipped(png, pngEnd - 1), kNotLoaded},
      {"bad tEXt CRC", "png", WithChunks(png, Flipped(text, text.size() - 1)), kLoads},
      // Image data cut in the middle.
      {"truncated IDAT", "png", Cut(png, (kIhdrEnd + pngEnd) / 2), kNotLoaded},
      {"PNG signature only", "png", Cut(png, 8), kNotLoaded},
      // Ten thousand text chunks before the image data.
      {"10000 text chunks", "png", WithChunks(png, manyTexts), kLoads},

      // A named pipe: opening it to read would wait for a writer forever.
      {"named pipe", "png", {}, kNotListed, Kind::kPipe},
      {"folder", "png", {}, kNotListed, Kind::kFolder},
      // A sparse 2 GiB file that starts like a PNG: too large to load, and not read.
      {"sparse 2 GiB PNG", "png", Cut(png, 64), kNotLoaded, Kind::kSparse},
  };
}

class HostileInputTest : public reliability::BatchFixture,
                         public ::testing::WithParamInterface<reliability::OutputFormat> {
 protected:
  // Puts the case's file at `path`.
  void Make(const Case& test, const std::string& path) {
    switch (test.kind) {
      case Kind::kBytes:
        testsupport::WriteFileBytes(path, test.bytes);
        break;
      case Kind::kPipe:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
      case Kind::kFolder:
        ASSERT_TRUE(std::filesystem::create_directory(path));
        break;
      case Kind::kSparse:
        testsupport::WriteFileBytes(path, test.bytes);
        ASSERT_EQ(truncate(path.c_str(), off_t{2} << 30), 0);
        break;
    }
  }
};

TEST_P(HostileInputTest, EveryCaseIsRefusedOrConvertedAndTheBatchGoesOn) {
  const reliability::OutputFormat format = GetParam();
  SelectFormat(format);
  platform::CreateFolder(folder.File("in"));
  const std::string good = SaveImage(testsupport::LetterF(), "in/good.png");
  const std::string goodOutput = std::string("good.") + format.extension;
  const std::uint64_t before = reliability::ResidentMemory();
  reliability::ResetPeakMemory();

  int number = 0;
  for (const Case& test : HostileCases()) {
    SCOPED_TRACE(test.what);
    const std::string name = "case" + std::to_string(++number);
    const std::string input = folder.File("in/" + name + "." + test.extension);
    Make(test, input);

    // The drop lists the file exactly when its kind can be converted.
    Clear();
    form->AddDroppedFiles({input});
    EXPECT_EQ(controls.ListCount(kInputList), test.stage == Stage::kNotListed ? 0 : 1);

    // The batch gets the file even so, as if it had changed after it was listed.
    Clear();
    List({input, good});
    const form::BatchOutcome outcome = form->BatchRun();
    const bool loads = test.stage == Stage::kLoads;
    EXPECT_EQ(outcome.entries, 2);
    EXPECT_EQ(outcome.notWritten, loads ? 0 : 1);
    const std::string output = name + "." + format.extension;
    const std::vector<std::string> expected =
        loads ? std::vector<std::string>{output, goodOutput} : std::vector<std::string>{goodOutput};
    EXPECT_EQ(Outputs(), expected);
    if (loads) {
      EXPECT_EQ(shell.messages.back(), "変換完了！！");
    } else {
      EXPECT_EQ(ClosingMessages(), (std::vector<std::string>{
                                       "1件のファイルを変換できませんでした！！", "変換完了！！"}));
    }
    // What was written is a whole file of its format.
    if (loads && format.radio != kFormatHtmRadio) {
      const imaging::ImageHandle written = imaging::LoadImageFile(outFolder + output);
      EXPECT_NE(written, 0u);
      imaging::FreeImage(written);
    }
  }
  // The sparse file alone would take 2 GiB if it were read.
  if (!reliability::kSanitized) {
    EXPECT_LT(reliability::PeakMemory(), before + (256u << 20));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOutputFormat, HostileInputTest,
                         ::testing::ValuesIn(reliability::kOutputFormats),
                         [](const auto& parameter) {
                           return std::string(parameter.param.extension);
                         });

}  // namespace
