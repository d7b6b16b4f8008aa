// BMP files: reading every common header kind and bit depth into a 24-bit bitmap, and writing
// 24-bit, 16-bit (5-5-5) and 8-bit (plain or RLE8) files with a 40-byte BITMAPINFOHEADER.
//
// Decoder choices for damaged or unusual files:
// - A palette cut off by the end of the file is refused (the pixel data would have to follow it).
// - A pixel-data offset of 0, or one pointing back into the headers, is taken to mean "right after
//   the colour table"; an offset past the end of the file is refused. An offset inside the colour
//   table shortens the palette to the entries before it.
// - Palette indices past the palette give black.
// - RLE pixels never written (skipped by deltas or end-of-line codes, or left when the data stops
//   without an end-of-bitmap code) stay black, not palette entry 0.
// - Uncompressed data must hold every row with its padding, the last row included.
// - RLE data with a negative height is read top-down, like uncompressed data.
#include "imaging/BmpCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "imaging/ColorEffects.h"

namespace imaging::bmp {
namespace {

using Palette = std::array<Rgb, 256>;

// Uncompressed rows are read in blocks of about this size.
constexpr std::size_t kRowBlockBytes = std::size_t{1} << 18;

std::uint16_t ReadU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::int32_t ReadS32(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(ReadU32(bytes));
}

// The OS/2 2.x header may end after any of its fields (the fields left out count as zero), so every
// field boundary is a valid size. 40, 52 and 56 are read as the Windows headers of those sizes.
constexpr std::array<std::uint32_t, 15> kOs2v2HeaderSizes = {16, 20, 24, 28, 32, 36, 40, 42,
                                                             44, 46, 48, 52, 56, 60, 64};

bool IsWindowsHeaderSize(std::uint32_t size) {
  return size == kInfoHeaderSize || size == kV2InfoHeaderSize || size == kV3InfoHeaderSize ||
         size == kV4HeaderSize || size == kV5HeaderSize;
}

bool IsKnownHeaderSize(std::uint32_t size) {
  return size == kCoreHeaderSize || IsWindowsHeaderSize(size) ||
         std::find(kOs2v2HeaderSizes.begin(), kOs2v2HeaderSizes.end(), size) !=
             kOs2v2HeaderSizes.end();
}

enum class Coding { kPlain, kBitFields, kRle8, kRle4 };

// Everything the pixel decoding needs, in one form for every header kind.
struct Layout {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool topDown = false;
  int bitCount = 0;
  Coding coding = Coding::kPlain;
  std::array<std::uint32_t, 3> masks{};  // red, green, blue
  Palette palette{};                     // entries the file does not give stay black
  std::uint64_t dataOffset = 0;
};

constexpr const char* kEndsInHeaders = "BMP: the file ends in its headers";
// The file shrank or could not be read after its headers were.
constexpr const char* kReadFailed = "BMP: the file could not be read to its end";

// Headers, masks and the largest colour table all lie within this many leading bytes.
constexpr std::size_t kLayoutBytes = kFileHeaderSize + kV5HeaderSize + 16 + 256 * 4;

// The layout from `bytes`, the file's first kLayoutBytes bytes (all of them when the file is
// shorter), in a file of `fileSize` bytes.
Result<Layout> ReadLayout(std::span<const std::uint8_t> bytes, std::uint64_t fileSize) {
  if (bytes.size() >= 2 && ReadU16(bytes.data()) != kSignature) {
    return Refused("BMP: the file does not start with \"BM\"");
  }
  if (bytes.size() < kFileHeaderSize + 4) return Refused(kEndsInHeaders);
  const std::uint32_t headerSize = ReadU32(bytes.data() + kFileHeaderSize);
  if (!IsKnownHeaderSize(headerSize)) {
    return Refused("BMP: a header of " + std::to_string(headerSize) + " bytes is not supported");
  }
  if (fileSize < kFileHeaderSize + headerSize) return Refused(kEndsInHeaders);
  const std::uint8_t* header = bytes.data() + kFileHeaderSize;

  Layout layout;
  std::uint32_t compression = kCompressionRgb;
  std::uint32_t colorsUsed = 0;
  std::uint64_t entrySize = 4;
  if (headerSize == kCoreHeaderSize) {
    layout.width = ReadU16(header + 4);
    layout.height = ReadU16(header + 6);
    layout.bitCount = ReadU16(header + 10);
    entrySize = 3;
  } else {
    layout.width = ReadS32(header + 4);
    // 64-bit, so that negating INT_MIN is harmless; the size check below refuses it.
    const std::int64_t height = ReadS32(header + 8);
    layout.topDown = height < 0;
    layout.height = height < 0 ? -height : height;
    layout.bitCount = ReadU16(header + 14);
    if (headerSize >= 20) compression = ReadU32(header + 16);
    if (headerSize >= 36) colorsUsed = ReadU32(header + 32);
  }

  std::uint64_t maskBytesAfterHeader = 0;
  switch (compression) {
    case kCompressionRgb:
      layout.coding = Coding::kPlain;
      break;
    case kCompressionRle8:
      layout.coding = Coding::kRle8;
      break;
    case kCompressionRle4:
      layout.coding = Coding::kRle4;
      break;
    case kCompressionBitFields:
    case kCompressionAlphaBitFields:
      // OS/2 2.x uses 3 for its Huffman coding, which is not read.
      if (!IsWindowsHeaderSize(headerSize)) {
        return Refused("BMP: OS/2 Huffman compression is not supported");
      }
      layout.coding = Coding::kBitFields;
      // A 40-byte header is followed by the masks; the longer headers hold them.
      if (headerSize == kInfoHeaderSize) {
        maskBytesAfterHeader = compression == kCompressionBitFields ? 12 : 16;
      }
      break;
    default:
      // JPEG or PNG inside a BMP, OS/2 RLE24, or no compression known at all.
      return Refused("BMP: compression " + std::to_string(compression) + " is not supported");
  }

  const int bits = layout.bitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return Refused("BMP: " + std::to_string(bits) + " bits per pixel is not supported");
  }
  if ((layout.coding == Coding::kRle8 && bits != 8) ||
      (layout.coding == Coding::kRle4 && bits != 4) ||
      (layout.coding == Coding::kBitFields && bits != 16 && bits != 32)) {
    return Refused("BMP: compression " + std::to_string(compression) + " does not go with " +
                   std::to_string(bits) + " bits per pixel");
  }
  if (!SizeWithinLimits(layout.width, layout.height)) {
    return RefusedSize("BMP", layout.width, layout.height);
  }

