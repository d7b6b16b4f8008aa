// The BMP codec: exact round trips at every depth, also with the greyscale effect applied while
// decoding, the pixels of every header kind and bit count, and header fields refused although the
// pixel data is all there; and the file-kind probe, which tells a BMP from the rest.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "imaging/BmpCodec.h"
#include "imaging/ColorDepth.h"
#include "imaging/ColorEffects.h"
#include "imaging/FileKind.h"
#include "imaging/Imaging.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace testsupport;
using imaging::Bitmap;
using imaging::Rgb;
using Bytes = std::vector<std::uint8_t>;
using Colors = std::vector<Rgb>;

constexpr Rgb kBlack{}, kWhite{255, 255, 255}, kGreen{0, 255, 0};

// The file SaveBmp writes for the bitmap, at its depth.
Bytes EncodeToBytes(const Bitmap& bitmap) {
  TempFolder folder;
  return ReadFileBytes(SaveImageFile(bitmap, folder.File("image.bmp")));
}

// The decoder is checked against hand-made files below, so a round trip through it checks the
// encoder's pixel layout, RLE8 runs included; the header must also give the bitmap's depth and the
// real sizes of the file and of its pixel data. Each file also decodes with the greyscale effect
// applied on the way.
TEST(BmpCodecTest, RoundTripsEveryDepthExactly) {
  // 511 × 2: one colour across, then two alternating, which RLE8 must split into encoded and
  // absolute runs of at most 255 pixels (255 + 255 + 1).
  const Bitmap runs = Painted(511, 2, [](int x, int y) {
    return y == 0 ? kGreen : x % 2 == 0 ? kRed : kBlue;
  });
  for (const Bitmap& source : {LetterF(), PhotoLike(37, 23), runs}) {
    Bitmap high = source, palette = source, rle = source;
    imaging::ReduceTo16(high);
    const bool reduced = imaging::ReduceTo8(palette) && imaging::ReduceTo8(rle);
    EXPECT_TRUE(reduced) << source.width << " wide";
    if (!reduced) continue;
    rle.rleCompression = true;
    for (const Bitmap& bitmap : {source, high, palette, rle}) {
      SCOPED_TRACE(testing::Message() << source.width << " wide, depth " << int(bitmap.depth)
                                      << (bitmap.rleCompression ? " RLE" : ""));
      const Bytes file = EncodeToBytes(bitmap);
      const auto field = [&](std::size_t at) {
        return file.at(at) | file.at(at + 1) << 8 | file.at(at + 2) << 16;
      };
      // The file size, the pixel offset plus the image size (compressed or not), the depth, the
      // compression, and 72 dots per inch across and down (72 / 0.0254 = 2834.6 pixels per metre).
      const int size = int(file.size()), compression = bitmap.rleCompression ? 1 : 0;
      EXPECT_EQ((std::array{field(2), field(10) + field(34), int{file[28]}, int{file[30]},
                            field(38), field(42)}),
                (std::array{size, size, int(bitmap.depth), compression, 2835, 2835}));
      EXPECT_EQ(imaging::bmp::Decode(file).value_or(Bitmap{}).pixels, bitmap.pixels);
      // The greyscale effect applied while decoding gives what it gives applied afterwards.
      Bitmap grey = imaging::bmp::Decode(file).value_or(Bitmap{});
      imaging::MakeGreyscale(grey, 255);
      const Bitmap fused = imaging::bmp::Decode(file, true).value_or(Bitmap{});
      EXPECT_EQ(std::pair(fused.pixels, fused.grey), std::pair(grey.pixels, true));
    }
  }
}

