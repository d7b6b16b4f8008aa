// The BMP codec: round trips at every depth, hand-made files of every header kind and bit count,
// and malformed files that must fail cleanly or decode without reading outside the input.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "imaging/BmpCodec.h"
#include "imaging/ColorDepth.h"
#include "tests/support/TestSupport.h"

namespace {

using imaging::Bitmap;
using imaging::ColorDepth;
using imaging::Rgb;
using testsupport::PutU16;
using testsupport::PutU32;
using Bytes = std::vector<std::uint8_t>;
using Colors = std::vector<Rgb>;

constexpr Rgb kBlack{}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

Bytes EncodeToBytes(const Bitmap& bitmap) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  const bool written = imaging::bmp::Encode(bitmap, stream);
  std::fclose(stream);
  Bytes bytes(buffer, buffer + size);
  std::free(buffer);
  return written ? bytes : Bytes{};
}

// Top-down colours of a decoded file, or none when it does not decode.
Colors DecodedColors(const Bytes& file) {
  const std::optional<Bitmap> bitmap = imaging::bmp::Decode(file);
  Colors colors;
  for (int y = 0; bitmap && y < bitmap->height; ++y) {
    for (int x = 0; x < bitmap->width; ++x) colors.push_back(testsupport::PixelAt(*bitmap, x, y));
  }
  return colors;
}

// A deliberately separate reader for what the encoder writes: bottom-up rows padded to 4 bytes,
// 24-bit BGR, 16-bit x-5-5-5, or 8-bit indices into the BGR0 entries after a 40-byte header.
// Returns top-down red, green, blue bytes.
Bytes ReadPlainBmp(const Bytes& file) {
  const auto u16 = [&](std::size_t at) { return file.at(at) | std::size_t{file.at(at + 1)} << 8; };
  const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  const std::size_t width = u32(18), height = u32(22), bits = u16(28), offset = u32(10);
  const std::size_t stride = (width * bits / 8 + 3) / 4 * 4;
  EXPECT_EQ(u32(2), file.size());
  EXPECT_EQ(offset + stride * height, file.size());
  const auto widen = [](std::size_t five) {
    return std::uint8_t((five & 31) << 3 | (five & 31) >> 2);
  };
  Bytes pixels;
  for (std::size_t row = height; row-- > 0;) {
    const std::size_t start = offset + row * stride;
    for (std::size_t at = start; at < start + width * bits / 8; at += bits / 8) {
      // The blue, green, red bytes of the pixel, or of its palette entry.
      const std::size_t bgr = bits == 8 ? 54 + 4 * std::size_t{file.at(at)} : at;
      if (bits == 16) {
        pixels.insert(pixels.end(), {widen(u16(at) >> 10), widen(u16(at) >> 5), widen(u16(at))});
      } else {
        pixels.insert(pixels.end(), {file.at(bgr + 2), file.at(bgr + 1), file.at(bgr)});
      }
    }
  }
  return pixels;
}

TEST(BmpCodecTest, RoundTripsEveryDepthExactly) {
  for (const Bitmap& source : {testsupport::LetterF(), testsupport::PhotoLike(37, 23)}) {
    Bitmap high = source, palette = source, rle = source;
    imaging::ReduceTo16(high);
    ASSERT_TRUE(imaging::ReduceTo8(palette) && imaging::ReduceTo8(rle));
    rle.rleCompression = true;
    for (const Bitmap& bitmap : {source, high, palette, rle}) {
      SCOPED_TRACE(testing::Message() << source.width << " wide, depth " << int(bitmap.depth)
                                      << (bitmap.rleCompression ? " RLE" : ""));
      const Bytes file = EncodeToBytes(bitmap);
      const std::optional<Bitmap> decoded = imaging::bmp::Decode(file);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->pixels, bitmap.pixels);
      if (!bitmap.rleCompression) {
        EXPECT_EQ(ReadPlainBmp(file), bitmap.pixels);
      }
    }
  }
}

