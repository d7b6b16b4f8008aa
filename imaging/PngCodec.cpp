// PNG decoding and encoding through libpng.
//
// libpng reports errors by calling our error function, which jumps back with png_longjmp to the
// function that drove the library. The functions that call setjmp keep only trivially destructible
// locals and get the library structs, bitmap rows and buffers by pointer from their caller; the
// caller owns and releases all of them, so no path leaks and no destructor is skipped.
//
// What a file may cost is bounded before it is read: both sides at most kMaxImageSide (libpng's
// own user limit) and our pixel limit checked before the bitmap exists. Ancillary chunks other
// than tRNS are skipped unread (the decoder uses none of them), so neither thousands of text chunks
// nor a highly compressed zTXt costs memory; the chunk cache and chunk size limits back that up.
// A bad CRC in a critical chunk, or image data that ends early, refuses the file; a bad CRC in an
// ancillary chunk only drops that chunk. The chunks after the image data are not read, so a file
// cut after its last IDAT still loads.
#include "imaging/PngCodec.h"

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/AlphaComposite.h"
#include "imaging/Limits.h"

namespace imaging::png {
namespace {

// At most this many ancillary chunks are kept in memory while reading.
constexpr png_uint_32 kMaxCachedChunks = 128;
// The largest chunk (other than image data) libpng will buffer or decompress. This is libpng's
// usual default, stated here so the bound does not depend on its build.
constexpr png_alloc_size_t kMaxChunkBytes = 8'000'000;
// The largest block libpng may allocate while reading: a chunk of the largest length and the zero
// it appends. A row of the widest image (65,535 pixels of 16-bit RGBA) is far smaller.
constexpr png_alloc_size_t kMaxReadAllocation = kMaxChunkBytes + 1;

// Encoder settings, chosen for the smallest files in the time other tools take, on photos and on
// flat graphics (screenshots, line art) at 640 × 480 and 1280 × 720 (bench/run compares them with
// ImageMagick's output; the README's "Performance" section has the figures):
// - Photos: every row gets the one filter that leaves the least residual on rows sampled across
//   the image (Average for most, else Up); a filter chosen per row gains under 1 % for three
//   times the filtering work. libdeflate at level 2 keeps every photo smaller than ImageMagick's
//   file; zlib (interlaced and very large images) needs level 3 for that.
// - Photos with sensor noise (a mean residual above kNoisyMeanResidual): even the best single
//   filter leaves them larger than other tools' files, so each row gets its own filter and
//   libdeflate searches at level 10.
// - Flat graphics: no filter, which keeps runs of one colour as runs (the filters turn them into
//   runs of varied differences), and libdeflate at level 6.
static_assert(kPhotoSettings.filter == PNG_FILTER_UP && kFlatSettings.filter == PNG_FILTER_NONE);

// Graphics of at most 256 colours (line art, screenshots) written with a palette: libdeflate at
// level 9 keeps every one smaller than ImageMagick's palette file in half its time; level 6
// leaves some larger, level 12 takes ten times as long.
constexpr int kPaletteLevel = 9;

// A libdeflate compressor per level, made once per thread: making one sets up its tables, and a
// compressor works on one stream at a time.
libdeflate_compressor* Compressor(int level) {
  struct Release {
    void operator()(libdeflate_compressor* compressor) const {
      libdeflate_free_compressor(compressor);
    }
  };
  thread_local std::array<std::unique_ptr<libdeflate_compressor, Release>, 13> compressors;
  auto& compressor = compressors.at(static_cast<std::size_t>(level));
  if (!compressor) compressor.reset(libdeflate_alloc_compressor(level));
  return compressor.get();
}

void PutU32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

// One chunk: length, type, data and the CRC of type and data.
bool WriteChunk(EncodedOutput& out, const char* type, std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, 8> header{};
  PutU32(header.data(), static_cast<std::uint32_t>(data.size()));
  std::memcpy(header.data() + 4, type, 4);
  std::uint32_t crc = libdeflate_crc32(0, header.data() + 4, 4);
  // libdeflate_crc32 takes a null buffer (an empty span's, as IEND has) as a request for the
  // initial value and returns 0, so an empty chunk adds nothing to the type's CRC.
  if (!data.empty()) crc = libdeflate_crc32(crc, data.data(), data.size());
  std::array<std::uint8_t, 4> trailer{};
  PutU32(trailer.data(), crc);
  return out.Write(header.data(), header.size()) && out.Write(data.data(), data.size()) &&
         out.Write(trailer.data(), trailer.size());
}

// A chunk that carries metadata: its type and its data.
struct MetadataChunk {
  const char* type;
  std::vector<std::uint8_t> data;
};

// The chunks that carry the metadata. The profile is compressed with zlib, as iCCP requires, under
// a name of its own; the XMP packet goes into an uncompressed iTXt chunk with neither language nor
// translated keyword. Throws std::bad_alloc when memory runs out.
std::vector<MetadataChunk> MetadataChunks(const PhotoMetadata& metadata) {
  std::vector<MetadataChunk> chunks;
  if (!metadata.icc.empty()) {
    constexpr std::string_view kProfileName{"ICC Profile\0\0", 13};  // name, end, method 0
    libdeflate_compressor* compressor = Compressor(6);
    if (compressor != nullptr) {
      const std::size_t bound = libdeflate_zlib_compress_bound(compressor, metadata.icc.size());
      std::vector<std::uint8_t> data(kProfileName.begin(), kProfileName.end());
      data.resize(kProfileName.size() + bound);
      const std::size_t compressed =
          libdeflate_zlib_compress(compressor, metadata.icc.data(), metadata.icc.size(),
                                   data.data() + kProfileName.size(), bound);
      if (compressed != 0) {
        data.resize(kProfileName.size() + compressed);
        chunks.push_back({"iCCP", std::move(data)});
      }
    }
  }
  if (!metadata.exif.empty()) chunks.push_back({"eXIf", metadata.exif});
  if (!metadata.xmp.empty()) {
    // Keyword, its end, compression flag 0, method 0, empty language and translated keyword.
    std::vector<std::uint8_t> data(kPngXmpKeyword.begin(), kPngXmpKeyword.end());
    data.insert(data.end(), {0, 0, 0, 0, 0});
    data.insert(data.end(), metadata.xmp.begin(), metadata.xmp.end());
    chunks.push_back({"iTXt", std::move(data)});
  }
  return chunks;
}

// The filter type byte a row carries for a libpng PNG_FILTER_* mask of one filter.
std::uint8_t FilterType(int filter) {
  switch (filter) {
    case PNG_FILTER_SUB:
      return 1;
    case PNG_FILTER_UP:
      return 2;
    case PNG_FILTER_AVG:
      return 3;
    case PNG_FILTER_PAETH:
      return 4;
    default:
      return 0;
  }
}

std::uint8_t PaethPredictor(int left, int above, int aboveLeft) {
  const int estimate = left + above - aboveLeft;
  const int toLeft = std::abs(estimate - left);
  const int toAbove = std::abs(estimate - above);
  const int toAboveLeft = std::abs(estimate - aboveLeft);
  if (toLeft <= toAbove && toLeft <= toAboveLeft) return static_cast<std::uint8_t>(left);
  if (toAbove <= toAboveLeft) return static_cast<std::uint8_t>(above);
  return static_cast<std::uint8_t>(aboveLeft);
}

// One row filtered with the filter type (0 to 4) into `out` (the row's bytes, without the type
// byte). `above` is the row above, nullptr for the first row, which is treated as zeros.
void FilterRow(std::uint8_t type, const std::uint8_t* row, const std::uint8_t* above,
               std::size_t rowBytes, std::uint8_t* out) {
  constexpr std::size_t kPixelBytes = 3;
  const auto aboveAt = [&](std::size_t i) -> int { return above != nullptr ? above[i] : 0; };
  const auto leftAt = [&](std::size_t i) -> int {
    return i >= kPixelBytes ? row[i - kPixelBytes] : 0;
  };
  switch (type) {
    case 1:
      for (std::size_t i = 0; i < rowBytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - leftAt(i));
      break;
    case 2:
      for (std::size_t i = 0; i < rowBytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - aboveAt(i));
      break;
    case 3:
      for (std::size_t i = 0; i < rowBytes; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - (leftAt(i) + aboveAt(i)) / 2);
      }
      break;
    case 4:
      for (std::size_t i = 0; i < rowBytes; ++i) {
        const int aboveLeft = i >= kPixelBytes ? aboveAt(i - kPixelBytes) : 0;
        out[i] =
            static_cast<std::uint8_t>(row[i] - PaethPredictor(leftAt(i), aboveAt(i), aboveLeft));
      }
      break;
    default:
      std::memcpy(out, row, rowBytes);
      break;
  }
}

// The sum of the filtered bytes taken as signed values, the usual estimate of how well a filter's
// output compresses: the smaller, the better.
std::uint64_t AbsoluteSum(std::span<const std::uint8_t> filtered) {
  std::uint64_t sum = 0;
  for (std::uint8_t value : filtered) {
    sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(value)));
  }
  return sum;
}