  // The masks sit at the same place whether they follow a 40-byte header or belong to a longer one.
  constexpr std::size_t kMaskOffset = kFileHeaderSize + kInfoHeaderSize;
  if (layout.coding == Coding::kBitFields) {
    if (fileSize < kMaskOffset + 12) return Refused("BMP: the file ends in its colour masks");
    for (std::size_t channel = 0; channel < 3; ++channel) {
      layout.masks[channel] = ReadU32(bytes.data() + kMaskOffset + 4 * channel);
    }
  } else if (bits == 16) {
    layout.masks = {0x7C00, 0x03E0, 0x001F};
  } else if (bits == 32) {
    layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  }

  // The colour table: the palette of 1-, 4- and 8-bit images, optional for the others.
  const std::uint64_t tableStart = kFileHeaderSize + headerSize + maskBytesAfterHeader;
  const std::uint64_t indexCount = bits <= 8 ? (std::uint64_t{1} << bits) : 256;
  std::uint64_t entries =
      colorsUsed == 0 && bits <= 8 ? indexCount : std::min<std::uint64_t>(colorsUsed, indexCount);
  const std::uint64_t declaredOffset = ReadU32(bytes.data() + 10);
  if (declaredOffset >= tableStart && declaredOffset < tableStart + entries * entrySize) {
    entries = (declaredOffset - tableStart) / entrySize;
  }
  const std::uint64_t tableEnd = tableStart + entries * entrySize;
  if (bits <= 8) {
    if (tableEnd > fileSize) return Refused("BMP: the file ends in its colour table");
    for (std::uint64_t index = 0; index < entries; ++index) {
      const std::uint8_t* entry = bytes.data() + tableStart + index * entrySize;
      layout.palette[index] = Rgb{entry[2], entry[1], entry[0]};
    }
  }
  const std::uint64_t dataOffset = declaredOffset >= tableStart ? declaredOffset : tableEnd;
  if (dataOffset > fileSize) return Refused("BMP: the pixel data would start past the file's end");
  layout.dataOffset = dataOffset;
  return layout;
}

std::uint64_t StrideOf(const Layout& layout) {
  // Sides are at most kMaxImageSide here, so 64-bit arithmetic cannot overflow.
  return (static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.bitCount) +
          31) /
         32 * 4;
}

