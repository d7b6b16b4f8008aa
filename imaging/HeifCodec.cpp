// HEIF and AVIF through libheif. The library is asked for the primary image only, after its size
// has been checked against our limits; it decodes grids tile by tile on the calling thread, so a
// batch's workers each decode their own file without waiting on one another.
#include "imaging/HeifCodec.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/AlphaComposite.h"
#include "imaging/Limits.h"

namespace imaging::heif {
namespace {

using namespace std::string_view_literals;

constexpr std::array kHevcBrands = {"heic"sv, "heix"sv, "heim"sv, "heis"sv, "hevc"sv, "hevx"sv};
constexpr std::array kAv1Brands = {"avif"sv, "avis"sv};
constexpr std::array kNeutralBrands = {"mif1"sv, "msf1"sv};
// Item types of the coded images, and of the images derived from them.
constexpr std::string_view kHevcItem = "hvc1";
constexpr std::string_view kAv1Item = "av01";
constexpr std::array kDerivedItems = {"grid"sv, "iovl"sv, "iden"sv};
// The XMP packet is a 'mime' item of this content type.
constexpr std::string_view kXmpContentType = "application/rdf+xml";

std::uint64_t ReadBig(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes[offset + i];
  return value;
}

std::string_view FourCc(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return {reinterpret_cast<const char*>(bytes.data() + offset), kBrandSize};
}

template <std::size_t N>
bool OneOf(std::string_view brand, const std::array<std::string_view, N>& brands) {
  return std::ranges::find(brands, brand) != brands.end();
}

Codec CodecOfBrand(std::string_view brand) {
  if (OneOf(brand, kHevcBrands)) return Codec::kHevc;
  if (OneOf(brand, kAv1Brands)) return Codec::kAv1;
  return Codec::kNone;
}

Codec CodecOfItem(std::string_view itemType) {
  if (itemType == kHevcItem) return Codec::kHevc;
  if (itemType == kAv1Item) return Codec::kAv1;
  return Codec::kNone;
}

// One box inside `bytes`: where its content starts and ends, and its type.
struct Box {
  std::string_view type;
  std::size_t content = 0;
  std::size_t end = 0;
};

// The box at `offset`, or nothing when its header or size do not fit the bytes.
std::optional<Box> BoxAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (bytes.size() - offset < kBoxHeaderSize) return std::nullopt;
  std::uint64_t size = ReadBig(bytes, offset, 4);
  std::size_t header = kBoxHeaderSize;
  if (size == 1) {
    if (bytes.size() - offset < kLargeBoxHeaderSize) return std::nullopt;
    size = ReadBig(bytes, offset + kBoxHeaderSize, 8);
    header = kLargeBoxHeaderSize;
  } else if (size == 0) {
    size = bytes.size() - offset;
  }
  if (size < header || size > bytes.size() - offset) return std::nullopt;
  return Box{FourCc(bytes, offset + 4), offset + header, offset + static_cast<std::size_t>(size)};
}

// The item id and type of an 'infe' box of version 2 or 3 (earlier versions carry no type).
std::optional<std::pair<std::uint32_t, std::string_view>> ItemInfo(
    std::span<const std::uint8_t> bytes, const Box& box) {
  if (box.end - box.content < 4) return std::nullopt;
  const std::uint8_t version = bytes[box.content];
  const std::size_t idBytes = version == 2 ? 2 : version == 3 ? 4 : 0;
  // Full-box header, item id, protection index, item type.
  if (idBytes == 0 || box.end - box.content < 4 + idBytes + 2 + kBrandSize) return std::nullopt;
  const auto id = static_cast<std::uint32_t>(ReadBig(bytes, box.content + 4, idBytes));
  return std::pair{id, FourCc(bytes, box.content + 4 + idBytes + 2)};
}

// The codec of the primary item among the content of a 'meta' box.
Codec CodecInMeta(std::span<const std::uint8_t> meta) {
  std::optional<std::uint32_t> primary;
  std::vector<std::pair<std::uint32_t, std::string_view>> items;
  // The meta box is a full box: version and flags before its children.
  for (std::size_t offset = 4; offset < meta.size();) {
    const std::optional<Box> box = BoxAt(meta, offset);
    if (!box) break;
    offset = box->end;
    if (box->type == "pitm" && box->end - box->content >= 6) {
      const std::size_t idBytes = meta[box->content] == 0 ? 2 : 4;
      if (box->end - box->content >= 4 + idBytes) {
        primary = static_cast<std::uint32_t>(ReadBig(meta, box->content + 4, idBytes));
      }
    } else if (box->type == "iinf" && box->end - box->content >= 6) {
      const std::size_t countBytes = meta[box->content] == 0 ? 2 : 4;
      for (std::size_t at = box->content + 4 + countBytes; at < box->end;) {
        const std::optional<Box> entry = BoxAt(meta.first(box->end), at);
        if (!entry) break;
        at = entry->end;
        if (entry->type != "infe") continue;
        if (const auto info = ItemInfo(meta, *entry)) items.push_back(*info);
      }
    }
  }
  if (!primary) return Codec::kNone;
  const auto primaryItem =
      std::ranges::find_if(items, [&](const auto& item) { return item.first == *primary; });
  if (primaryItem == items.end()) return Codec::kNone;
  if (const Codec codec = CodecOfItem(primaryItem->second); codec != Codec::kNone) return codec;
  // A grid, an overlay or an identity-derived image: the images it is made of are coded items of
  // the same file.
  if (!OneOf(primaryItem->second, kDerivedItems)) return Codec::kNone;
  for (const auto& item : items) {
    if (const Codec codec = CodecOfItem(item.second); codec != Codec::kNone) return codec;
  }
  return Codec::kNone;
}

// libheif is set up once for the process (its plugins, if any, are loaded then) and never shut
// down, so no decode waits on its set-up lock afterwards.
bool LibraryReady() {
  static const bool ready = heif_init(nullptr).code == heif_error_Ok;
  return ready;
}

struct ContextDeleter {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
  void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
  void operator()(const heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using HandlePointer = std::unique_ptr<const heif_image_handle, HandleDeleter>;

// The metadata items of the image: the first EXIF item (from its TIFF header on), the first XMP
// packet and the ICC profile.
void ReadMetadata(const heif_image_handle* handle, PhotoMetadata& metadata) {
  // The size an item claims is checked before anything is allocated for it.
  const auto block = [&](heif_item_id id) {
    std::vector<std::uint8_t> data;
    const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > kMaxMetadataItemBytes) return data;
    data.resize(size);
    if (heif_image_handle_get_metadata(handle, id, data.data()).code != heif_error_Ok) data.clear();
    return data;
  };
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
    const std::vector<std::uint8_t> exif = block(id);
    if (exif.size() >= kExifOffsetSize) {
      const std::uint64_t start = kExifOffsetSize + ReadBig(exif, 0, kExifOffsetSize);
      if (start < exif.size())
        metadata.exif.assign(exif.begin() + static_cast<long>(start), exif.end());
    }
  }
  const int count = heif_image_handle_get_number_of_metadata_blocks(handle, "mime");
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
  const int listed = heif_image_handle_get_list_of_metadata_block_IDs(handle, "mime", ids.data(),
                                                                      static_cast<int>(ids.size()));
  for (int i = 0; i < listed; ++i) {
    const char* type =
        heif_image_handle_get_metadata_content_type(handle, ids[static_cast<std::size_t>(i)]);
    if (type != nullptr && kXmpContentType == type) {
      metadata.xmp = block(ids[static_cast<std::size_t>(i)]);
      break;
    }
  }
  // An nclx box describes colour by numbers; only an embedded profile travels.
  const std::size_t profileBytes = heif_image_handle_get_raw_color_profile_size(handle);
  if (profileBytes > 0 && profileBytes <= kMaxProfileBytes) {
    metadata.icc.resize(profileBytes);
    if (heif_image_handle_get_raw_color_profile(handle, metadata.icc.data()).code !=
        heif_error_Ok) {
      metadata.icc.clear();
    }
  }
}

// Copies the decoded interleaved image into the bitmap: 8-bit RGB or RGBA, or 16-bit little-endian
// samples of `bits` bits, three or four to a pixel.
void CopyRows(const std::uint8_t* plane, int stride, int bits, bool alpha, Bitmap& bitmap) {
  const std::size_t channels = alpha ? 4 : 3;
  const std::size_t width = static_cast<std::size_t>(bitmap.width);
  std::vector<std::uint8_t> rgba(alpha ? width * 4 : 0);
  for (int y = 0; y < bitmap.height; ++y) {
    const std::uint8_t* source = plane + static_cast<std::ptrdiff_t>(y) * stride;
    std::uint8_t* row = bitmap.Row(y);
    std::uint8_t* target = alpha ? rgba.data() : row;
    if (bits == 8) {
      std::copy_n(source, width * channels, target);
    } else {
      for (std::size_t i = 0; i < width * channels; ++i) {
        target[i] = RoundTo8Bits(source[2 * i] | (unsigned{source[2 * i + 1]} << 8), bits);
      }
    }
    if (alpha) CompositeOntoWhite(rgba.data(), row, width);
  }
}

bool AllGrey(const Bitmap& bitmap) {
  const std::uint8_t* pixel = bitmap.pixels.data();
  for (std::size_t i = 0; i < bitmap.PixelCount(); ++i, pixel += 3) {
    if (pixel[0] != pixel[1] || pixel[0] != pixel[2]) return false;
  }
  return true;
}

// Reads a ByteSource for libheif, which asks for the boxes it needs and seeks past the others.
struct SourceCursor {
  const ByteSource* source;
  std::uint64_t position = 0;
};

heif_reader SourceReaderFunctions() {
  heif_reader reader{};
  reader.reader_api_version = 1;
  reader.get_position = [](void* cursor) {
    return static_cast<std::int64_t>(static_cast<SourceCursor*>(cursor)->position);
  };
  reader.read = [](void* data, std::size_t size, void* userdata) {
    auto* cursor = static_cast<SourceCursor*>(userdata);
    if (!cursor->source->ReadAt(cursor->position,
                                std::span(static_cast<std::uint8_t*>(data), size))) {
      return 1;
    }
    cursor->position += size;
    return 0;
  };
  reader.seek = [](std::int64_t position, void* userdata) {
    auto* cursor = static_cast<SourceCursor*>(userdata);
    if (position < 0 || static_cast<std::uint64_t>(position) > cursor->source->Size()) return 1;
    cursor->position = static_cast<std::uint64_t>(position);
    return 0;
  };
  reader.wait_for_file_size = [](std::int64_t size, void* userdata) {
    const auto* cursor = static_cast<const SourceCursor*>(userdata);
    return size >= 0 && static_cast<std::uint64_t>(size) <= cursor->source->Size()
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
  };
  return reader;
}

// A file's primary image, once its boxes are read and its size is found within the limits.
struct Primary {
  std::unique_ptr<heif_context, ContextDeleter> context;
  HandlePointer handle;
  int width = 0;
  int height = 0;
};

// The failure of a libheif call, with the library's own words ("Invalid input: No 'ftyp' box").
Failure LibraryRefused(const heif_error& error) {
  std::string reason = "HEIF: ";
  reason += error.message != nullptr && *error.message != '\0' ? error.message
                                                                : "the library refused the file";
  return Refused(std::move(reason));
}

// Reads the boxes with `read` (which fills the context) and takes the primary image, checking its
// size, as shown and as coded (libheif allocates the coded size before it turns or cuts), against
// the limits. Refused for a file without a primary still image.
template <typename Read>
Result<Primary> OpenPrimary(Read&& read) {
  if (!LibraryReady()) return Refused("HEIF: the library could not be set up");
  Primary primary;
  primary.context.reset(heif_context_alloc());
  if (primary.context == nullptr) return Refused(kOutOfMemory);
  heif_context_set_maximum_image_size_limit(primary.context.get(), kLibraryMaxSide);
  // Tiles are decoded on the calling thread: a batch already runs one decode per core.
  heif_context_set_max_decoding_threads(primary.context.get(), 0);
  if (const heif_error error = read(primary.context.get()); error.code != heif_error_Ok) {
    return LibraryRefused(error);
  }
  heif_image_handle* handle = nullptr;
  if (const heif_error error = heif_context_get_primary_image_handle(primary.context.get(), &handle);
      error.code != heif_error_Ok) {
    return LibraryRefused(error);
  }
  primary.handle.reset(handle);
  primary.width = heif_image_handle_get_width(handle);
  primary.height = heif_image_handle_get_height(handle);
  const int codedWidth = heif_image_handle_get_ispe_width(handle);
  const int codedHeight = heif_image_handle_get_ispe_height(handle);
  if (!SizeWithinLimits(primary.width, primary.height)) {
    return RefusedSize("HEIF", primary.width, primary.height);
  }
  if ((codedWidth != 0 || codedHeight != 0) && !SizeWithinLimits(codedWidth, codedHeight)) {
    return RefusedSize("HEIF", codedWidth, codedHeight);
  }
  return primary;
}

}  // namespace