// The rows with their filter bytes, as the image data holds them before compression. The mask
// PNG_ALL_FILTERS chooses a filter for each row.
void FilterRows(const Bitmap& bitmap, int filter, std::uint8_t* filtered) {
  const std::size_t rowBytes = bitmap.RowBytes();
  const std::uint8_t chosen = FilterType(filter);
  std::vector<std::uint8_t> trial(filter == PNG_ALL_FILTERS ? rowBytes : 0);
  for (int y = 0; y < bitmap.height; ++y, filtered += rowBytes + 1) {
    const std::uint8_t* row = bitmap.Row(y);
    // Up on the first row is the row itself, so it is stored unfiltered; the other filters work
    // on it as the format defines, with zeros above.
    const std::uint8_t* above = y == 0 ? nullptr : row - rowBytes;
    if (filter == PNG_ALL_FILTERS) {
      // Each row takes the filter whose output has the least sum of absolute values.
      std::uint64_t best = UINT64_MAX;
      for (std::uint8_t type = 0; type <= 4; ++type) {
        FilterRow(type, row, above, rowBytes, trial.data());
        const std::uint64_t sum = AbsoluteSum(trial);
        if (sum < best) {
          best = sum;
          filtered[0] = type;
          std::memcpy(filtered + 1, trial.data(), rowBytes);
        }
      }
      continue;
    }
    const std::uint8_t type = y == 0 && chosen == 2 ? 0 : chosen;
    filtered[0] = type;
    FilterRow(type, row, above, rowBytes, filtered + 1);
  }
}