bool Compressed(const Layout& layout) {
  return layout.coding == Coding::kRle8 || layout.coding == Coding::kRle4;
}

// The layout of a file Decode accepts: uncompressed data must hold every row with its padding.
Result<Layout> ValidLayout(const ByteSource& source) {
  Result<Layout> layout = ReadLayout(source.Prefix(kLayoutBytes), source.Size());
  if (layout && !Compressed(*layout) &&
      StrideOf(*layout) * static_cast<std::uint64_t>(layout->height) >
          source.Size() - layout->dataOffset) {
    return Refused("BMP: the file ends in its pixel data");
  }
  return layout;
}

// Unpacks one row of 1-, 4- or 8-bit palette indices into red, green, blue bytes.
template <std::size_t kBits>
void DecodePaletteRow(const std::uint8_t* source, std::size_t width, const Palette& palette,
                      std::uint8_t* target) {
  constexpr std::size_t kPerByte = 8 / kBits;
  constexpr unsigned kIndexMask = (1u << kBits) - 1;
  for (std::size_t x = 0; x < width; ++x, target += 3) {
    const unsigned shift = static_cast<unsigned>((kPerByte - 1 - x % kPerByte) * kBits);
    const unsigned packed = source[x / kPerByte];
    const Rgb& color = palette[(packed >> shift) & kIndexMask];
    target[0] = color.red;
    target[1] = color.green;
    target[2] = color.blue;
  }
}

// Blue, green, red (and for 32 bits an unused fourth byte) per pixel into red, green, blue.
template <std::size_t kStep>
void DecodeBgrRow(const std::uint8_t* source, std::size_t width, std::uint8_t* target) {
  for (std::size_t x = 0; x < width; ++x, source += kStep, target += 3) {
    target[0] = source[2];
    target[1] = source[1];
    target[2] = source[0];
  }
}

// One channel of a bit-field pixel: the masked bits are shifted down to at most 8 bits, then
// widened to 8 bits by repeating them (5 bits v become (v << 3) | (v >> 2), 1 bit becomes 0 or
// 255). A field wider than 8 bits keeps its top 8 bits. Holes in a non-contiguous mask read as zero
// bits of one field spanning the mask; a zero mask gives 0.
struct ChannelField {
  std::uint32_t mask = 0;
  int shift = 0;
  std::array<std::uint8_t, 256> widened{};
};

ChannelField MakeChannelField(std::uint32_t mask) {
  ChannelField field;
  field.mask = mask;
  if (mask == 0) return field;
  const int low = std::countr_zero(mask);
  const int fieldBits = static_cast<int>(std::bit_width(mask >> low));
  const int keptBits = std::min(fieldBits, 8);
  field.shift = low + fieldBits - keptBits;
  for (unsigned value = 0; value < (1u << keptBits); ++value) {
    unsigned wide = 0;
    for (int position = 8 - keptBits; position > -keptBits; position -= keptBits) {
      wide |= position >= 0 ? value << position : value >> -position;
    }
    field.widened[value] = static_cast<std::uint8_t>(wide);
  }
  return field;
}

// One row of 16- or 32-bit bit-field pixels into red, green, blue bytes.
template <int kBits>
void DecodeFieldRow(const std::uint8_t* source, std::size_t width,
                    const std::array<ChannelField, 3>& fields, std::uint8_t* target) {
  for (std::size_t x = 0; x < width; ++x, source += kBits / 8, target += 3) {
    const std::uint32_t pixel = kBits == 16 ? ReadU16(source) : ReadU32(source);
    for (std::size_t channel = 0; channel < 3; ++channel) {
      const ChannelField& field = fields[channel];
      target[channel] = field.widened[(pixel & field.mask) >> field.shift];
    }
  }
}