TEST(BmpCodecTest, WritesRle8ByTheRules) {
  // Rows go bottom-up; each ends with 00 00 and the last with 00 00 00 01. Two or more equal
  // indices become (count, index); three or more that each differ from the next become an
  // absolute run 00 n i1..in padded to an even length; one or two become (01, index) each.
  //   top    0 0 0 1 2 7 3 3 5 6 -> 03 00 | 00 03 01 02 07 00 | 02 03 | 01 05 01 06 | 00 00
  //   bottom 4 5 6 7 4 4 4 4 4 4 -> 00 04 04 05 06 07 | 06 04 | 00 00
  Bitmap bitmap = *imaging::MakeBitmap(10, 2);
  bitmap.depth = ColorDepth::kPalette8;
  bitmap.rleCompression = true;
  bitmap.palette.assign(8, Rgb{});
  bitmap.indices = {0, 0, 0, 1, 2, 7, 3, 3, 5, 6, 4, 5, 6, 7, 4, 4, 4, 4, 4, 4};
  const Bytes expected = {0, 4, 4, 5, 6, 7, 6, 4, 0, 0, 3, 0, 0, 3,
                          1, 2, 7, 0, 2, 3, 1, 5, 1, 6, 0, 0, 0, 1};
  const Bytes file = EncodeToBytes(bitmap);
  ASSERT_EQ(file.size(), 54 + 8 * 4 + expected.size());
  EXPECT_EQ(Bytes(file.end() - static_cast<long>(expected.size()), file.end()), expected);
  EXPECT_EQ(file[30], 1) << "BI_RLE8";
  EXPECT_EQ(file[34], expected.size()) << "biSizeImage is the compressed size";
}

// A BMP put together field by field. Masks go inside headers of 52 bytes and more, after a
// 40-byte header otherwise; the pixel offset points right after the palette.
struct HandMade {
  std::uint32_t headerSize;
  std::int32_t width, height;
  std::uint16_t bitCount;
  std::uint32_t compression, colorsUsed;
  Bytes palette;  // BGR0 entries (BGR for the 12-byte header)
  std::vector<std::uint32_t> masks;
  Bytes data;
};

Bytes Build(const HandMade& made) {
  Bytes header;
  PutU32(header, made.headerSize);
  if (made.headerSize == 12) {
    for (std::int32_t field : {made.width, made.height, 1, int{made.bitCount}}) {
      PutU16(header, std::uint16_t(field));
    }
  } else {
    for (std::int32_t side : {made.width, made.height}) PutU32(header, std::uint32_t(side));
    PutU16(header, 1);
    PutU16(header, made.bitCount);
    for (std::uint32_t field :
         {made.compression, std::uint32_t(made.data.size()), 2835u, 2835u, made.colorsUsed, 0u}) {
      PutU32(header, field);
    }
    for (std::uint32_t mask : made.masks) PutU32(header, mask);
    if (made.headerSize != 40) header.resize(made.headerSize);
  }
  Bytes file = {'B', 'M'};
  const std::size_t offset = 14 + header.size() + made.palette.size();
  for (std::size_t field : {offset + made.data.size(), std::size_t{0}, offset}) {
    PutU32(file, std::uint32_t(field));
  }
  for (const Bytes* chunk :
       std::initializer_list<const Bytes*>{&header, &made.palette, &made.data}) {
    file.insert(file.end(), chunk->begin(), chunk->end());
  }
  return file;
}

// Palette 0 white, 1 red, 2 green, 3 blue (4-byte entries).
const Bytes kPalette = {255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};