// The colours of an image of at most kMaxPaletteColors, in the order they first appear, with the
// index of each: a hash table of open addressing, never more than a quarter full.
class PaletteIndex {
 public:
  static constexpr std::size_t kMaxPaletteColors = 256;

  // Builds the palette; false when the image has more colours than a palette holds. Most pixels
  // of a graphic repeat their left neighbour, so only a change of colour is looked up, and a photo
  // is given up within its first few hundred pixels.
  bool Build(const Bitmap& bitmap) {
    std::uint32_t previous = kEmpty;
    for (std::size_t offset = 0; offset < bitmap.pixels.size(); offset += 3) {
      const std::uint32_t color = ColorAt(bitmap.pixels.data() + offset);
      if (color == previous) continue;
      previous = color;
      const std::size_t slot = SlotOf(color);
      if (keys_[slot] == color) continue;
      if (colors_.size() == kMaxPaletteColors) return false;
      keys_[slot] = color;
      indices_[slot] = static_cast<std::uint8_t>(colors_.size());
      colors_.push_back(color);
    }
    return true;
  }

  // The fewest bits per index the format allows for the colours: 1, 2, 4 or 8.
  int Bits() const {
    if (colors_.size() <= 2) return 1;
    if (colors_.size() <= 4) return 2;
    return colors_.size() <= 16 ? 4 : 8;
  }