// Writes `count` palette colours from column x onward, dropping those past the row's end, and moves
// x past all of them.
template <typename IndexAt>
void PaintRun(std::uint8_t* row, std::int64_t width, std::int64_t& x, std::int64_t count,
              const Palette& palette, IndexAt indexAt) {
  const std::int64_t end = std::min(x + count, width);
  for (std::int64_t column = x; column < end; ++column) {
    const Rgb& color = palette[indexAt(column - x)];
    std::uint8_t* target = row + column * 3;
    target[0] = color.red;
    target[1] = color.green;
    target[2] = color.blue;
  }
  x += count;
}

// RLE8 and RLE4: pairs of bytes, either a run (count, index) or an escape (0, code): 0 ends the
// row, 1 ends the bitmap, 2 is followed by a right and an up offset, 3..255 start an absolute run
// of that many indices padded to a 16-bit boundary. RLE4 runs alternate the two nibbles of their
// index byte. Nothing is ever written outside the image: runs past the row's end are cut, and
// decoding stops at the last row or at the end of the data.
void DecodeRle(std::span<const std::uint8_t> data, const Layout& layout, Bitmap& bitmap) {
  const bool fourBit = layout.coding == Coding::kRle4;
  const std::int64_t width = bitmap.width;
  const std::int64_t height = bitmap.height;
  std::int64_t x = 0;
  std::int64_t row = 0;  // counted in file order, from the bottom unless top-down
  std::size_t position = 0;
  while (row < height && data.size() - position >= 2) {
    const std::uint8_t first = data[position];
    const std::uint8_t second = data[position + 1];
    position += 2;
    std::uint8_t* target = bitmap.Row(static_cast<int>(layout.topDown ? row : height - 1 - row));
    if (first != 0) {
      PaintRun(target, width, x, first, layout.palette, [&](std::int64_t offset) {
        if (!fourBit) return second;
        return static_cast<std::uint8_t>(offset % 2 == 0 ? second >> 4 : second & 0x0F);
      });
    } else if (second == 0) {
      x = 0;
      ++row;
    } else if (second == 1) {
      break;
    } else if (second == 2) {
      if (data.size() - position < 2) break;
      x += data[position];
      row += data[position + 1];
      position += 2;
    } else {
      const std::size_t byteCount = fourBit ? (second + 1u) / 2 : second;
      const std::size_t available = std::min(byteCount, data.size() - position);
      const std::int64_t count = static_cast<std::int64_t>(
          fourBit ? std::min<std::size_t>(second, 2 * available) : available);
      const std::uint8_t* run = data.data() + position;
      PaintRun(target, width, x, count, layout.palette, [&](std::int64_t offset) {
        if (!fourBit) return run[offset];
        return static_cast<std::uint8_t>((run[offset / 2] >> (offset % 2 == 0 ? 4 : 0)) & 0x0F);
      });
      position += std::min((byteCount + 1) & ~std::size_t{1}, data.size() - position);
    }
  }
}

// Writing.

void AppendU16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  AppendU16(out, value & 0xFFFF);
  AppendU16(out, value >> 16);
}

// The file's bytes on their way to the stream: rows are built in place in a block of at least
// kBlockBytes and the stream gets whole blocks, so a large image costs a few large writes.
class BlockWriter {
 public:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 18;

  explicit BlockWriter(std::FILE* out) : out_(out), block_(kBlockBytes) {}

  // Room for `size` bytes, to be filled by the caller before the next call. Nullptr once a write
  // failed.
  std::uint8_t* Reserve(std::size_t size) {
    if (used_ + size > block_.size() && !Flush()) return nullptr;
    if (size > block_.size()) block_.resize(size);
    std::uint8_t* room = block_.data() + used_;
    used_ += size;
    return room;
  }
  bool Append(std::span<const std::uint8_t> bytes) {
    std::uint8_t* room = Reserve(bytes.size());
    if (room == nullptr) return false;
    if (!bytes.empty()) std::memcpy(room, bytes.data(), bytes.size());
    return true;
  }
  bool Flush() {
    if (!failed_ && used_ > 0 && std::fwrite(block_.data(), 1, used_, out_) != used_) {
      failed_ = true;
    }
    used_ = 0;
    return !failed_;
  }

