// The PNG codec: exact round trips, every colour type and depth, and damaged or hostile files, all
// assembled chunk by chunk here; and both codecs' write failures.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "tests/support/TestSupport.h"

namespace {

using imaging::Bitmap;
using imaging::Rgb;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kIhdrEnd = 33;  // signature (8) + IHDR chunk (25)

Bytes Encoded(const Bitmap& bitmap, bool interlace) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = imaging::png::Encode(bitmap, interlace, stream);
  std::fclose(stream);
  Bytes bytes(buffer, buffer + (written ? size : 0));
  std::free(buffer);
  return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes BigEndian32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

// One chunk with a correct CRC.
Bytes Chunk(const std::string& type, const Bytes& data) {
  const Bytes body = Join({Bytes(type.begin(), type.end()), data});
  return Join({BigEndian32(static_cast<std::uint32_t>(data.size())), body,
               BigEndian32(static_cast<std::uint32_t>(
                   crc32(0, body.data(), static_cast<uInt>(body.size()))))});
}

// A whole file: IHDR, the `extra` chunks, one IDAT holding the packed rows (filter 0 on each),
// IEND. With Adam7 the rows, whole bytes per pixel, are split into the seven passes here.
Bytes MakePng(std::uint32_t width, std::uint32_t height, int bitDepth, int colorType,
              const std::vector<Bytes>& rows, const Bytes& extra = {}, bool adam7 = false) {
  Bytes raw;
  for (int pass = 0; pass < (adam7 ? 7 : 1); ++pass) {
    // A pass's first row and column and its steps; one pass of every pixel without Adam7.
    const auto passValue = [&](int value, int plain) {
      return static_cast<std::size_t>(adam7 ? value : plain);
    };
    const std::size_t firstColumn = passValue(PNG_PASS_START_COL(pass), 0);
    const std::size_t columnStep = passValue(PNG_PASS_COL_OFFSET(pass), 1);
    const std::size_t rowStep = passValue(PNG_PASS_ROW_OFFSET(pass), 1);
    for (std::size_t y = passValue(PNG_PASS_START_ROW(pass), 0); y < rows.size(); y += rowStep) {
      if (firstColumn >= width) break;  // a pass with no columns has no rows either
      raw.push_back(0);
      const std::size_t pixelBytes = rows[y].size() / width;
      for (std::size_t x = firstColumn; x < width; x += columnStep) {
        // Without Adam7 the row goes whole, so packed sub-byte pixels stay as they are.
        const Bytes part = adam7 ? Slice(rows[y], x * pixelBytes, (x + 1) * pixelBytes) : rows[y];
        raw.insert(raw.end(), part.begin(), part.end());
        if (!adam7) break;
      }
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(packedSize);
  const Bytes header =
      Join({BigEndian32(width),
            BigEndian32(height),
            {static_cast<std::uint8_t>(bitDepth), static_cast<std::uint8_t>(colorType), 0, 0,
             static_cast<std::uint8_t>(adam7 ? 1 : 0)}});
  return Join({{137, 'P', 'N', 'G', 13, 10, 26, 10},
               Chunk("IHDR", header),
               extra,
               Chunk("IDAT", packed),
               Chunk("IEND", {})});
}

TEST(PngCodecTest, RoundTripsExactlyWithAndWithoutInterlace) {
  for (const Bitmap& image : {testsupport::LetterF(), testsupport::PhotoLike(37, 23)}) {
    for (bool interlace : {false, true}) {
      SCOPED_TRACE(std::to_string(image.width) + (interlace ? " interlaced" : " plain"));
      const Bytes bytes = Encoded(image, interlace);
      ASSERT_TRUE(imaging::png::Sniff(bytes));
      EXPECT_EQ(Slice(bytes, 24, 29),
                (Bytes{8, PNG_COLOR_TYPE_RGB, 0, 0, static_cast<std::uint8_t>(interlace)}))
          << "IHDR depth, colour type, compression, filter, interlace";
      const std::optional<Bitmap> decoded = imaging::png::Decode(bytes);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->width, image.width);
      EXPECT_EQ(decoded->pixels, image.pixels);
    }
  }
}

TEST(PngCodecTest, EveryColourTypeDecodesToRgbOnWhite) {
  // 3 × 2 images. Transparency is composited onto white with rounding: alpha 128 over black
  // gives 127, and grey 10 at alpha 200 gives (10 × 200 + 255 × 55) / 255 = 62.8, so 63.
  struct Case {
    const char* name;
    int bitDepth, colorType;
    std::vector<Bytes> rows;
    Bytes extra;
    std::vector<Rgb> expected;  // row by row
  };
  const Rgb white{255, 255, 255}, black{0, 0, 0}, red{255, 0, 0}, halfBlue{127, 127, 255};
  const Case cases[] = {
      {"2-bit palette, tRNS",  // indices 0 1 2 / 3 2 0
       2,
       PNG_COLOR_TYPE_PALETTE,
       {{0x18}, {0xE0}},
       Join({Chunk("PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}),
             Chunk("tRNS", {255, 0, 128})}),
       {red, white, halfBlue, white, halfBlue, red}},
      {"1-bit grey",
       1,
       PNG_COLOR_TYPE_GRAY,
       {{0xA0}, {0x20}},
       {},
       {white, black, white, black, black, white}},
      {"8-bit grey, 50 transparent",
       8,
       PNG_COLOR_TYPE_GRAY,
       {{50, 100, 200}, {0, 50, 255}},
       Chunk("tRNS", {0, 50}),
       {white, {100, 100, 100}, {200, 200, 200}, black, white, white}},
      {"16-bit RGB, big-endian",  // 0x3400 and 0x1100 round to 52 and 17
       16,
       PNG_COLOR_TYPE_RGB,
       {{255, 255, 0, 0, 0x34, 0, 0x80, 0x80, 0x11, 0, 0, 0, 0, 0, 0, 0, 255, 255},
        {0x34, 0, 0x34, 0, 0x34, 0, 0, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255, 255}},
       {},
       {{255, 0, 52}, {128, 17, 0}, {0, 0, 255}, {52, 52, 52}, {0, 255, 0}, white}},
      {"8-bit grey and alpha",
       8,
       PNG_COLOR_TYPE_GRAY_ALPHA,
       {{0, 255, 0, 0, 0, 128}, {200, 255, 255, 128, 10, 200}},
       {},
       {black, white, {127, 127, 127}, {200, 200, 200}, white, {63, 63, 63}}},
      {"16-bit RGBA",
       16,
       PNG_COLOR_TYPE_RGB_ALPHA,
       {{255, 255, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 128, 128},
        {0, 0, 0,   0,   255, 255, 128, 128, 0, 0, 0,   0,
         0, 0, 255, 255, 0,   0,   255, 255, 0, 0, 255, 255}},
       {},
       {red, white, {255, 127, 127}, halfBlue, black, {0, 255, 0}}},
  };
  for (const Case& sample : cases) {
    SCOPED_TRACE(sample.name);
    const std::optional<Bitmap> decoded = imaging::png::Decode(
        MakePng(3, 2, sample.bitDepth, sample.colorType, sample.rows, sample.extra));
    ASSERT_TRUE(decoded);
    std::vector<Rgb> pixels;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) pixels.push_back(testsupport::PixelAt(*decoded, x, y));
    }
    EXPECT_EQ(pixels, sample.expected);
  }
}

TEST(PngCodecTest, InterlacedTransparencyMatchesThePlainFile) {
  // 13 × 11 RGBA: every Adam7 pass holds pixels, and alpha varies across the image.
  std::vector<Bytes> rows(11);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 13; ++x) {
      rows[static_cast<std::size_t>(y)].insert(
          rows[static_cast<std::size_t>(y)].end(),
          {static_cast<std::uint8_t>(x * 19), static_cast<std::uint8_t>(y * 23), 200,
           static_cast<std::uint8_t>((x * 11 + y * 7) * 2)});
    }
  }
  const auto plain = imaging::png::Decode(MakePng(13, 11, 8, PNG_COLOR_TYPE_RGB_ALPHA, rows));
  const auto adam7 =
      imaging::png::Decode(MakePng(13, 11, 8, PNG_COLOR_TYPE_RGB_ALPHA, rows, {}, true));
  ASSERT_TRUE(plain && adam7);
  EXPECT_EQ(adam7->pixels, plain->pixels);
  EXPECT_EQ(testsupport::PixelAt(*plain, 0, 0), (Rgb{255, 255, 255})) << "alpha 0 is white";
}