Codec Sniff(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFtypHeaderSize || FourCc(bytes, 4) != "ftyp") return Codec::kNone;
  const std::uint64_t boxSize = ReadBig(bytes, 0, 4);
  if (boxSize < kFtypHeaderSize) return Codec::kNone;
  const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(boxSize, bytes.size()));
  bool neutral = OneOf(FourCc(bytes, 8), kNeutralBrands);
  if (const Codec codec = CodecOfBrand(FourCc(bytes, 8)); codec != Codec::kNone) return codec;
  for (std::size_t at = kFtypHeaderSize; at + kBrandSize <= end; at += kBrandSize) {
    if (const Codec codec = CodecOfBrand(FourCc(bytes, at)); codec != Codec::kNone) return codec;
    neutral = neutral || OneOf(FourCc(bytes, at), kNeutralBrands);
  }
  return neutral ? Codec::kByPrimaryImage : Codec::kNone;
}

Codec PrimaryImageCodec(const ByteSource& source) {
  std::array<std::uint8_t, kLargeBoxHeaderSize> header{};
  for (std::uint64_t offset = 0; offset < source.Size();) {
    const std::uint64_t left = source.Size() - offset;
    const std::size_t available =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, header.size()));
    if (!source.ReadAt(offset, std::span(header).first(available))) return Codec::kNone;
    std::uint64_t size = ReadBig(header, 0, 4);
    std::size_t headerSize = kBoxHeaderSize;
    if (size == 1 && available >= kLargeBoxHeaderSize) {
      size = ReadBig(header, kBoxHeaderSize, 8);
      headerSize = kLargeBoxHeaderSize;
    } else if (size == 0) {
      size = left;
    }
    if (available < headerSize || size < headerSize || size > left) return Codec::kNone;
    if (FourCc(header, 4) == "meta") {
      if (size > kMaxMetaBoxBytes) return Codec::kNone;
      std::vector<std::uint8_t> meta(static_cast<std::size_t>(size - headerSize));
      if (!source.ReadAt(offset + headerSize, meta)) return Codec::kNone;
      return CodecInMeta(meta);
    }
    offset += size;
  }
  return Codec::kNone;
}

