// Hostile input files through the whole program: each one dropped on the list, then converted by a
// batch run into every output format, followed by a good file that must still be converted. A file
// that does not load leaves no output under its final name (and no temporary), the run counts it,
// and nothing crashes, hangs or takes much memory. The codec tests check the decoders' answers in
// detail; here it is the program around them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "engine/ControlIds.h"
#include "imaging/Imaging.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/PhotoFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;
using testsupport::BmpFile;
using testsupport::GreyJpegWithScans;
using testsupport::HugeFrame;
using testsupport::kBmpPalette;
using testsupport::Patched;
using testsupport::ReadFileBytes;

// How far a file gets: a drop refuses it by its kind, or it is listed and does not load, or it
// loads and is converted. Some cases put something other than plain bytes at their path.
enum class Stage { kNotListed, kNotLoaded, kLoads };
enum class Kind { kBytes, kPipe, kSparse };

struct Case {
  const char* what;
  const char* extension;
  Bytes bytes;
  Stage stage;
  // Why a batch does not write a file that does not load (one refused by its kind has a reason
  // too, which depends on the output format).
  std::string reason = {};
  Kind kind = Kind::kBytes;
};

// The bytes without [from, to).
Bytes Removed(Bytes bytes, std::size_t from, std::size_t to) {
  bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(from),
              bytes.begin() + static_cast<std::ptrdiff_t>(to));
  return bytes;
}

Bytes Cut(const Bytes& bytes, std::size_t length) { return Removed(bytes, length, bytes.size()); }

using HostileInputTest = testsupport::BatchFixture;