TEST(BmpCodecTest, DecodesEveryHeaderKindAndBitCount) {
  // 3 x 2 images stored bottom-up unless the height is negative; expected colours top-down.
  const Bytes eightBit = {3, 2, 1, 0, 0, 1, 2, 0};
  const Colors eightBitColors = {kWhite, kRed, kGreen, kBlue, kGreen, kRed};
  const Bytes corePalette = {255, 255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0};
  // OS/2 1.x with its 3-byte palette entries, OS/2 2.x in its 16-byte short form, cut after its
  // colour count and in full, then the Windows headers. A header that holds the colour count (36
  // bytes on) places the data without a pixel offset: 4 entries, then the pixels.
  for (std::uint32_t size : {12u, 16u, 36u, 64u, 40u, 108u, 124u}) {
    const Bytes& palette = size == 12 ? corePalette : kBmpPalette;
    Bytes file = BmpFile({size, 3, 2, 8, 0, 4, palette, {}, eightBit});
    if (size >= 36) file[10] = 0;
    EXPECT_EQ(ColorsOf(imaging::bmp::Decode(file)), eightBitColors) << size;
  }
  // Pixel data: 1-bit rows 101 and 010 (bits from the top of each byte); 4-bit indices 1 2 5
  // and 2 1 0, index 5 past the three palette entries giving black; 16-bit red, green, blue and
  // then red 16, blue 1, white; 24-bit and 32-bit primaries and three greys written blue first;
  // 5-6-5 masks after the header (6-bit green 1 widens to 4, 5-bit red 16 to 132) and 10-10-10 ones
  // in it, keeping their top 8 bits; a 1-bit field reading 0 or 255, a zero mask 0.
  const Bytes rgb565 = {0, 0xF8, 0xE0, 7, 0x1F, 0, 0, 0, 0x20, 0, 0xFF, 0xFF, 0, 0x80, 0, 0};
  const Bytes oneBit = {0xA0, 0, 0, 0, 0x40, 0, 0, 0}, fourBit = {0x12, 0x50, 0, 0, 0x21, 0, 0, 0};
  const Bytes rgb555 = {0, 0x7C, 0xE0, 3, 0x1F, 0, 0, 0, 0, 0x40, 1, 0, 0xFF, 0x7F, 0, 0};
  const Bytes bgr = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
  const Bytes bgrx = {1, 2, 3,   99, 4, 5,   6, 99, 7,   8, 9, 99,
                      0, 0, 255, 99, 0, 255, 0, 99, 255, 0, 0, 99};
  const Bytes tenBit = {1, 0, 0xF0, 0x3F, 0xFF, 3, 8, 0}, oddMasks = {0xFF, 0x7F, 0xFF, 0x80};
  const Bytes threeEntries(kBmpPalette.begin(), kBmpPalette.end() - 4);
  const Colors primariesThenGreys = {kRed, kGreen, kBlue, {3, 2, 1}, {6, 5, 4}, {9, 8, 7}};
  // RLE8, 5 x 3: bottom row a run of two 1s and an absolute run 2 3 2 (padded); a delta of (2, 1)
  // skips the middle row; one 3 on the top row; end of bitmap. Skipped pixels stay black, not
  // palette entry 0 (white).
  const Bytes rle8 = {2, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 1, 1, 3, 0, 1};
  // RLE4, 5 x 2: five alternating nibbles 1 2, end of line, an absolute run of nibbles 3 1 2 (two
  // bytes, already even), then the data stops without an end code.
  const Bytes rle4 = {5, 0x12, 0, 0, 0, 3, 0x31, 0x20};
  const std::pair<BmpParts, Colors> cases[] = {
      {{40, 3, 2, 1, 0, 2, Bytes(kBmpPalette.begin() + 4, kBmpPalette.end() - 4), {}, oneBit},
       {kRed, kGreen, kRed, kGreen, kRed, kGreen}},
      {{40, 3, 2, 4, 0, 3, threeEntries, {}, fourBit},
       {kGreen, kRed, kWhite, kRed, kGreen, kBlack}},
      {{40, 3, 2, 16, 0, 0, {}, {}, rgb555}, {{132, 0, 0}, {0, 0, 8}, kWhite, kRed, kGreen, kBlue}},
      {{40, 3, 2, 16, 3, 0, {}, {0xF800, 0x07E0, 0x1F}, rgb565},
       {{0, 4, 0}, kWhite, {132, 0, 0}, kRed, kGreen, kBlue}},
      {{40, 3, -2, 24, 0, 0, {}, {}, bgr}, primariesThenGreys},
      {{40, 3, 2, 32, 0, 0, {}, {}, bgrx}, primariesThenGreys},
      {{56, 1, 2, 32, 3, 0, {}, {0x3FF00000, 0xFFC00, 0x3FF}, tenBit}, {{0, 128, 255}, kRed}},
      {{52, 2, 1, 16, 3, 0, {}, {0x8000, 0x1F, 0}, oddMasks}, {{0, 255, 0}, {255, 255, 0}}},
      {{40, 5, 3, 8, 1, 4, kBmpPalette, {}, rle8},
       {kBlack, kBlack, kBlue, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kRed, kRed,
        kGreen, kBlue, kGreen}},
      {{40, 5, 2, 4, 2, 4, kBmpPalette, {}, rle4},
       {kBlue, kRed, kGreen, kBlack, kBlack, kRed, kGreen, kRed, kGreen, kRed}},
  };
  for (const auto& [made, expected] : cases) {
    EXPECT_EQ(ColorsOf(imaging::bmp::Decode(BmpFile(made))), expected)
        << made.bitCount << " bits, " << made.compression;
  }
}