TEST(BmpCodecTest, DecodesEveryHeaderKindAndBitCount) {
  // 3 x 2 images stored bottom-up unless the height is negative; expected colours top-down.
  const Bytes eightBit = {3, 2, 1, 0, 0, 1, 2, 0};
  const Colors eightBitColors = {kWhite, kRed, kGreen, kBlue, kGreen, kRed};
  const Bytes corePalette = {255, 255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0};
  EXPECT_EQ(DecodedColors(Build({12, 3, 2, 8, 0, 0, corePalette, {}, eightBit})), eightBitColors);
  // OS/2 2.x in its 16-byte short form and in full, then the Windows headers.
  for (std::uint32_t size : {16u, 64u, 40u, 108u, 124u}) {
    EXPECT_EQ(DecodedColors(Build({size, 3, 2, 8, 0, 0, kPalette, {}, eightBit})), eightBitColors)
        << size;
  }
  // 5-6-5 masks after a 40-byte header or inside the longer ones. 6-bit green 1 widens to 4,
  // 5-bit red 16 to 132.
  const Bytes rgb565 = {0, 0xF8, 0xE0, 7, 0x1F, 0, 0, 0, 0x20, 0, 0xFF, 0xFF, 0, 0x80, 0, 0};
  for (std::uint32_t size : {40u, 52u, 56u, 124u}) {
    EXPECT_EQ(DecodedColors(Build({size, 3, 2, 16, 3, 0, {}, {0xF800, 0x07E0, 0x1F}, rgb565})),
              (Colors{{0, 4, 0}, kWhite, {132, 0, 0}, kRed, kGreen, kBlue}))
        << size;
  }
  // Pixel data: 1-bit rows 101 and 010 (bits from the top of each byte); 4-bit indices 1 2 5
  // and 2 1 0; 16-bit red, green, blue and then red 16, blue 1, white; 24-bit and 32-bit primaries
  // and three greys written blue first; 10-10-10 fields; fields under 1-bit, 5-bit and zero masks.
  const Bytes oneBit = {0xA0, 0, 0, 0, 0x40, 0, 0, 0}, fourBit = {0x12, 0x50, 0, 0, 0x21, 0, 0, 0};
  const Bytes rgb555 = {0, 0x7C, 0xE0, 3, 0x1F, 0, 0, 0, 0, 0x40, 1, 0, 0xFF, 0x7F, 0, 0};
  const Bytes bgr = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
  const Bytes bgrx = {1, 2, 3,   99, 4, 5,   6, 99, 7,   8, 9, 99,
                      0, 0, 255, 99, 0, 255, 0, 99, 255, 0, 0, 99};
  const Bytes tenBit = {1, 0, 0xF0, 0x3F, 0xFF, 3, 8, 0}, oddMasks = {0xFF, 0x7F, 0xFF, 0x80};
  const Colors primariesThenGreys = {kRed, kGreen, kBlue, {3, 2, 1}, {6, 5, 4}, {9, 8, 7}};
  // RLE8, 5 x 3: bottom row a run of two 1s and an absolute run 2 3 2 (padded); a delta of (2, 1)
  // skips the middle row; one 3 on the top row; end of bitmap. Skipped pixels stay black, not
  // palette entry 0 (white).
  const Bytes rle8 = {2, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 1, 1, 3, 0, 1};
  // RLE4, 5 x 2: five alternating nibbles 1 2, end of line, an absolute run of nibbles 3 1 2 (two
  // bytes, already even), then the data stops without an end code.
  const Bytes rle4 = {5, 0x12, 0, 0, 0, 3, 0x31, 0x20};
  // Malformed RLE8, 3 x 2: a run and an absolute run past the row's end, then a delta past the
  // image, all clipped; and an absolute run of five with one index left in the data.
  const Bytes pastEdges = {200, 1, 0, 0, 0, 9, 1, 2, 3, 1, 2, 3, 1, 2, 3, 0, 0, 2, 255, 255, 1, 1};
  const Bytes cutShort = {0, 5, 2};
  const struct {
    const char* name;
    HandMade made;
    Colors expected;
  } cases[] = {
      {"1-bit",
       {40, 3, 2, 1, 0, 2, {0, 0, 255, 0, 255, 0, 0, 0}, {}, oneBit},
       {kRed, kBlue, kRed, kBlue, kRed, kBlue}},
      // Three palette entries: index 5 lies past them and gives black.
      {"4-bit, short palette",
       {40, 3, 2, 4, 0, 3, Bytes(kPalette.begin(), kPalette.end() - 4), {}, fourBit},
       {kGreen, kRed, kWhite, kRed, kGreen, kBlack}},
      {"16-bit 5-5-5",
       {40, 3, 2, 16, 0, 0, {}, {}, rgb555},
       {{132, 0, 0}, {0, 0, 8}, kWhite, kRed, kGreen, kBlue}},
      {"24-bit top-down", {40, 3, -2, 24, 0, 0, {}, {}, bgr}, primariesThenGreys},
      {"32-bit BGRX", {40, 3, 2, 32, 0, 0, {}, {}, bgrx}, primariesThenGreys},
      // 10-bit fields keep their top 8 bits.
      {"32-bit 10-10-10",
       {56, 1, 2, 32, 3, 0, {}, {0x3FF00000, 0xFFC00, 0x3FF}, tenBit},
       {{0, 128, 255}, {255, 0, 0}}},
      // A 1-bit field reads 0 or 255; a zero mask reads 0.
      {"16-bit odd masks",
       {52, 2, 1, 16, 3, 0, {}, {0x8000, 0x1F, 0}, oddMasks},
       {{0, 255, 0}, {255, 255, 0}}},
      {"RLE8",
       {40, 5, 3, 8, 1, 4, kPalette, {}, rle8},
       {kBlack, kBlack, kBlue, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kRed, kRed,
        kGreen, kBlue, kGreen}},
      {"RLE4",
       {40, 5, 2, 4, 2, 4, kPalette, {}, rle4},
       {kBlue, kRed, kGreen, kBlack, kBlack, kRed, kGreen, kRed, kGreen, kRed}},
      {"RLE8 past the edges",
       {40, 3, 2, 8, 1, 4, kPalette, {}, pastEdges},
       {kRed, kGreen, kBlue, kRed, kRed, kRed}},
      {"RLE8 cut short", {40, 3, 1, 8, 1, 4, kPalette, {}, cutShort}, {kGreen, kBlack, kBlack}},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(DecodedColors(Build(test.made)), test.expected) << test.name;
  }
}