TEST(PngCodecTest, RefusesOversizedCorruptAndTruncatedFiles) {
  const std::vector<Bytes> row = {{1, 2, 3}};
  // Valid CRCs: sides beyond libpng's limit (set to ours), then 400 million pixels, beyond ours.
  EXPECT_FALSE(imaging::png::Decode(MakePng(1'000'000, 1'000'000, 8, PNG_COLOR_TYPE_RGB, row)));
  EXPECT_FALSE(imaging::png::Decode(MakePng(20'000, 20'000, 8, PNG_COLOR_TYPE_RGB, row)));

  const Bytes good = Encoded(testsupport::PhotoLike(37, 23), false);
  const std::size_t end = good.size() - 12;  // where IEND starts
  // A flipped bit in the CRC of IHDR, or of the IDAT just before IEND, refuses the file.
  for (std::size_t crcByte : {kIhdrEnd - 1, end - 1}) {
    Bytes corrupt = good;
    corrupt[crcByte] ^= 1;
    EXPECT_FALSE(imaging::png::Decode(corrupt)) << crcByte;
  }
  // In an ancillary chunk it only drops that chunk.
  Bytes text = Chunk("tEXt", {'k', 0, 'v'});
  text.back() ^= 1;
  const auto withBadText =
      imaging::png::Decode(Join({Slice(good, 0, kIhdrEnd), text, Slice(good, kIhdrEnd, end + 12)}));
  ASSERT_TRUE(withBadText);
  EXPECT_EQ(withBadText->pixels, testsupport::PhotoLike(37, 23).pixels);

  // Cut in the signature, in IHDR, right after it, in the image data, in its last CRC: refused.
  for (std::size_t length :
       {std::size_t{0}, std::size_t{5}, std::size_t{20}, kIhdrEnd, end / 2, end - 1}) {
    EXPECT_FALSE(imaging::png::Decode(Slice(good, 0, length))) << length;
  }
  // Cut after the image data, only IEND missing: loads.
  EXPECT_TRUE(imaging::png::Decode(Slice(good, 0, end)));
}