TEST(BmpCodecTest, RefusesTruncationsAndHeaderFieldsBeforeAllocating) {
  const Bytes valid = EncodeToBytes(LetterF());
  // Every truncation of an uncompressed file, in the headers or in the pixels.
  for (std::size_t length = 0; length < valid.size(); ++length) {
    EXPECT_FALSE(imaging::bmp::Decode(std::span(valid).first(length))) << length;
  }
  EXPECT_EQ(imaging::bmp::Decode(std::span(valid).first(20)).Reason(),
            "BMP: the file ends in its headers");
  EXPECT_EQ(imaging::bmp::Decode(std::span(valid).first(valid.size() - 1)).Reason(),
            "BMP: the file ends in its pixel data");
  // Files whose pixel data is all there, refused for one header field alone, with the reason the
  // decoder and the size probe give: sides beyond the limit, each side within it and the pixel
  // count beyond it, sides of 0 or below, and RLE8, bit fields, an embedded JPEG stream
  // (compression 4) or no compression known on 24-bit data.
  const std::string kSize = " pixels is outside the size limits";
  const std::string kOn24 = " does not go with 24 bits per pixel";
  const std::tuple<std::int32_t, std::int32_t, std::uint16_t, std::uint32_t, std::string> cases[] =
      {{70000, 1, 1, 0, "70000 x 1" + kSize},
       {1, 70000, 1, 0, "1 x 70000" + kSize},
       {1, -70000, 1, 0, "1 x 70000" + kSize},
       {10001, 10000, 1, 0, "10001 x 10000" + kSize},
       {0, 1, 1, 0, "0 x 1" + kSize},
       {-6, 1, 1, 0, "-6 x 1" + kSize},
       {1, 0, 1, 0, "1 x 0" + kSize},
       {3, 2, 24, 1, "compression 1" + kOn24},
       {3, 2, 24, 3, "compression 3" + kOn24},
       {3, 2, 24, 4, "compression 4 is not supported"},
       {3, 2, 24, 99, "compression 99 is not supported"}};
  const Bytes twoEntries(kBmpPalette.begin(), kBmpPalette.begin() + 8);
  for (const auto& [width, height, bitCount, compression, reason] : cases) {
    SCOPED_TRACE(testing::Message() << width << " x " << height << ", " << compression);
    const std::size_t stride = (std::size_t(std::abs(width)) * bitCount + 31) / 32 * 4;
    const Bytes data(stride * std::size_t(std::abs(height)), 0x5A);
    const Bytes file = BmpFile({40, width, height, bitCount, compression, 2, twoEntries, {}, data});
    EXPECT_EQ(imaging::bmp::Decode(file).Reason(), "BMP: " + reason);
    EXPECT_EQ(imaging::bmp::ReadSize(file).Reason(), "BMP: " + reason) << "the size probe";
  }
  // Bit-field masks cut off after a 40-byte header.
  EXPECT_EQ(imaging::bmp::Decode(BmpFile({40, 1, 1, 16, 3, 0, {}, {0xF800}, {}})).Reason(),
            "BMP: the file ends in its colour masks");
  // What the file-kind probe never passes to the decoder: another signature, a header size no
  // BMP has.
  EXPECT_EQ(imaging::bmp::Decode(Patched(valid, 0, 'M' | 'B' << 8, 2)).Reason(),
            "BMP: the file does not start with \"BM\"");
  EXPECT_EQ(imaging::bmp::Decode(Patched(valid, 14, 100)).Reason(),
            "BMP: a header of 100 bytes is not supported");
}