TEST(BmpCodecTest, MalformedFilesFailCleanly) {
  const Bytes valid = EncodeToBytes(testsupport::LetterF());
  const auto refused = [](std::span<const std::uint8_t> file) {
    return !imaging::bmp::Decode(file);
  };
  // Every truncation of an uncompressed file, headers and pixels alike, is refused.
  for (std::size_t length = 0; length < valid.size(); ++length) {
    EXPECT_TRUE(refused(std::span(valid).first(length))) << length;
  }
  // Truncated RLE data decodes what is there; the sanitizers watch the reads.
  Bitmap palette = testsupport::PhotoLike(37, 23);
  ASSERT_TRUE(imaging::ReduceTo8(palette));
  palette.rleCompression = true;
  const Bytes rle = EncodeToBytes(palette);
  for (std::size_t length = 54 + 4 * palette.palette.size(); length < rle.size(); length += 7) {
    EXPECT_FALSE(refused(std::span(rle).first(length)));
  }

  using Values = std::vector<std::int64_t>;
  // A copy of the file with a little-endian field of `byteCount` bytes set to the value.
  const auto patched = [](Bytes file, std::size_t at, std::int64_t value, int byteCount = 4) {
    for (int byte = 0; byte < byteCount; ++byte) {
      file.at(at + std::size_t(byte)) = std::uint8_t(value >> (8 * byte));
    }
    return file;
  };
  // Header sizes that are no known header, including one that would run far past the file.
  for (std::int64_t size : Values{0, 66, 0xFFFFFFFF})
    EXPECT_TRUE(refused(patched(valid, 14, size)));
  // Bit counts no BMP has.
  for (std::int64_t bits : Values{0, 2, 3, 7, 64})
    EXPECT_TRUE(refused(patched(valid, 28, bits, 2)));
  // Embedded JPEG and PNG, unknown compression values, and RLE8 or bit fields on 24-bit data.
  for (std::int64_t compression : Values{1, 3, 4, 5, 7, 0xFFFFFFFF}) {
    EXPECT_TRUE(refused(patched(valid, 30, compression))) << compression;
  }
  // Widths: zero, negative, beyond the limit, and one whose stride times height overflows.
  for (std::int64_t width : Values{0, -6, 70000, 0x7FFFFFFF}) {
    EXPECT_TRUE(refused(patched(valid, 18, width))) << width;
  }
  // Heights: zero, beyond the limit either way, and INT_MIN, whose negation overflows 32 bits.
  for (std::int64_t height : Values{0, 70000, -70000, INT_MIN}) {
    EXPECT_TRUE(refused(patched(valid, 22, height))) << height;
  }
  // Each side within its limit, the pixel count beyond it.
  EXPECT_TRUE(refused(patched(patched(valid, 18, 20000), 22, -20000)));
  // A pixel offset past the end is refused; an offset of 0 means "after the headers".
  EXPECT_TRUE(refused(patched(valid, 10, 0xFFFFFFF0)));
  EXPECT_FALSE(refused(patched(valid, 10, 0)));
  // A palette that claims 256 entries but is cut off by the end of the file (with no pixel
  // offset, so nothing shortens it).
  EXPECT_TRUE(refused(patched(Build({40, 3, 2, 8, 0, 256, kPalette, {}, {}}), 10, 0)));
  // Bit-field masks cut off after a 40-byte header.
  EXPECT_TRUE(refused(Build({40, 1, 1, 16, 3, 0, {}, {0xF800}, {}})));
}

}  // namespace