  // The PLTE chunk's data: red, green and blue of each colour.
  std::vector<std::uint8_t> Entries() const {
    std::vector<std::uint8_t> entries;
    for (std::uint32_t color : colors_) {
      entries.insert(entries.end(),
                     {static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                      static_cast<std::uint8_t>(color)});
    }
    return entries;
  }

  // The rows as the image data holds them: each led by filter type 0, its indices packed from the
  // high bits of each byte down.
  void PackRows(const Bitmap& bitmap, std::uint8_t* out) const {
    const int bits = Bits();
    const std::size_t rowBytes = PackedRowBytes(bitmap.width, bits);
    for (int y = 0; y < bitmap.height; ++y, out += rowBytes + 1) {
      out[0] = 0;
      std::memset(out + 1, 0, rowBytes);
      const std::uint8_t* row = bitmap.Row(y);
      for (std::size_t x = 0; x < static_cast<std::size_t>(bitmap.width); ++x) {
        const std::uint8_t index = indices_[SlotOf(ColorAt(row + 3 * x))];
        const std::size_t bit = x * static_cast<std::size_t>(bits);
        out[1 + bit / 8] |=
            static_cast<std::uint8_t>(index << (8 - static_cast<std::size_t>(bits) - bit % 8));
      }
    }
  }

  static std::size_t PackedRowBytes(int width, int bits) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 7) / 8;
  }

 private:
  static constexpr std::size_t kSlots = 1024;
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;  // no colour: colours are 24 bits

  static std::uint32_t ColorAt(const std::uint8_t* pixel) {
    return std::uint32_t{pixel[0]} << 16 | std::uint32_t{pixel[1]} << 8 | pixel[2];
  }
  // The colour's slot, or the empty slot where it would go.
  std::size_t SlotOf(std::uint32_t color) const {
    std::size_t slot = (color * 2654435761u) >> 22;
    while (keys_[slot] != kEmpty && keys_[slot] != color) slot = (slot + 1) % kSlots;
    return slot;
  }

  std::array<std::uint32_t, kSlots> keys_ = Filled();
  std::array<std::uint8_t, kSlots> indices_{};
  std::vector<std::uint32_t> colors_;

  static std::array<std::uint32_t, kSlots> Filled() {
    std::array<std::uint32_t, kSlots> keys{};
    keys.fill(kEmpty);
    return keys;
  }
};