TEST_F(HostileInputTest, EveryCaseIsRefusedOrConvertedAndTheBatchGoesOn) {
  const Bytes bmp = ReadFileBytes(SaveImage(testsupport::LetterF(), "letter.bmp"));
  const Bytes jpeg = ReadFileBytes(SaveImage(testsupport::PhotoLike(37, 23), "photo.jpg"));
  const Bytes png = ReadFileBytes(SaveImage(testsupport::LetterF(), "letter.png"));
  constexpr std::size_t kIhdrEnd = 33;          // the signature and the IHDR chunk
  const std::size_t idatEnd = png.size() - 12;  // where IEND starts
  // Chunks go in after the header chunk, each with a correct CRC; the text chunk is 22 bytes.
  const testsupport::Piece text{"tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'}};
  const testsupport::Piece hugeIhdr{"IHDR", {0, 15, 66, 64, 0, 15, 66, 64, 8, 2, 0, 0, 0}};

  using enum Stage;
  const std::vector<Case> cases = {
      // Too short to hold a header: the drop refuses it by its kind.
      {"two bytes", "bmp", {'B', 'M'}, kNotListed},
      // A bit count no BMP has: a stride from it would divide by zero.
      {"0 bits", "bmp", Patched(bmp, 28, 0, 2), kNotLoaded,
       "BMP: 0 bits per pixel is not supported"},
      // A height whose negation overflows 32 bits.
      {"height INT_MIN", "bmp", Patched(bmp, 22, 0x80000000u), kNotLoaded,
       "BMP: 6 x 2147483648 pixels is outside the size limits"},
      // A size at the pixel limit whose 400 MB of pixels the file does not hold.
      {"40000 x 2500", "bmp", BmpFile({40, 40000, 2500, 32, 0, 0, {}, {}, Bytes(64, 7)}),
       kNotLoaded, "BMP: the file ends in its pixel data"},
      // File and image sizes that lie are not trusted and do not matter; a pixel offset past
      // the end refuses the file.
      {"file and image size", "bmp", Patched(Patched(bmp, 2, 0xFFFFFFFF), 34, 0xFFFFFFFF), kLoads},
      {"pixel offset past the end", "bmp", Patched(bmp, 10, 0xFFFFFF00), kNotLoaded,
       "BMP: the pixel data would start past the file's end"},
      // 256 palette entries promised, four there, the pixels nowhere: the end cuts the palette.
      {"palette cut off", "bmp",
       Patched(BmpFile({40, 3, 2, 8, 0, 256, kBmpPalette, {}, {}}), 10, 0), kNotLoaded,
       "BMP: the file ends in its colour table"},
      // Codings the reader does not have, or that do not fit the bit count, and bit-field masks
      // the file ends in.
      {"compression 99", "bmp", Patched(bmp, 30, 99), kNotLoaded,
       "BMP: compression 99 is not supported"},
      {"OS/2 Huffman", "bmp", BmpFile({64, 3, 2, 1, 3, 2, kBmpPalette, {}, Bytes(8, 0)}),
       kNotLoaded, "BMP: OS/2 Huffman compression is not supported"},
      {"RLE8 of 24 bits", "bmp", Patched(bmp, 30, 1), kNotLoaded,
       "BMP: compression 1 does not go with 24 bits per pixel"},
      {"masks cut off", "bmp", Cut(BmpFile({40, 3, 2, 16, 3, 0, {}, {31, 992, 31744}, {}}), 60),
       kNotLoaded, "BMP: the file ends in its colour masks"},
      // RLE8 runs and absolute runs past the row's end, a delta far past the image, no end code.
      {"RLE8 overruns", "bmp",
       BmpFile({40, 3, 2, 8, 1, 4, kBmpPalette, {}, {250, 1, 0, 9, 1, 2, 3,   1,   2, 3,
                                                     1,   2, 3, 0, 0, 2, 255, 255, 1, 1}}),
       kLoads},
      // RLE4 runs past the row, then an absolute run the data cuts short.
      {"RLE4 overrun", "bmp",
       BmpFile({40, 3, 3, 4, 2, 4, kBmpPalette, {}, {255, 0x12, 0, 0, 0, 200, 0x31}}), kLoads},

      // More progressive scans than the limit: each one is a pass over every coefficient.
      {"too many scans", "jpg", GreyJpegWithScans(imaging::kMaxJpegScans + 1), kNotLoaded,
       "JPEG: more than 256 scans"},
      // 65,500 × 65,500 claimed by a progressive file of a few hundred bytes.
      {"65500 x 65500 progressive", "jpg", HugeFrame(GreyJpegWithScans(64), 0xC2), kNotLoaded,
       "JPEG: 65500 x 65500 pixels is outside the size limits"},
      // 10,000 × 10,000 in 64 scans claimed by 2 KB: each scan would be a pass over 1.5 million
      // blocks the file holds no data for.
      {"10000 x 10000 progressive in 2 KB", "jpg", HugeFrame(GreyJpegWithScans(64), 0xC2, 10000),
       kNotLoaded, "JPEG: its scans claim more image data than a file of its size can hold"},
      // A cut in the tables, and one in the image data (shown as far as it goes, the rest grey).
      {"JPEG cut in the tables", "jpg", Cut(jpeg, 100), kNotLoaded,
       "JPEG: JPEG datastream contains no image"},
      {"JPEG cut in the data", "jpg", Cut(jpeg, jpeg.size() - 40), kLoads},
      // A photo whose restart markers and image data are damaged, its header sound.
      {"garbled restart markers", "jpg", testsupport::JpegWithGarbledRestarts(), kLoads},

      // 1,000,000 × 1,000,000 with a correct CRC.
      {"1000000 x 1000000", "png", Removed(testsupport::WithChunks(png, {hugeIhdr}), 8, kIhdrEnd),
       kNotLoaded, "PNG: Invalid IHDR data"},
      // A bad CRC in the image data refuses the file; in a text chunk it drops the chunk.
      {"bad IDAT CRC", "png", Patched(png, idatEnd - 1, png[idatEnd - 1] ^ 1u, 1), kNotLoaded,
       "PNG: IDAT: CRC error"},
      {"bad tEXt CRC", "png", Patched(testsupport::WithChunks(png, {text}), kIhdrEnd + 21, 0, 1),
       kLoads},
      // Files cut halfway between the header chunk and the end of the image data (in this small
      // file, before the image data starts) and four bytes before the end of the image data, and
      // ten thousand text chunks before the image data.
      {"cut before the image data", "png", Cut(png, (kIhdrEnd + idatEnd) / 2), kNotLoaded,
       "PNG: the file ends before its image data"},
      {"truncated IDAT", "png", Cut(png, idatEnd - 8), kNotLoaded,
       "PNG: the file ends in the middle of its image data"},
      {"10000 text chunks", "png", testsupport::WithChunks(png, std::vector(10'000, text)), kLoads},

      // A lossless WebP of 7 × 5 whose header reads and whose image data is all 0xFF.
      {"WebP data garbled", "webp",
       [] {
         Bytes webp = {'R', 'I', 'F', 'F', 0x36, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L',
                       0x29, 0, 0, 0, 0x2F, 0x06, 0, 0x01, 0x10};
         webp.resize(62, 0xFF);
         return webp;
       }(),
       kNotLoaded, "WebP: the image data is damaged"},

      // A named pipe: opening it to read would wait for a writer forever.
      {"named pipe", "png", {}, kNotListed, {}, Kind::kPipe},
      // A sparse 2 GiB file that starts like a PNG: too large to load, and not read.
      {"sparse 2 GiB PNG", "png", Cut(png, 64), kNotLoaded, "the file is larger than 1 GiB",
       Kind::kSparse},
  };
  std::filesystem::create_directory(folder.File("in"));
  const std::string good = SaveImage(testsupport::LetterF(), "in/good.png");
  const std::uint64_t before = reliability::PeakMemory();
  int number = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::string name = "case" + std::to_string(++number);
    const std::string input = folder.File("in/" + name + "." + test.extension);
    if (test.kind != Kind::kPipe) testsupport::WriteFileBytes(input, test.bytes);
    const bool made = test.kind == Kind::kPipe     ? mkfifo(input.c_str(), 0600) == 0
                      : test.kind == Kind::kSparse ? truncate(input.c_str(), off_t{2} << 30) == 0
                                                   : true;
    EXPECT_TRUE(made);
    if (!made) continue;

    // The drop lists the file exactly when its kind can be converted.
    List({});
    form->AddDroppedFiles({input});
    EXPECT_EQ(controls.ListCount(engine::kInputList), test.stage == Stage::kNotListed ? 0 : 1);

    // The batch gets the file even so, as if it had changed after it was listed.
    const bool loads = test.stage == Stage::kLoads;
    for (const testsupport::OutputFormat& format : testsupport::kOutputFormats) {
      SCOPED_TRACE(format.extension);
      SelectFormat(format.radio);
      List({input, good});
      const form::BatchOutcome outcome = form->BatchRun();
      EXPECT_EQ(outcome.notWritten, loads ? 0 : 1);
      for (const form::FileNotWritten& failure : outcome.failures) {
        EXPECT_EQ(failure.input, input);
        EXPECT_EQ(failure.reason, test.reason.empty() ? failure.reason : test.reason);
        EXPECT_NE(failure.reason, "");
      }
      const std::string output = name + "." + format.extension;
      const std::string goodOutput = "good." + format.extension;
      EXPECT_EQ(Outputs(), (loads ? Names{output, goodOutput} : Names{goodOutput}));
      // What was written is a whole file of its format.
      if (loads && format.extension != "htm") {
        EXPECT_NE(testsupport::ImageSizeOf(outFolder + output), (std::pair{0, 0}));
      }
    }
  }
  // The sparse file alone would take 2 GiB if it were read.
  if (!reliability::kSanitized) {
    EXPECT_LT(reliability::PeakMemory(), before + (256u << 20));
  }
}

}  // namespace