 private:
  std::FILE* out_;
  std::vector<std::uint8_t> block_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

// The file header, a 40-byte info header (bottom-up, 72 dots per inch) and the palette. False
// when the file would be too large for the format's 32-bit sizes.
bool WriteHeaders(BlockWriter& out, const Bitmap& bitmap, int bitCount, std::uint32_t compression,
                  std::uint64_t imageSize, std::span<const Rgb> palette) {
  constexpr std::uint32_t kPixelsPerMetre = 2835;
  const std::uint64_t dataOffset = kFileHeaderSize + kInfoHeaderSize + 4 * palette.size();
  const std::uint64_t fileSize = dataOffset + imageSize;
  if (fileSize > std::numeric_limits<std::uint32_t>::max()) return false;
  std::vector<std::uint8_t> header;
  header.reserve(static_cast<std::size_t>(dataOffset));
  AppendU16(header, kSignature);
  AppendU32(header, static_cast<std::uint32_t>(fileSize));
  AppendU32(header, 0);
  AppendU32(header, static_cast<std::uint32_t>(dataOffset));
  AppendU32(header, kInfoHeaderSize);
  AppendU32(header, static_cast<std::uint32_t>(bitmap.width));
  AppendU32(header, static_cast<std::uint32_t>(bitmap.height));
  AppendU16(header, 1);
  AppendU16(header, static_cast<std::uint32_t>(bitCount));
  AppendU32(header, compression);
  AppendU32(header, static_cast<std::uint32_t>(imageSize));
  AppendU32(header, kPixelsPerMetre);
  AppendU32(header, kPixelsPerMetre);
  AppendU32(header, static_cast<std::uint32_t>(palette.size()));
  AppendU32(header, 0);
  for (const Rgb& color : palette) {
    header.insert(header.end(), {color.blue, color.green, color.red, 0});
  }
  return out.Append(header);
}

std::size_t PaddedRowBytes(std::size_t bytes) { return (bytes + 3) & ~std::size_t{3}; }

std::uint64_t ImageBytes(std::size_t stride, const Bitmap& bitmap) {
  return static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(bitmap.height);
}

// Red, green, blue into blue, green, red, four pixels at a time where the row allows it.
void SwapToBgr(const std::uint8_t* source, std::size_t pixels, std::uint8_t* target) {
  std::size_t x = 0;
  for (; x + 4 <= pixels; x += 4, source += 12, target += 12) {
    const std::uint8_t swapped[12] = {source[2], source[1],  source[0],  source[5],
                                      source[4], source[3],  source[8],  source[7],
                                      source[6], source[11], source[10], source[9]};
    std::memcpy(target, swapped, sizeof swapped);
  }
  for (; x < pixels; ++x, source += 3, target += 3) {
    target[0] = source[2];
    target[1] = source[1];
    target[2] = source[0];
  }
}

bool Encode24(const Bitmap& bitmap, BlockWriter& out) {
  const std::size_t stride = PaddedRowBytes(bitmap.RowBytes());
  if (!WriteHeaders(out, bitmap, 24, kCompressionRgb, ImageBytes(stride, bitmap), {})) {
    return false;
  }
  const std::size_t padding = stride - bitmap.RowBytes();
  for (int y = bitmap.height - 1; y >= 0; --y) {
    std::uint8_t* row = out.Reserve(stride);
    if (row == nullptr) return false;
    SwapToBgr(bitmap.Row(y), static_cast<std::size_t>(bitmap.width), row);
    std::memset(row + bitmap.RowBytes(), 0, padding);
  }
  return true;
}

bool Encode16(const Bitmap& bitmap, BlockWriter& out) {
  const std::size_t width = static_cast<std::size_t>(bitmap.width);
  const std::size_t stride = PaddedRowBytes(width * 2);
  if (!WriteHeaders(out, bitmap, 16, kCompressionRgb, ImageBytes(stride, bitmap), {})) {
    return false;
  }
  for (int y = bitmap.height - 1; y >= 0; --y) {
    std::uint8_t* row = out.Reserve(stride);
    if (row == nullptr) return false;
    std::memset(row + width * 2, 0, stride - width * 2);
    const std::uint8_t* source = bitmap.Row(y);
    for (std::size_t x = 0; x < width; ++x, source += 3) {
      const unsigned red = source[0] >> 3u;
      const unsigned green = source[1] >> 3u;
      const unsigned blue = source[2] >> 3u;
      const unsigned value = (red << 10) | (green << 5) | blue;
      row[2 * x] = static_cast<std::uint8_t>(value & 0xFF);
      row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
    }
  }
  return true;
}

// One row of indices as RLE8 codes, ending with an end-of-line code. Repeats become encoded runs;
// three or more pixels that each differ from their right-hand neighbour become an absolute run
// (padded to an even length); one or two such pixels become encoded runs of one.
void EncodeRle8Row(std::span<const std::uint8_t> indices, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::size_t width = indices.size();
  const auto runLength = [&](std::size_t start) {
    std::size_t end = start + 1;
    while (end < width && end - start < 255 && indices[end] == indices[start]) ++end;
    return end - start;
  };
  std::size_t start = 0;
  while (start < width) {
    const std::size_t run = runLength(start);
    if (run >= 2) {
      out.insert(out.end(), {static_cast<std::uint8_t>(run), indices[start]});
      start += run;
      continue;
    }
    std::size_t end = start + 1;
    while (end < width && end - start < 255 && runLength(end) == 1) ++end;
    const std::size_t count = end - start;
    if (count >= 3) {
      out.insert(out.end(), {0, static_cast<std::uint8_t>(count)});
      out.insert(out.end(), indices.begin() + static_cast<std::ptrdiff_t>(start),
                 indices.begin() + static_cast<std::ptrdiff_t>(end));
      if (count % 2 != 0) out.push_back(0);
    } else {
      for (std::size_t index = start; index < end; ++index)
        out.insert(out.end(), {1, indices[index]});
    }
    start = end;
  }
  out.insert(out.end(), {0, 0});
}

bool Encode8(const Bitmap& bitmap, BlockWriter& out) {
  if (bitmap.palette.empty() || bitmap.palette.size() > 256 ||
      bitmap.indices.size() != bitmap.PixelCount()) {
    return false;
  }
  const std::size_t width = static_cast<std::size_t>(bitmap.width);
  const auto indexRow = [&](int y) {
    return std::span<const std::uint8_t>(bitmap.indices)
        .subspan(static_cast<std::size_t>(y) * width, width);
  };
  if (!bitmap.rleCompression) {
    const std::size_t stride = PaddedRowBytes(width);
    if (!WriteHeaders(out, bitmap, 8, kCompressionRgb, ImageBytes(stride, bitmap),
                      bitmap.palette)) {
      return false;
    }
    for (int y = bitmap.height - 1; y >= 0; --y) {
      std::uint8_t* row = out.Reserve(stride);
      if (row == nullptr) return false;
      std::memcpy(row, indexRow(y).data(), width);
      std::memset(row + width, 0, stride - width);
    }
    return true;
  }
  // The compressed size goes into the header, so a first pass measures the rows and a second
  // writes them; both reuse one row buffer instead of holding the whole compressed image.
  std::vector<std::uint8_t> row;
  std::uint64_t compressedSize = 2;  // the end-of-bitmap code
  for (int y = bitmap.height - 1; y >= 0; --y) {
    EncodeRle8Row(indexRow(y), row);
    compressedSize += row.size();
  }
  if (!WriteHeaders(out, bitmap, 8, kCompressionRle8, compressedSize, bitmap.palette)) return false;
  for (int y = bitmap.height - 1; y >= 0; --y) {
    EncodeRle8Row(indexRow(y), row);
    if (y == 0) row.insert(row.end(), {0, 1});
    if (!out.Append(row)) return false;
  }
  return true;
}

}  // namespace