// The whole file: signature, header, the image data compressed in one piece, and the end chunk,
// the chunks libpng writes for an image without ancillary data. The image data goes into IDAT
// chunks of at most kIdatBytes. An image of at most 256 colours is written with a palette and
// indices of the fewest bits that hold them, unfiltered: a third or less of the data of its
// colours, which is also how other tools write such graphics. Throws std::bad_alloc when memory
// runs out.
bool WriteWhole(const Bitmap& bitmap, const DeflateSettings& settings,
                std::span<const MetadataChunk> metadata, EncodedOutput& out) {
  constexpr std::size_t kIdatBytes = std::size_t{1} << 20;
  constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  const auto palette = std::make_unique<PaletteIndex>();
  const bool indexed = palette->Build(bitmap);
  libdeflate_compressor* compressor = Compressor(indexed ? kPaletteLevel : settings.wholeLevel);
  if (compressor == nullptr) return false;
  const std::size_t rowBytes =
      indexed ? PaletteIndex::PackedRowBytes(bitmap.width, palette->Bits()) : bitmap.RowBytes();
  const std::size_t filteredBytes = (rowBytes + 1) * static_cast<std::size_t>(bitmap.height);
  std::vector<std::uint8_t> filtered = TakeBuffer(filteredBytes);
  if (indexed) {
    palette->PackRows(bitmap, filtered.data());
  } else {
    FilterRows(bitmap, settings.filter, filtered.data());
  }
  // Only the part of the buffer the compressed data fills is ever touched.
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor, filteredBytes);
  const auto compressed = std::make_unique_for_overwrite<std::uint8_t[]>(bound);
  const std::size_t compressedBytes =
      libdeflate_zlib_compress(compressor, filtered.data(), filteredBytes, compressed.get(), bound);
  ReturnBuffer(std::move(filtered));
  if (compressedBytes == 0) return false;

  std::array<std::uint8_t, 13> header{};
  PutU32(header.data(), static_cast<std::uint32_t>(bitmap.width));
  PutU32(header.data() + 4, static_cast<std::uint32_t>(bitmap.height));
  header[8] = static_cast<std::uint8_t>(indexed ? palette->Bits() : 8);  // bits per sample
  header[9] = indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB;
  // Compression, filter and interlace methods 0: deflate, adaptive filtering, none.
  bool written = out.Write(kSignature.data(), kSignature.size()) && WriteChunk(out, "IHDR", header);
  // A colour profile comes before the palette, as the format requires.
  for (const MetadataChunk& chunk : metadata) {
    written = written && WriteChunk(out, chunk.type, chunk.data);
  }
  if (indexed) written = written && WriteChunk(out, "PLTE", palette->Entries());
  for (std::size_t offset = 0; written && offset < compressedBytes; offset += kIdatBytes) {
    written = WriteChunk(
        out, "IDAT", {compressed.get() + offset, std::min(kIdatBytes, compressedBytes - offset)});
  }
  return written && WriteChunk(out, "IEND", {});
}

// What stopped a decode, kept for its reason: libpng's own message, or ours. The decode's error
// pointer points at it.
struct ReadError {
  char message[160];
  bool inImageData;  // the rows are being read
};