Result<std::pair<int, int>> ReadSize(const ByteSource& source) {
  if (source.Size() > kMaxImageFileBytes) return Refused(kFileTooLargeReason);
  SourceCursor cursor{&source};
  const heif_reader reader = SourceReaderFunctions();
  Result<Primary> primary = OpenPrimary([&](heif_context* context) {
    return heif_context_read_from_reader(context, &reader, &cursor, nullptr);
  });
  if (!primary) return primary.TakeFailure();
  return std::pair{primary->width, primary->height};
}

Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, bool storedOrientation,
                      PhotoMetadata* metadata) {
  if (bytes.size() > kMaxImageFileBytes) return Refused(kFileTooLargeReason);
  Result<Primary> primary = OpenPrimary([&](heif_context* context) {
    return heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr);
  });
  if (!primary) return primary.TakeFailure();
  const heif_image_handle* handle = primary->handle.get();
  const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  const heif_chroma chroma =
      deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
      heif_decoding_options_alloc());
  if (options == nullptr) return Refused(kOutOfMemory);
  options->ignore_transformations = storedOrientation ? 1 : 0;
  heif_image* decoded = nullptr;
  if (const heif_error error =
          heif_decode_image(handle, &decoded, heif_colorspace_RGB, chroma, options.get());
      error.code != heif_error_Ok) {
    return LibraryRefused(error);
  }
  const std::unique_ptr<const heif_image, ImageDeleter> image(decoded);
  const int bits = heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(decoded, heif_channel_interleaved);
  const int height = heif_image_get_height(decoded, heif_channel_interleaved);
  const int sampleBytes = bits > 8 ? 2 : 1;
  // The image decoded must be the one whose size was checked.
  const bool sizeAsTold =
      storedOrientation || (width == primary->width && height == primary->height);
  if (plane == nullptr || !sizeAsTold || bits < 8 || bits > 16 || (bits > 8) != deep ||
      stride < width * (alpha ? 4 : 3) * sampleBytes) {
    return Refused("HEIF: the decoded image is not the one its headers describe");
  }
  std::optional<Bitmap> bitmap = MakeBitmapToFill(width, height);
  if (!bitmap) return Refused(kOutOfMemory);
  CopyRows(plane, stride, bits, alpha, *bitmap);
  bitmap->grey = AllGrey(*bitmap);
  if (metadata != nullptr) ReadMetadata(handle, *metadata);
  return std::move(*bitmap);
}

}  // namespace imaging::heif