TEST(PngCodecTest, ThousandsOfTextChunksAndACompressedBombLoadCheaply) {
  const Bytes good = Encoded(testsupport::PhotoLike(37, 23), false);
  Bytes hostile = Slice(good, 0, kIhdrEnd);
  // 20,000 text chunks: kept, they would grow the chunk list without bound.
  const Bytes text = Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'x', 'y', 'z'});
  for (int i = 0; i < 20'000; ++i) hostile.insert(hostile.end(), text.begin(), text.end());
  // A zTXt of 16 MB of zeros packed into 16 KB: decompressed, it would take the memory.
  const Bytes zeros(16u << 20, 0);
  uLongf packedSize = compressBound(static_cast<uLong>(zeros.size()));
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, zeros.data(), static_cast<uLong>(zeros.size()));
  packed.resize(packedSize);
  hostile = Join({hostile, Chunk("zTXt", Join({{'B', 'o', 'm', 'b', 0, 0}, packed})),
                  Slice(good, kIhdrEnd, good.size())});

  const std::optional<Bitmap> decoded = imaging::png::Decode(hostile);
  ASSERT_TRUE(decoded) << "skipped ancillary chunks are no reason to refuse";
  EXPECT_EQ(decoded->pixels, testsupport::PhotoLike(37, 23).pixels);
}

TEST(PngCodecTest, BothEncodersReportAFullDiskAndEmptyImages) {
  // Each encode gets a fresh stream on a device where every write fails.
  const auto failsOnFullDisk = [](const std::function<bool(std::FILE*)>& encode) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    const bool written = full != nullptr && encode(full);
    if (full != nullptr) std::fclose(full);
    return full != nullptr && !written;
  };
  for (const Bitmap& image : {Bitmap{}, testsupport::LetterF()}) {
    EXPECT_TRUE(failsOnFullDisk([&](std::FILE* out) {
      return imaging::png::Encode(image, false, out);
    })) << image.width;
    EXPECT_TRUE(failsOnFullDisk([&](std::FILE* out) {
      return imaging::jpeg::Encode(image, 80, true, out);
    })) << image.width;
  }
}

}  // namespace