[[noreturn]] void JumpOnError(png_structp png, png_const_charp message) {
  if (auto* error = static_cast<ReadError*>(png_get_error_ptr(png))) {
    std::snprintf(error->message, sizeof error->message, "%s", message);
  }
  png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

// libpng reads the file being decoded through this.
void ReadFromSource(png_structp png, png_bytep out, std::size_t length) {
  if (!static_cast<SourceReader*>(png_get_io_ptr(png))->Read(out, length)) {
    const auto* error = static_cast<const ReadError*>(png_get_error_ptr(png));
    png_error(png, error->inImageData ? "the file ends in the middle of its image data"
                                      : "the file ends before its image data");
  }
}

// libpng allocates a text or profile chunk at the length its header claims before a byte of it
// has arrived, and a length past the chunk limit only earns a warning. Its allocations while
// reading come here instead, which refuses any larger than a sound file needs: a header claiming
// two gigabytes then costs nothing, and libpng skips the chunk (or finds the file's end).
png_voidp AllocateForRead(png_structp, png_alloc_size_t size) {
  return size <= kMaxReadAllocation ? std::malloc(size) : nullptr;
}
void FreeForRead(png_structp, png_voidp block) { std::free(block); }

// The read structs of one decode, released however the decode ends.
struct ReadSession {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ReadError error{};
  ReadSession() {
    png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &error, JumpOnError, IgnoreWarning,
                                   nullptr, AllocateForRead, FreeForRead);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  Failure Refusal() const {
    return Refused(std::string("PNG: ") +
                   (error.message[0] != '\0' ? error.message : "the file does not decode"));
  }
  ~ReadSession() { png_destroy_read_struct(&png, &info, nullptr); }
  ReadSession(const ReadSession&) = delete;
  ReadSession& operator=(const ReadSession&) = delete;
};

// What ReadHeader learns about the rows libpng will deliver.
struct RowLayout {
  png_uint_32 width;
  png_uint_32 height;
  int passes;  // 7 for an Adam7 file, else 1
  bool alpha;  // rows come as RGBA and are composited onto white
  bool grey;   // a greyscale file: composited or not, every pixel has red = green = blue
};

// Reads the chunks up to the image data and sets up the conversion of every colour type and depth
// to 8-bit RGB, or RGBA when the file has transparency. False on any error.
bool ReadHeader(png_structp png, png_infop info, SourceReader* source, RowLayout* layout,
                bool readMetadata) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_read_fn(png, source, ReadFromSource);
  png_set_user_limits(png, static_cast<png_uint_32>(kMaxImageSide),
                      static_cast<png_uint_32>(kMaxImageSide));
  png_set_chunk_cache_max(png, kMaxCachedChunks);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  // The metadata chunks are read by libpng itself, under the same limits; a damaged one is
  // dropped with a warning.
  static constexpr png_byte kMetadataChunks[] = "iCCP\0eXIf\0iTXt";
  if (readMetadata)
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kMetadataChunks, 3);
  png_read_info(png, info);

  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  // Scaling rounds 16-bit values to the nearest 8-bit one rather than dropping the low byte.
  if (bitDepth == 16) png_set_scale_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  layout->grey = (colorType & PNG_COLOR_MASK_COLOR) == 0;
  layout->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  layout->width = png_get_image_width(png, info);
  layout->height = png_get_image_height(png, info);
  layout->alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0;
  const std::size_t channels = layout->alpha ? 4 : 3;
  return png_get_bit_depth(png, info) == 8 && png_get_channels(png, info) == channels &&
         png_get_rowbytes(png, info) == layout->width * channels;
}

// Reads the headers as ReadHeader does; a failure also when the session could not be set up or
// the size is beyond the limits.
Result<void> ReadAcceptedHeader(ReadSession& session, SourceReader& reader, RowLayout& layout,
                                PhotoMetadata* metadata) {
  if (session.info == nullptr) return Refused(kOutOfMemory);
  if (!ReadHeader(session.png, session.info, &reader, &layout, metadata != nullptr)) {
    return session.Refusal();
  }
  if (!SizeWithinLimits(layout.width, layout.height)) {
    return RefusedSize("PNG", layout.width, layout.height);
  }
  if (metadata == nullptr) return {};
  png_charp name = nullptr;
  int method = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileBytes = 0;
  if (png_get_iCCP(session.png, session.info, &name, &method, &profile, &profileBytes) != 0 &&
      profile != nullptr) {
    metadata->icc.assign(profile, profile + profileBytes);
  }
  png_bytep exif = nullptr;
  png_uint_32 exifBytes = 0;
  if (png_get_eXIf_1(session.png, session.info, &exifBytes, &exif) != 0 && exif != nullptr) {
    metadata->exif.assign(exif, exif + exifBytes);
  }
  png_textp texts = nullptr;
  int textCount = 0;
  png_get_text(session.png, session.info, &texts, &textCount);
  for (int i = 0; i < textCount; ++i) {
    const png_text& text = texts[i];
    if (text.compression == PNG_ITXT_COMPRESSION_NONE && text.key != nullptr &&
        text.text != nullptr && kPngXmpKeyword == text.key) {
      metadata->xmp.assign(text.text, text.text + text.itxt_length);
      break;
    }
  }
  return {};
}