TEST(FileKindTest, TellsKindsFromSignaturesAndTextFromNearMisses) {
  using namespace std::string_literals;
  // A PCX header start: manufacturer, version 5, encoding, 8 bits per plane, window 0,0 .. 5,4.
  const std::string pcx = "\x0A\x05\x01\x08\0\0\0\0\x05\0\x04\0"s + std::string(116, '\0');
  const Bytes bmp = BmpFile({40, 3, 2, 24, 0, 0, {}, {}, Bytes(24, 0x5A)});
  // One file start per kind the probe recognises: each row's signature takes its own sample and
  // no other's. A kind added without a sample here fails.
  const std::pair<std::int32_t, std::string> samples[] = {
      {imaging::kFileKindBmp, std::string(bmp.begin(), bmp.end())},
      {imaging::kFileKindJpeg, "\xFF\xD8\xFF\xE0\0\x10JFIF\0"s},
      {imaging::kFileKindPng, "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"s},
      {imaging::kFileKindGif, "GIF87a\x05\0\x03\0"s},
      {imaging::kFileKindTiff, "MM\0*\0\0\0\x08"s},
      {imaging::kFileKindPic, "PIC/MM/XY00000000/:comment\x1A\0"s},
      {imaging::kFileKindMag, "MAKI02  PC98"s},
      {imaging::kFileKindPcx, pcx},
      {imaging::kFileKindHeic, "\0\0\0\x18" "ftypheic\0\0\0\0mif1heic"s},
      {imaging::kFileKindAvif,
       "\0\0\0\x1C"
       "ftypavif\0\0\0\0avifmif1miaf"s},
      {imaging::kFileKindWebp, "RIFF\x24\0\0\0WEBPVP8L\x0D\0\0\0\x2F"s},
  };
  for (const imaging::FileKindSignature& row : imaging::FileKindSignatures()) {
    SCOPED_TRACE("kind " + std::to_string(row.kind));
    const auto* own = std::find_if(std::begin(samples), std::end(samples),
                                   [&](const auto& sample) { return sample.first == row.kind; });
    EXPECT_NE(own, std::end(samples)) << "no sample";
    for (const auto& [kind, text] : samples) {
      EXPECT_EQ(row.sniff(Bytes(text.begin(), text.end())), kind == row.kind) << "sample " << kind;
    }
  }
  for (const auto& [kind, text] : samples) {
    EXPECT_EQ(imaging::FileKindOfBytes(Bytes(text.begin(), text.end())), kind);
  }
  // Near misses: "BM" with a header size no BMP has, "PIC" without its comment end, PCX with a
  // bad bits per plane or a window ending before it starts; text that starts like a PCX file.
  const std::pair<std::string, std::int32_t> cases[] = {
      {"BM\x36\0\0\0\0\0\0\0\x36\0\0\0\x42\0\0\0"s, imaging::kFileKindUnknown},
      {"PIC\x01\x1A"s, imaging::kFileKindUnknown},
      {pcx.substr(0, 3) + "\x03"s + pcx.substr(4), imaging::kFileKindUnknown},
      {"\x0A\x05\x01\x08\x05\0\0\0\x04\0\0\0"s, imaging::kFileKindUnknown},
      {"\n\nHello\n"s, imaging::kFileKindUnknown},
  };
  for (const auto& [text, kind] : cases) {
    EXPECT_EQ(imaging::FileKindOfBytes(Bytes(text.begin(), text.end())), kind) << text;
  }
}

}  // namespace