bool Sniff(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kFileHeaderSize + 4 && ReadU16(bytes.data()) == kSignature &&
         IsKnownHeaderSize(ReadU32(bytes.data() + kFileHeaderSize));
}

Result<std::pair<int, int>> ReadSize(const ByteSource& source) {
  Result<Layout> layout = ValidLayout(source);
  if (!layout) return layout.TakeFailure();
  return std::pair{static_cast<int>(layout->width), static_cast<int>(layout->height)};
}

Result<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> bytes) {
  return ReadSize(MemorySource(bytes));
}

Result<Bitmap> Decode(const ByteSource& source, bool greyscale) {
  Result<Layout> layout = ValidLayout(source);
  if (!layout) return layout.TakeFailure();
  // RLE data may leave pixels unwritten, and those stay black; uncompressed data writes them all.
  std::optional<Bitmap> bitmap = Compressed(*layout)
                                     ? MakeBitmap(layout->width, layout->height)
                                     : MakeBitmapToFill(layout->width, layout->height);
  if (!bitmap) return Refused(kOutOfMemory);
  bitmap->grey = greyscale;
  const std::size_t width = static_cast<std::size_t>(bitmap->width);
  if (Compressed(*layout)) {
    // Compressed data is read whole: it is at most the size of the file, which was checked on
    // opening, and runs and deltas jump about in it.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(source.Size() - layout->dataOffset));
    if (!source.ReadAt(layout->dataOffset, data)) return Refused(kReadFailed);
    DecodeRle(data, *layout, *bitmap);
    if (greyscale) GreyscalePixels(bitmap->pixels.data(), bitmap->PixelCount());
    return std::move(*bitmap);
  }

  const std::uint64_t stride = StrideOf(*layout);
  const int bits = layout->bitCount;
  const bool plain32 = bits == 32 && layout->coding == Coding::kPlain;
  std::array<ChannelField, 3> fields{};
  if (bits == 16 || (bits == 32 && !plain32)) {
    for (std::size_t channel = 0; channel < 3; ++channel) {
      fields[channel] = MakeChannelField(layout->masks[channel]);
    }
  }
  // The rows are read a block at a time, in file order.
  const std::size_t rowsPerBlock =
      std::max<std::size_t>(1, kRowBlockBytes / static_cast<std::size_t>(stride));
  std::vector<std::uint8_t> block;
  for (int row = 0; row < bitmap->height; ++row) {
    const std::size_t inBlock = static_cast<std::size_t>(row) % rowsPerBlock;
    if (inBlock == 0) {
      const std::size_t rows =
          std::min(rowsPerBlock, static_cast<std::size_t>(bitmap->height - row));
      block.resize(rows * static_cast<std::size_t>(stride));
      // Only a file that shrank since its headers were read can end early here.
      if (!source.ReadAt(layout->dataOffset + static_cast<std::uint64_t>(row) * stride, block)) {
        return Refused(kReadFailed);
      }
    }
    const std::uint8_t* rowBytes = block.data() + inBlock * static_cast<std::size_t>(stride);
    std::uint8_t* target = bitmap->Row(layout->topDown ? row : bitmap->height - 1 - row);
    if (bits == 1) {
      DecodePaletteRow<1>(rowBytes, width, layout->palette, target);
    } else if (bits == 4) {
      DecodePaletteRow<4>(rowBytes, width, layout->palette, target);
    } else if (bits == 8) {
      DecodePaletteRow<8>(rowBytes, width, layout->palette, target);
    } else if (bits == 24) {
      DecodeBgrRow<3>(rowBytes, width, target);
    } else if (plain32) {
      DecodeBgrRow<4>(rowBytes, width, target);
    } else if (bits == 16) {
      DecodeFieldRow<16>(rowBytes, width, fields, target);
    } else {
      DecodeFieldRow<32>(rowBytes, width, fields, target);
    }
    // While the row is still in the cache.
    if (greyscale) GreyscalePixels(target, width);
  }
  return std::move(*bitmap);
}

Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, bool greyscale) {
  return Decode(MemorySource(bytes), greyscale);
}

bool Encode(const Bitmap& bitmap, std::FILE* out) {
  if (out == nullptr || !SizeWithinLimits(bitmap.width, bitmap.height) ||
      bitmap.pixels.size() != bitmap.PixelCount() * 3) {
    return false;
  }
  BlockWriter writer(out);
  bool written = false;
  switch (bitmap.depth) {
    case ColorDepth::kHigh16:
      written = Encode16(bitmap, writer);
      break;
    case ColorDepth::kPalette8:
      written = Encode8(bitmap, writer);
      break;
    case ColorDepth::kTrue24:
      written = Encode24(bitmap, writer);
      break;
  }
  return written && writer.Flush();
}

}  // namespace imaging::bmp