// Reads every pass of every row. Opaque rows go straight into the bitmap; with interlacing libpng
// fills in each pass's pixels of a row and leaves the others. RGBA rows go through `rgbaRow` (one
// row, kept across passes), and only the pixels of the current pass are composited.
bool ReadRows(png_structp png, const RowLayout& layout, std::uint8_t* pixels,
              std::uint8_t* rgbaRow) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(layout.width) * 3;
  const bool interlaced = layout.passes > 1;
  for (int pass = 0; pass < layout.passes; ++pass) {
    const auto firstRow = static_cast<png_uint_32>(interlaced ? PNG_PASS_START_ROW(pass) : 0);
    const auto rowStep = static_cast<png_uint_32>(interlaced ? PNG_PASS_ROW_OFFSET(pass) : 1);
    const auto firstColumn = static_cast<std::size_t>(interlaced ? PNG_PASS_START_COL(pass) : 0);
    const auto columnStep = static_cast<std::size_t>(interlaced ? PNG_PASS_COL_OFFSET(pass) : 1);
    for (png_uint_32 y = 0; y < layout.height; ++y) {
      std::uint8_t* row = pixels + y * rowBytes;
      if (!layout.alpha) {
        png_read_row(png, row, nullptr);
        continue;
      }
      png_read_row(png, rgbaRow, nullptr);
      if (y >= firstRow && (y - firstRow) % rowStep == 0) {
        CompositeOntoWhite(rgbaRow, row, layout.width, firstColumn, columnStep);
      }
    }
  }
  return true;
}

// The write structs of one encode, released however the encode ends.
struct WriteSession {
  png_structp png = nullptr;
  png_infop info = nullptr;
  WriteSession() {
    png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~WriteSession() { png_destroy_write_struct(&png, &info); }
  WriteSession(const WriteSession&) = delete;
  WriteSession& operator=(const WriteSession&) = delete;
};

// libpng's output goes to an EncodedOutput; a failed write ends the encode.
void WriteToOutput(png_structp png, png_bytep data, std::size_t length) {
  if (!static_cast<EncodedOutput*>(png_get_io_ptr(png))->Write(data, length)) {
    png_error(png, "write failed");
  }
}

// The EncodedOutput flushes when the encode is done.
void FlushNothing(png_structp) {}

bool WriteImage(png_structp png, png_infop info, const Bitmap& bitmap, bool interlace,
                const std::vector<MetadataChunk>* metadata, EncodedOutput* out) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_write_fn(png, out, WriteToOutput, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(bitmap.width),
               static_cast<png_uint_32>(bitmap.height), 8, PNG_COLOR_TYPE_RGB,
               interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  const DeflateSettings settings = ChooseSettings(bitmap);
  png_set_compression_level(png, settings.streamLevel);
  png_set_compression_mem_level(png, 9);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.filter);
  png_write_info(png, info);
  for (const MetadataChunk& chunk : *metadata) {
    png_write_chunk(png, reinterpret_cast<png_const_bytep>(chunk.type), chunk.data.data(),
                    chunk.data.size());
  }
  // For Adam7 libpng picks each pass's pixels out of the full rows it is given.
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < bitmap.height; ++y) png_write_row(png, bitmap.Row(y));
  }
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

DeflateSettings ChooseSettings(const Bitmap& bitmap) {
  // About 64 rows spread over the image are enough to tell the two apart.
  const int step = std::max(1, bitmap.height / 64);
  const std::size_t rowBytes = bitmap.RowBytes();
  std::uint64_t same = 0;
  std::uint64_t compared = 0;
  for (int y = 0; y < bitmap.height; y += step) {
    const std::uint8_t* row = bitmap.Row(y);
    for (std::size_t offset = 3; offset < rowBytes; offset += 3) {
      same += std::memcmp(row + offset, row + offset - 3, 3) == 0 ? 1 : 0;
    }
    compared += static_cast<std::uint64_t>(bitmap.width - 1);
  }
  if (2 * same > compared) return kFlatSettings;

  // Photos: the filter whose output on the sampled rows has the least sum of absolute values.
  // Clean photos choose Average or Up at once. Sensor noise shows as a large mean residual even
  // after the best filter; such photos get a filter chosen per row and a stronger search, which
  // their noise needs to come out no larger than other tools make them.
  constexpr int kCandidates[] = {PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH, PNG_FILTER_SUB};
  std::vector<std::uint8_t> out(rowBytes);
  std::uint64_t best = UINT64_MAX;
  std::uint64_t sampled = 0;
  DeflateSettings chosen = kPhotoSettings;
  for (int filter : kCandidates) {
    std::uint64_t sum = 0;
    sampled = 0;
    for (int y = std::min(1, bitmap.height - 1); y < bitmap.height; y += step) {
      FilterRow(FilterType(filter), bitmap.Row(y), y == 0 ? nullptr : bitmap.Row(y - 1), rowBytes,
                out.data());
      sum += AbsoluteSum(out);
      sampled += rowBytes;
    }
    if (sum < best) {
      best = sum;
      chosen.filter = filter;
    }
  }
  if (best > kNoisyMeanResidual * sampled) return kNoisyPhotoSettings;
  return chosen;
}

bool Sniff(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kSignatureSize && png_sig_cmp(bytes.data(), 0, kSignatureSize) == 0;
}

Result<std::pair<int, int>> ReadSize(const ByteSource& source, PhotoMetadata* metadata) {
  ReadSession session;
  SourceReader reader(source);
  RowLayout layout{};
  Result<void> header = ReadAcceptedHeader(session, reader, layout, metadata);
  if (!header) return header.TakeFailure();
  return std::pair{static_cast<int>(layout.width), static_cast<int>(layout.height)};
}

Result<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> bytes) {
  return ReadSize(MemorySource(bytes));
}

Result<Bitmap> Decode(const ByteSource& source, PhotoMetadata* metadata) {
  ReadSession session;
  SourceReader reader(source);
  RowLayout layout{};
  // The size check comes before anything is allocated for the pixels.
  Result<void> header = ReadAcceptedHeader(session, reader, layout, metadata);
  if (!header) return header.TakeFailure();
  // Every pass of every row is read, so each pixel is written.
  std::optional<Bitmap> bitmap = MakeBitmapToFill(layout.width, layout.height);
  if (!bitmap) return Refused(kOutOfMemory);
  std::vector<std::uint8_t> rgbaRow(layout.alpha ? static_cast<std::size_t>(layout.width) * 4 : 0);
  session.error.inImageData = true;
  if (!ReadRows(session.png, layout, bitmap->pixels.data(), rgbaRow.data())) {
    return session.Refusal();
  }
  bitmap->grey = layout.grey;
  return std::move(*bitmap);
}

Result<Bitmap> Decode(std::span<const std::uint8_t> bytes) { return Decode(MemorySource(bytes)); }

bool Encode(const Bitmap& bitmap, bool interlace, EncodedOutput& out,
            const PhotoMetadata& metadata) {
  if (!SizeWithinLimits(bitmap.width, bitmap.height) ||
      bitmap.pixels.size() != bitmap.PixelCount() * 3) {
    return false;
  }
  try {
    const std::vector<MetadataChunk> chunks = MetadataChunks(metadata);
    if (!interlace &&
        (bitmap.RowBytes() + 1) * static_cast<std::size_t>(bitmap.height) <= kWholeImageBytes) {
      return WriteWhole(bitmap, ChooseSettings(bitmap), chunks, out) && !out.Failed();
    }
    WriteSession session;
    return session.info != nullptr &&
           WriteImage(session.png, session.info, bitmap, interlace, &chunks, &out) && !out.Failed();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool Encode(const Bitmap& bitmap, bool interlace, std::FILE* out) {
  if (out == nullptr) return false;
  EncodedOutput output(out);
  // A full disk shows up when the last block is handed over and flushed.
  return Encode(bitmap, interlace, output) && output.Finish();
}

}  // namespace imaging::png
