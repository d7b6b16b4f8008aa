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
#include <unordered_map>
#include <vector>

#include "imaging/AlphaComposite.h"
#include "imaging/Av1Decoder.h"
#include "imaging/HeifLibrary.h"
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

// What the decoder allocates for an item is bounded from the boxes before it runs. A coded HEVC
// picture covers whole coding blocks, at most 64 a side, so its size may pass the item's by
// less than one.
constexpr std::uint64_t kMaxCodingBlockSide = 64;
// An 'iloc' box holds at most this many extents in all, and the coded items of a file at most
// this many NAL units or OBUs, configurations included (a still picture or tile is a handful:
// parameter sets, a few slices; a 100-megapixel grid has some 400 tiles). So the check's work
// stays in proportion to what the file decodes to, however its items share data.
constexpr std::size_t kMaxItemExtents = std::size_t{1} << 16;
constexpr std::uint64_t kMaxUnitsPerFile = std::uint64_t{1} << 16;
// The 'hvcC' property: lengthSizeMinusOne in the low two bits of the byte at 21, then the count
// of NAL unit arrays; each array is a type byte, a 16-bit count and units after 16-bit lengths.
constexpr std::size_t kHvccLengthSizeOffset = 21;
constexpr std::size_t kHvccArraysOffset = 22;
// The byte count of the length before each NAL unit as libheif hands them to libde265.
constexpr std::size_t kDecoderLengthSize = 4;
// An HEVC NAL unit starts with a two-byte header whose bits 1..6 are its type.
constexpr std::uint64_t kSequenceParameterSetType = 33;
constexpr std::size_t kNalHeaderBytes = 2;
constexpr int kNalHeaderBits = 16;
// A sequence parameter set's profile_tier_level: the general profile in 88 bits and its level in
// 8; a sub-layer's the same. Sub-layers are at most 8 (sps_max_sub_layers_minus1 in 3 bits).
constexpr int kProfileBits = 88;
constexpr int kLevelBits = 8;
constexpr int kMaxSubLayers = 8;
// chroma_format_idc of 4:4:4, which a separate_colour_plane_flag follows.
constexpr std::uint64_t kChroma444 = 3;
// The picture size lies within the first bytes of a sequence parameter set (under 140 even with
// every sub-layer described); an Exp-Golomb code has at most 31 leading zeros in 32 bits.
constexpr std::uint64_t kSequenceHeaderReadBytes = 256;
constexpr int kMaxExpGolombZeros = 31;
// An AV1 OBU starts with a byte whose bits 3..6 are its type, bit 2 flags an extension byte and
// bit 1 a size after it, in LEB128 of at most 8 bytes. 'av1C' holds 4 bytes before its OBUs.
constexpr std::uint64_t kSequenceHeaderObuType = 1;
constexpr std::size_t kMaxLeb128Bytes = 8;
constexpr std::size_t kAv1ConfigurationHeaderBytes = 4;
// The bytes of a grid's data before its output size (version, flags, rows − 1, columns − 1), and
// of an overlay's (version, flags, four 16-bit fill values).
constexpr std::size_t kGridHeaderBytes = 4;
constexpr std::size_t kOverlayHeaderBytes = 10;

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

// The content of the file's top-level 'meta' box, after its header; nothing when there is none,
// its header does not read, it is larger than kMaxMetaBoxBytes or the file has a second one (which
// of two libheif reads is not this reader's to guess). The boxes after the first 'meta' are looked
// through as far as their headers read.
std::optional<std::vector<std::uint8_t>> MetaContent(const ByteSource& source) {
  std::optional<std::vector<std::uint8_t>> found;
  std::array<std::uint8_t, kLargeBoxHeaderSize> header{};
  for (std::uint64_t offset = 0; offset < source.Size();) {
    const std::uint64_t left = source.Size() - offset;
    const std::size_t available =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, header.size()));
    if (!source.ReadAt(offset, std::span(header).first(available))) return found;
    std::uint64_t size = ReadBig(header, 0, 4);
    std::size_t headerSize = kBoxHeaderSize;
    if (size == 1 && available >= kLargeBoxHeaderSize) {
      size = ReadBig(header, kBoxHeaderSize, 8);
      headerSize = kLargeBoxHeaderSize;
    } else if (size == 0) {
      size = left;
    }
    if (available < headerSize || size < headerSize || size > left) return found;
    if (FourCc(header, 4) == "meta") {
      if (found || size > kMaxMetaBoxBytes) return std::nullopt;
      std::vector<std::uint8_t> meta(static_cast<std::size_t>(size - headerSize));
      if (!source.ReadAt(offset + headerSize, meta)) return std::nullopt;
      found = std::move(meta);
    }
    offset += size;
  }
  return found;
}

// Reads big-endian fields one after another inside [at, end), remembering when one ran past it.
class FieldReader {
 public:
  FieldReader(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t end)
      : bytes_(bytes.first(end)), at_(at) {}
  std::uint64_t Next(std::size_t count) {
    if (failed_ || bytes_.size() - at_ < count) {
      failed_ = true;
      return 0;
    }
    const std::uint64_t value = ReadBig(bytes_, at_, count);
    at_ += count;
    return value;
  }
  // The next `count` bytes, or nothing when they run past the end.
  std::span<const std::uint8_t> Take(std::size_t count) {
    if (failed_ || bytes_.size() - at_ < count) {
      failed_ = true;
      return {};
    }
    at_ += count;
    return bytes_.subspan(at_ - count, count);
  }
  bool Failed() const { return failed_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_;
  bool failed_ = false;
};

// Where an item's data lie: pieces of the file, or of the 'idat' box (construction method 1).
// An extent of length 0 runs to the end of the file or of the box.
struct ItemLocation {
  std::uint32_t id = 0;
  std::uint64_t constructionMethod = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;  // offset, length
};

// What the 'meta' box says of its items. `complete` is false when its item locations or property
// boxes do not read.
struct ItemLayout {
  std::optional<std::uint32_t> primary;
  std::vector<std::pair<std::uint32_t, std::string_view>> types;
  std::vector<ItemLocation> locations;
  std::span<const std::uint8_t> idat;
  std::vector<Box> properties;  // in 'ipco' order; 'ipma' counts them from 1
  std::vector<std::pair<std::uint32_t, std::vector<std::size_t>>> associations;
  // The items each derived image is made of ('dimg' references in 'iref'): from, to.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> derivedFrom;
  bool complete = true;
  // A box of which the 'meta' box may hold one, found twice: libheif reads the first, this reader
  // would read another, so what it checks is not what is decoded.
  std::optional<std::string_view> repeated;
};

// The boxes a 'meta' box holds at most one of, and the one an 'iprp' box holds.
constexpr std::array kSingleMetaBoxes = {"pitm"sv, "iinf"sv, "iloc"sv, "idat"sv, "iprp"sv};
constexpr std::string_view kPropertyContainer = "ipco";

// The entries of an 'iloc' box of version 0, 1 or 2; false when they do not read.
bool ReadLocations(std::span<const std::uint8_t> meta, const Box& box,
                   std::vector<ItemLocation>& locations) {
  FieldReader field(meta, box.content, box.end);
  const std::uint64_t version = field.Next(1);
  field.Next(3);
  const std::uint64_t sizes = field.Next(1);
  const std::uint64_t moreSizes = field.Next(1);
  const std::size_t offsetSize = sizes >> 4;
  const std::size_t lengthSize = sizes & 0xF;
  const std::size_t baseOffsetSize = moreSizes >> 4;
  const std::size_t indexSize = version >= 1 ? moreSizes & 0xF : 0;
  // Field sizes are 0, 4 or 8 bytes. libheif reads a field of any other size as absent and, in
  // version 1, leaves the extent index unread, so such a box would read differently here and
  // there: it is not taken, nor a version beyond 2.
  const auto takenSize = [](std::size_t size) { return size == 0 || size == 4 || size == 8; };
  if (version > 2 || !takenSize(offsetSize) || !takenSize(lengthSize) ||
      !takenSize(baseOffsetSize) || !takenSize(indexSize) || (version == 1 && indexSize != 0)) {
    return false;
  }
  const std::size_t idSize = version < 2 ? 2 : 4;
  const std::uint64_t count = field.Next(idSize);
  std::size_t extents = 0;
  for (std::uint64_t i = 0; i < count && !field.Failed(); ++i) {
    ItemLocation location;
    location.id = static_cast<std::uint32_t>(field.Next(idSize));
    if (version >= 1) location.constructionMethod = field.Next(2) & 0xF;
    // The data reference index: libheif reads this file whatever it says, and so does this reader.
    field.Next(2);
    const std::uint64_t base = field.Next(baseOffsetSize);
    const std::uint64_t extentCount = field.Next(2);
    for (std::uint64_t e = 0; e < extentCount && !field.Failed(); ++e) {
      if (++extents > kMaxItemExtents) return false;
      field.Next(indexSize);
      const std::uint64_t offset = field.Next(offsetSize);
      location.extents.emplace_back(base + offset, field.Next(lengthSize));
    }
    locations.push_back(std::move(location));
  }
  return !field.Failed();
}

// The entries of an 'ipma' box: each item's property indices, counted from 1.
bool ReadAssociations(std::span<const std::uint8_t> meta, const Box& box, ItemLayout& layout) {
  FieldReader field(meta, box.content, box.end);
  const std::uint64_t version = field.Next(1);
  const std::uint64_t flags = field.Next(3);
  const std::uint64_t count = field.Next(4);
  for (std::uint64_t i = 0; i < count && !field.Failed(); ++i) {
    const auto id = static_cast<std::uint32_t>(field.Next(version < 1 ? 2 : 4));
    const std::uint64_t associationCount = field.Next(1);
    std::vector<std::size_t> indices;
    for (std::uint64_t a = 0; a < associationCount && !field.Failed(); ++a) {
      // The essential bit, then the index in 7 or 15 bits.
      const bool wide = (flags & 1) != 0;
      const std::uint64_t entry = field.Next(wide ? 2 : 1);
      indices.push_back(static_cast<std::size_t>(entry & (wide ? 0x7FFF : 0x7F)));
    }
    layout.associations.emplace_back(id, std::move(indices));
  }
  return !field.Failed();
}

// The items of the content of a 'meta' box: the primary item, types, locations and properties.
ItemLayout ReadLayout(std::span<const std::uint8_t> meta) {
  ItemLayout layout;
  std::vector<std::string_view> seen;
  const auto once = [&](std::string_view type) {
    if (std::ranges::find(seen, type) != seen.end()) {
      if (!layout.repeated) layout.repeated = type;
    } else {
      seen.push_back(type);
    }
  };
  // The meta box is a full box: version and flags before its children.
  for (std::size_t offset = 4; offset < meta.size();) {
    const std::optional<Box> box = BoxAt(meta, offset);
    if (!box) break;
    offset = box->end;
    if (const auto single = std::ranges::find(kSingleMetaBoxes, box->type);
        single != kSingleMetaBoxes.end()) {
      once(*single);
    }
    if (box->type == "pitm" && box->end - box->content >= 6) {
      const std::size_t idBytes = meta[box->content] == 0 ? 2 : 4;
      if (box->end - box->content >= 4 + idBytes) {
        layout.primary = static_cast<std::uint32_t>(ReadBig(meta, box->content + 4, idBytes));
      }
    } else if (box->type == "iinf" && box->end - box->content >= 6) {
      const std::size_t countBytes = meta[box->content] == 0 ? 2 : 4;
      for (std::size_t at = box->content + 4 + countBytes; at < box->end;) {
        const std::optional<Box> entry = BoxAt(meta.first(box->end), at);
        if (!entry) break;
        at = entry->end;
        if (entry->type != "infe") continue;
        if (const auto info = ItemInfo(meta, *entry)) layout.types.push_back(*info);
      }
    } else if (box->type == "iloc") {
      layout.complete = ReadLocations(meta, *box, layout.locations) && layout.complete;
    } else if (box->type == "idat") {
      layout.idat = meta.subspan(box->content, box->end - box->content);
    } else if (box->type == "iref") {
      // A full box; each reference a box of its type: from, a 16-bit count, the items it names
      // (ids of 16 bits in version 0, 32 in version 1).
      FieldReader field(meta, box->content, box->end);
      const std::size_t idSize = field.Next(1) == 0 ? 2 : 4;
      field.Next(3);
      for (std::size_t at = box->content + 4; at < box->end && !field.Failed();) {
        const std::optional<Box> reference = BoxAt(meta.first(box->end), at);
        if (!reference) {
          layout.complete = false;
          break;
        }
        at = reference->end;
        if (reference->type != "dimg") continue;
        FieldReader entry(meta, reference->content, reference->end);
        const auto from = static_cast<std::uint32_t>(entry.Next(idSize));
        const std::uint64_t count = entry.Next(2);
        for (std::uint64_t i = 0; i < count && !entry.Failed(); ++i) {
          layout.derivedFrom.emplace_back(from, static_cast<std::uint32_t>(entry.Next(idSize)));
        }
        if (entry.Failed()) layout.complete = false;
      }
    } else if (box->type == "iprp") {
      for (std::size_t at = box->content; at < box->end;) {
        const std::optional<Box> child = BoxAt(meta.first(box->end), at);
        if (!child) {
          layout.complete = false;
          break;
        }
        at = child->end;
        if (child->type == kPropertyContainer) once(kPropertyContainer);
        if (child->type == "ipma") {
          layout.complete = ReadAssociations(meta, *child, layout) && layout.complete;
        } else if (child->type == "ipco") {
          for (std::size_t inner = child->content; inner < child->end;) {
            const std::optional<Box> property = BoxAt(meta.first(child->end), inner);
            if (!property) {
              layout.complete = false;
              break;
            }
            inner = property->end;
            layout.properties.push_back(*property);
          }
        }
      }
    }
  }
  return layout;
}

// The type of the item `id` ("hvc1", "grid"); nothing when no 'infe' describes it.
std::optional<std::string_view> ItemType(const ItemLayout& layout, std::uint32_t id) {
  const auto item =
      std::ranges::find_if(layout.types, [id](const auto& type) { return type.first == id; });
  if (item == layout.types.end()) return std::nullopt;
  return item->second;
}

// The codec of the primary item among the content of a 'meta' box.
Codec CodecInMeta(std::span<const std::uint8_t> meta) {
  const ItemLayout layout = ReadLayout(meta);
  if (!layout.primary) return Codec::kNone;
  const std::optional<std::string_view> primaryType = ItemType(layout, *layout.primary);
  if (!primaryType) return Codec::kNone;
  if (const Codec codec = CodecOfItem(*primaryType); codec != Codec::kNone) return codec;
  // A grid, an overlay or an identity-derived image: the images it is made of are coded items of
  // the same file.
  if (!OneOf(*primaryType, kDerivedItems)) return Codec::kNone;
  for (const auto& item : layout.types) {
    if (const Codec codec = CodecOfItem(item.second); codec != Codec::kNone) return codec;
  }
  return Codec::kNone;
}

// libheif is loaded and set up once for the process (its plugins, if any, are loaded then, and the
// AV1 decoder that keeps to the calling thread is added) and never shut down, so no decode waits on
// its set-up lock afterwards.
const Result<const Library*>& ReadyLibrary() {
  static const Result<const Library*> ready = []() -> Result<const Library*> {
    const Result<Library>& loaded = LoadedLibrary();
    if (!loaded) return Refused(loaded.Reason());
    const Library& heif = *loaded;
    if (heif.init(nullptr).code != heif_error_Ok ||
        heif.register_decoder_plugin(&OneThreadAv1Decoder()).code != heif_error_Ok) {
      return Refused("HEIF: the library could not be set up");
    }
    return &heif;
  }();
  return ready;
}

// The library's functions, for code that runs on what a ready library gave.
const Library& Heif() { return **ReadyLibrary(); }

struct ContextDeleter {
  void operator()(heif_context* context) const { Heif().context_free(context); }
};
struct HandleDeleter {
  void operator()(const heif_image_handle* handle) const { Heif().image_handle_release(handle); }
};
struct ImageDeleter {
  void operator()(const heif_image* image) const { Heif().image_release(image); }
};
struct OptionsDeleter {
  void operator()(heif_decoding_options* options) const { Heif().decoding_options_free(options); }
};
using HandlePointer = std::unique_ptr<const heif_image_handle, HandleDeleter>;

// The metadata items of the image: the first EXIF item (from its TIFF header on), the first XMP
// packet and the ICC profile.
void ReadMetadata(const heif_image_handle* handle, PhotoMetadata& metadata) {
  // The size an item claims is checked before anything is allocated for it.
  const auto block = [&](heif_item_id id) {
    std::vector<std::uint8_t> data;
    const std::size_t size = Heif().image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > kMaxMetadataItemBytes) return data;
    data.resize(size);
    if (Heif().image_handle_get_metadata(handle, id, data.data()).code != heif_error_Ok) {
      data.clear();
    }
    return data;
  };
  heif_item_id id = 0;
  if (Heif().image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
    const std::vector<std::uint8_t> exif = block(id);
    if (exif.size() >= kExifOffsetSize) {
      const std::uint64_t start = kExifOffsetSize + ReadBig(exif, 0, kExifOffsetSize);
      if (start < exif.size())
        metadata.exif.assign(exif.begin() + static_cast<long>(start), exif.end());
    }
  }
  const int count = Heif().image_handle_get_number_of_metadata_blocks(handle, "mime");
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
  const int listed = Heif().image_handle_get_list_of_metadata_block_IDs(
      handle, "mime", ids.data(), static_cast<int>(ids.size()));
  for (int i = 0; i < listed; ++i) {
    const char* type =
        Heif().image_handle_get_metadata_content_type(handle, ids[static_cast<std::size_t>(i)]);
    if (type != nullptr && kXmpContentType == type) {
      metadata.xmp = block(ids[static_cast<std::size_t>(i)]);
      break;
    }
  }
  // An nclx box describes colour by numbers; only an embedded profile travels.
  const std::size_t profileBytes = Heif().image_handle_get_raw_color_profile_size(handle);
  if (profileBytes > 0 && profileBytes <= kMaxProfileBytes) {
    metadata.icc.resize(profileBytes);
    if (Heif().image_handle_get_raw_color_profile(handle, metadata.icc.data()).code !=
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

// The bytes of an item's data, read across its extents from the file or the 'idat' box, each
// clipped to what is there (an extent of length 0 runs to the end).
class ItemData {
 public:
  ItemData(const ByteSource& source, const ItemLayout& layout, const ItemLocation& location)
      : source_(source), layout_(layout), location_(location) {
    const std::uint64_t whole =
        location.constructionMethod == 1 ? layout.idat.size() : source.Size();
    for (const auto& [start, length] : location.extents) {
      if (start >= whole) continue;
      const std::uint64_t clipped = length == 0 ? whole - start : std::min(length, whole - start);
      size_ += clipped;
      pieces_.push_back({size_, start, clipped});
    }
  }

  // The item's data are in a way this reader knows: file offsets or 'idat'.
  bool Readable() const { return location_.constructionMethod <= 1; }

  std::uint64_t Size() const { return size_; }

  // Copies out.size() bytes from `offset` on; false when they are not all there.
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    auto piece = std::ranges::upper_bound(pieces_, offset, {}, &Piece::end);
    for (; !out.empty() && piece != pieces_.end(); ++piece) {
      const std::uint64_t within = offset - (piece->end - piece->length);
      const auto count =
          static_cast<std::size_t>(std::min<std::uint64_t>(piece->length - within, out.size()));
      if (!ReadWhole(piece->start + within, out.first(count))) return false;
      out = out.subspan(count);
      offset += count;
    }
    return out.empty();
  }

 private:
  // An extent as clipped: where it ends in the item's data, where it starts in the file or box.
  struct Piece {
    std::uint64_t end;
    std::uint64_t start;
    std::uint64_t length;
  };

  bool ReadWhole(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (location_.constructionMethod == 0) return source_.ReadAt(offset, out);
    std::copy_n(layout_.idat.begin() + static_cast<std::ptrdiff_t>(offset), out.size(),
                out.begin());
    return true;
  }

  const ByteSource& source_;
  const ItemLayout& layout_;
  const ItemLocation& location_;
  std::vector<Piece> pieces_;
  std::uint64_t size_ = 0;
};

// Reads the bits of a NAL unit's payload (its emulation-prevention bytes removed), most
// significant first, remembering when a read ran past the end.
class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Bits(int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (position_ >= bytes_.size() * 8) {
        failed_ = true;
        return 0;
      }
      value = (value << 1) | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1U);
      ++position_;
    }
    return value;
  }
  // An unsigned Exp-Golomb code, ue(v).
  std::uint64_t ExpGolomb() {
    int zeros = 0;
    while (!failed_ && Bits(1) == 0) {
      if (++zeros > kMaxExpGolombZeros) failed_ = true;
    }
    return failed_ ? 0 : (std::uint64_t{1} << zeros) - 1 + Bits(zeros);
  }
  bool Failed() const { return failed_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

// The payload of a NAL unit: every 0x03 that follows two zero bytes (emulation prevention) taken
// out.
std::vector<std::uint8_t> Payload(std::span<const std::uint8_t> unit) {
  std::vector<std::uint8_t> payload;
  payload.reserve(unit.size());
  int zeros = 0;
  for (const std::uint8_t byte : unit) {
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    payload.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return payload;
}

using PictureSize = std::pair<std::uint64_t, std::uint64_t>;

// The coded picture size of an HEVC sequence parameter set (its NAL unit, header included):
// pic_width_in_luma_samples and pic_height_in_luma_samples; nothing when the unit ends first.
std::optional<PictureSize> SequencePictureSize(std::span<const std::uint8_t> unit) {
  const std::vector<std::uint8_t> payload = Payload(unit);
  BitReader bits(payload);
  bits.Bits(kNalHeaderBits);
  bits.Bits(4);  // sps_video_parameter_set_id
  const auto maxSubLayersMinus1 = static_cast<int>(bits.Bits(3));
  bits.Bits(1);  // sps_temporal_id_nesting_flag
  // profile_tier_level: the general profile and level, then which sub-layers carry their own.
  bits.Bits(kProfileBits + kLevelBits);
  std::array<bool, kMaxSubLayers> profilePresent{};
  std::array<bool, kMaxSubLayers> levelPresent{};
  for (int i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[static_cast<std::size_t>(i)] = bits.Bits(1) != 0;
    levelPresent[static_cast<std::size_t>(i)] = bits.Bits(1) != 0;
  }
  if (maxSubLayersMinus1 > 0) bits.Bits(2 * (kMaxSubLayers - maxSubLayersMinus1));
  for (int i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[static_cast<std::size_t>(i)]) bits.Bits(kProfileBits);
    if (levelPresent[static_cast<std::size_t>(i)]) bits.Bits(kLevelBits);
  }
  bits.ExpGolomb();  // sps_seq_parameter_set_id
  if (bits.ExpGolomb() == kChroma444) bits.Bits(1);  // separate_colour_plane_flag
  const std::uint64_t width = bits.ExpGolomb();
  const std::uint64_t height = bits.ExpGolomb();
  if (bits.Failed()) return std::nullopt;
  return PictureSize{width, height};
}

std::uint64_t RoundedUp(std::uint64_t value, std::uint64_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

// The refusal of a picture of `size` that an item's data claim (`what`: "coded stream", "grid"),
// when it is beyond the limits or beyond `bound`, the item's own size padded to whole blocks.
// The bound holds either way round: libheif's encoder gives a turned image's size turned (a
// 23 × 31 grid turned a quarter says 31 × 23), which costs the same.
std::optional<Failure> PictureBeyond(const PictureSize& size,
                                     const std::optional<PictureSize>& bound, const char* what) {
  constexpr std::uint64_t kLargestSide = std::uint64_t{1} << 32;
  const bool withinLimits = size.first < kLargestSide && size.second < kLargestSide &&
                            SizeWithinLimits(static_cast<std::int64_t>(size.first),
                                             static_cast<std::int64_t>(size.second));
  const auto fits = [&](std::uint64_t width, std::uint64_t height) {
    return size.first <= width && size.second <= height;
  };
  if (withinLimits &&
      (!bound || fits(bound->first, bound->second) || fits(bound->second, bound->first))) {
    return std::nullopt;
  }
  return Refused("HEIF: its " + std::string(what) + " claims " + std::to_string(size.first) +
                 " x " + std::to_string(size.second) + " pixels, beyond the size limits");
}

// The properties of `type` an item is associated with, from its property indices.
std::vector<Box> ItemProperties(const ItemLayout& layout, const std::vector<std::size_t>& indices,
                                std::string_view type) {
  std::vector<Box> properties;
  for (const std::size_t index : indices) {
    if (index == 0 || index > layout.properties.size()) continue;
    const Box& property = layout.properties[index - 1];
    if (property.type == type) properties.push_back(property);
  }
  return properties;
}

// The size an item's 'ispe' property gives (full-box header, then the width and the height in 32
// bits each), if it has one.
std::optional<PictureSize> ItemSize(const ItemLayout& layout, std::span<const std::uint8_t> meta,
                                    const std::vector<std::size_t>& indices) {
  for (const Box& property : ItemProperties(layout, indices, "ispe")) {
    if (property.end - property.content >= 12) {
      return PictureSize{ReadBig(meta, property.content + 4, 4),
                         ReadBig(meta, property.content + 8, 4)};
    }
  }
  return std::nullopt;
}

// Counts a NAL unit or OBU against kMaxUnitsPerFile; the refusal once they are too many.
std::optional<Failure> CountUnit(std::uint64_t& units) {
  if (++units <= kMaxUnitsPerFile) return std::nullopt;
  return Refused("HEIF: its images' coded data are split into more than " +
                 std::to_string(kMaxUnitsPerFile) + " units");
}

// Checks the sequence parameter sets of an 'hvcC' property (its arrays of NAL units) and adds
// the byte count it gives for the length before each NAL unit of the item's data.
std::optional<Failure> CheckConfiguration(std::span<const std::uint8_t> meta, const Box& box,
                                          const std::optional<PictureSize>& bound,
                                          std::vector<std::size_t>& lengthSizes,
                                          std::uint64_t& units) {
  const std::span<const std::uint8_t> content = meta.subspan(box.content, box.end - box.content);
  const Failure damaged = Refused("HEIF: its decoder configuration does not read");
  if (content.size() < kHvccArraysOffset + 1) return damaged;
  const std::size_t lengthSize = (content[kHvccLengthSizeOffset] & 3U) + 1U;
  if (std::ranges::find(lengthSizes, lengthSize) == lengthSizes.end()) {
    lengthSizes.push_back(lengthSize);
  }
  FieldReader field(content, kHvccArraysOffset, content.size());
  const std::uint64_t arrays = field.Next(1);
  for (std::uint64_t a = 0; a < arrays && !field.Failed(); ++a) {
    const std::uint64_t type = field.Next(1) & 0x3F;
    const std::uint64_t count = field.Next(2);
    for (std::uint64_t u = 0; u < count && !field.Failed(); ++u) {
      const std::span<const std::uint8_t> unit =
          field.Take(static_cast<std::size_t>(field.Next(2)));
      if (field.Failed()) break;
      if (auto failure = CountUnit(units)) return failure;
      if (type != kSequenceParameterSetType) continue;
      const std::optional<PictureSize> size = SequencePictureSize(unit);
      if (!size) return Refused("HEIF: a sequence parameter set ends before its picture size");
      if (auto failure = PictureBeyond(*size, bound, "coded stream")) return failure;
    }
  }
  if (field.Failed()) return damaged;
  return std::nullopt;
}

// Checks the sequence parameter sets carried in an HEVC item's data, NAL units each after a
// big-endian length of `lengthSize` bytes. A length past the data's end ends the walk: the decoder
// stops there too.
std::optional<Failure> CheckInBandUnits(const ItemData& data, std::size_t lengthSize,
                                        const std::optional<PictureSize>& bound,
                                        std::uint64_t& units) {
  const std::uint64_t size = data.Size();
  std::array<std::uint8_t, 4> prefix{};
  for (std::uint64_t at = 0; size - at >= lengthSize + kNalHeaderBytes;) {
    if (!data.ReadAt(at, std::span(prefix).first(lengthSize))) break;
    const std::uint64_t length = ReadBig(prefix, 0, lengthSize);
    at += lengthSize;
    if (length > size - at) break;
    if (auto failure = CountUnit(units)) return failure;
    std::array<std::uint8_t, 1> first{};
    if (length > 0 && data.ReadAt(at, first) &&
        ((first[0] >> 1) & 0x3F) == kSequenceParameterSetType) {
      std::vector<std::uint8_t> unit(
          static_cast<std::size_t>(std::min<std::uint64_t>(length, kSequenceHeaderReadBytes)));
      if (!data.ReadAt(at, unit)) break;
      const std::optional<PictureSize> picture = SequencePictureSize(unit);
      if (!picture) return Refused("HEIF: a sequence parameter set ends before its picture size");
      if (auto failure = PictureBeyond(*picture, bound, "coded stream")) return failure;
    }
    at += length;
  }
  return std::nullopt;
}

// The largest frame an AV1 sequence header OBU (its payload) allows: max_frame_width_minus_1 + 1
// and max_frame_height_minus_1 + 1, after the timing, decoder model and operating point fields;
// nothing when the header ends first.
std::optional<PictureSize> SequenceHeaderFrameSize(std::span<const std::uint8_t> payload) {
  BitReader bits(payload);
  bits.Bits(3 + 1);  // seq_profile, still_picture
  if (bits.Bits(1) != 0) {  // reduced_still_picture_header
    bits.Bits(5);  // seq_level_idx
  } else {
    bool decoderModel = false;
    int bufferDelayBits = 0;
    if (bits.Bits(1) != 0) {  // timing_info_present_flag
      bits.Bits(32 + 32);  // num_units_in_display_tick, time_scale
      if (bits.Bits(1) != 0) bits.ExpGolomb();  // num_ticks_per_picture_minus_1, uvlc()
      decoderModel = bits.Bits(1) != 0;
      if (decoderModel) {
        bufferDelayBits = static_cast<int>(bits.Bits(5)) + 1;
        bits.Bits(32 + 5 + 5);  // num_units_in_decoding_tick, two lengths
      }
    }
    const bool displayDelay = bits.Bits(1) != 0;
    const std::uint64_t operatingPoints = bits.Bits(5) + 1;
    for (std::uint64_t i = 0; i < operatingPoints && !bits.Failed(); ++i) {
      bits.Bits(12);                        // operating_point_idc
      if (bits.Bits(5) > 7) bits.Bits(1);  // seq_level_idx, seq_tier
      if (decoderModel && bits.Bits(1) != 0) bits.Bits(2 * bufferDelayBits + 1);
      if (displayDelay && bits.Bits(1) != 0) bits.Bits(4);
    }
  }
  const int widthBits = static_cast<int>(bits.Bits(4)) + 1;
  const int heightBits = static_cast<int>(bits.Bits(4)) + 1;
  const std::uint64_t width = bits.Bits(widthBits) + 1;
  const std::uint64_t height = bits.Bits(heightBits) + 1;
  if (bits.Failed()) return std::nullopt;
  return PictureSize{width, height};
}

// Bytes in memory, read as an item's data are.
struct MemoryData {
  std::span<const std::uint8_t> bytes;
  std::uint64_t Size() const { return bytes.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > bytes.size() || out.size() > bytes.size() - offset) return false;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }
};

// Checks the sequence headers among AV1 OBUs (an 'av1C' property's or an item's data). An OBU
// past the data's end ends the walk: the decoder stops there too.
template <typename Data>
std::optional<Failure> CheckObus(const Data& data, const std::optional<PictureSize>& bound,
                                 std::uint64_t& units) {
  const std::uint64_t size = data.Size();
  for (std::uint64_t at = 0; at < size;) {
    std::array<std::uint8_t, 2 + kMaxLeb128Bytes> header{};
    const std::size_t available =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - at, header.size()));
    if (!data.ReadAt(at, std::span(header).first(available))) break;
    std::size_t used = (header[0] & 4U) != 0 ? 2 : 1;
    std::optional<std::uint64_t> length;
    if ((header[0] & 2U) == 0) {
      if (used <= size - at) length = size - at - used;
    } else {
      std::uint64_t value = 0;
      for (std::size_t i = 0; i < kMaxLeb128Bytes && used < available; ++i) {
        const std::uint8_t byte = header[used++];
        value |= std::uint64_t{byte & 0x7FU} << (7 * i);
        if ((byte & 0x80U) == 0) {
          length = value;
          break;
        }
      }
    }
    if (!length || *length > size - at - used) break;
    if (auto failure = CountUnit(units)) return failure;
    if (((header[0] >> 3) & 0xFU) == kSequenceHeaderObuType) {
      std::vector<std::uint8_t> payload(
          static_cast<std::size_t>(std::min<std::uint64_t>(*length, kSequenceHeaderReadBytes)));
      if (!data.ReadAt(at + used, payload)) break;
      const std::optional<PictureSize> frame = SequenceHeaderFrameSize(payload);
      if (!frame) return Refused("HEIF: a sequence header ends before its frame size");
      if (auto failure = PictureBeyond(*frame, bound, "coded stream")) return failure;
    }
    at += used + *length;
  }
  return std::nullopt;
}

// The output size in the data of a grid ('grid': version, flags, rows and columns − 1) or an
// overlay ('iovl': version, flags, four 16-bit fill values), in 16 bits each or, when the flags'
// lowest bit is set, 32; nothing when the data are too short.
std::optional<PictureSize> DerivedCanvas(const ItemData& data, std::string_view type) {
  const std::size_t before = type == "grid" ? kGridHeaderBytes : kOverlayHeaderBytes;
  std::array<std::uint8_t, kOverlayHeaderBytes + 8> header{};
  if (!data.ReadAt(0, std::span(header).first(2))) return std::nullopt;
  const std::size_t fieldBytes = (header[1] & 1U) != 0 ? 4 : 2;
  const std::span<std::uint8_t> fields = std::span(header).first(before + 2 * fieldBytes);
  if (!data.ReadAt(0, fields)) return std::nullopt;
  return PictureSize{ReadBig(fields, before, fieldBytes),
                     ReadBig(fields, before + fieldBytes, fieldBytes)};
}

// Refuses a file whose items would make the decoder allocate a picture larger than their sizes
// ('ispe') say, found from the boxes before anything is decoded: the picture size of every
// sequence parameter set an HEVC item is decoded with, those of its 'hvcC' property and those in
// its data, and the largest frame of every AV1 sequence header, in its 'av1C' property or its
// data (beyond its size padded to whole coding blocks, kMaxCodingBlockSide), and the canvas of
// every grid and overlay (beyond its size). An item without a size of its own is held to the
// primary image's. The limits hold for all of them.
std::optional<Failure> CheckCodedSizes(const ByteSource& source) {
  const std::optional<std::vector<std::uint8_t>> meta = MetaContent(source);
  const Failure unread = Refused("HEIF: its item boxes do not read");
  if (!meta) return unread;
  const ItemLayout layout = ReadLayout(*meta);
  if (!layout.complete) return unread;
  if (layout.repeated) {
    return Refused("HEIF: its 'meta' box holds more than one '" + std::string(*layout.repeated) +
                   "'");
  }
  // A derived image is made of images: libheif stops the process on one that names an item that
  // is none (an assertion kept in its release builds).
  for (const auto& reference : layout.derivedFrom) {
    const std::optional<std::string_view> type = ItemType(layout, reference.second);
    if (!type || (CodecOfItem(*type) == Codec::kNone && !OneOf(*type, kDerivedItems))) {
      return Refused("HEIF: a derived image is made of an item that is no image");
    }
  }
  // Each item's property indices and locations, looked up once.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> propertiesOf;
  for (const auto& [item, indices] : layout.associations) {
    auto& all = propertiesOf[item];
    all.insert(all.end(), indices.begin(), indices.end());
  }
  std::unordered_map<std::uint32_t, std::vector<const ItemLocation*>> locationsOf;
  for (const ItemLocation& location : layout.locations) {
    locationsOf[location.id].push_back(&location);
  }
  const std::vector<std::size_t> none;
  const auto indicesOf = [&](std::uint32_t id) -> const std::vector<std::size_t>& {
    const auto found = propertiesOf.find(id);
    return found != propertiesOf.end() ? found->second : none;
  };
  const std::optional<PictureSize> primarySize =
      layout.primary ? ItemSize(layout, *meta, indicesOf(*layout.primary)) : std::nullopt;
  std::uint64_t units = 0;
  for (const auto& item : layout.types) {
    const std::uint32_t id = item.first;
    const std::string_view type = item.second;
    const bool hevc = type == kHevcItem;
    const bool av1 = type == kAv1Item;
    const bool coded = hevc || av1;
    const bool derived = type == "grid" || type == "iovl";
    if (!coded && !derived) continue;
    const std::vector<std::size_t>& indices = indicesOf(id);
    std::optional<PictureSize> bound = ItemSize(layout, *meta, indices);
    if (!bound) bound = primarySize;
    if (coded && bound) {
      bound = PictureSize{RoundedUp(bound->first, kMaxCodingBlockSide),
                          RoundedUp(bound->second, kMaxCodingBlockSide)};
    }
    // libheif hands the item's data to libde265 with 4-byte lengths whatever 'hvcC' says; the
    // walk is made with every length either could use.
    std::vector<std::size_t> lengthSizes = {kDecoderLengthSize};
    for (const Box& configuration : ItemProperties(layout, indices, hevc ? "hvcC" : "av1C")) {
      if (hevc) {
        if (auto failure = CheckConfiguration(*meta, configuration, bound, lengthSizes, units)) {
          return failure;
        }
      } else if (av1) {
        if (configuration.end - configuration.content < kAv1ConfigurationHeaderBytes) {
          return Refused("HEIF: its decoder configuration does not read");
        }
        const MemoryData obus{std::span(*meta).subspan(
            configuration.content + kAv1ConfigurationHeaderBytes,
            configuration.end - configuration.content - kAv1ConfigurationHeaderBytes)};
        if (auto failure = CheckObus(obus, bound, units)) return failure;
      }
    }
    const auto locations = locationsOf.find(id);
    if (locations == locationsOf.end()) continue;
    for (const ItemLocation* location : locations->second) {
      const ItemData data(source, layout, *location);
      if (!data.Readable()) continue;
      if (hevc) {
        for (const std::size_t lengthSize : lengthSizes) {
          if (auto failure = CheckInBandUnits(data, lengthSize, bound, units)) return failure;
        }
      } else if (av1) {
        if (auto failure = CheckObus(data, bound, units)) return failure;
      } else if (derived) {
        // Data this reader cannot find where the boxes put them are refused: libheif may still
        // find a canvas there (it has read an 'idat' past its base offset), which would go
        // unchecked.
        const auto canvas = DerivedCanvas(data, type);
        if (!canvas) return Refused("HEIF: the data of its derived image do not read");
        if (auto failure = PictureBeyond(*canvas, bound, type == "grid" ? "grid" : "overlay")) {
          return failure;
        }
      }
    }
  }
  return std::nullopt;
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
Result<Primary> OpenPrimary(const ByteSource& source, Read&& read) {
  if (const Result<const Library*>& ready = ReadyLibrary(); !ready) return Refused(ready.Reason());
  Primary primary;
  primary.context.reset(Heif().context_alloc());
  if (primary.context == nullptr) return Refused(kOutOfMemory);
  Heif().context_set_maximum_image_size_limit(primary.context.get(), kLibraryMaxSide);
  // Tiles are decoded on the calling thread: a batch already runs one decode per core.
  Heif().context_set_max_decoding_threads(primary.context.get(), 0);
  if (const heif_error error = read(primary.context.get()); error.code != heif_error_Ok) {
    return LibraryRefused(error);
  }
  heif_image_handle* handle = nullptr;
  if (const heif_error error =
          Heif().context_get_primary_image_handle(primary.context.get(), &handle);
      error.code != heif_error_Ok) {
    return LibraryRefused(error);
  }
  primary.handle.reset(handle);
  primary.width = Heif().image_handle_get_width(handle);
  primary.height = Heif().image_handle_get_height(handle);
  const int codedWidth = Heif().image_handle_get_ispe_width(handle);
  const int codedHeight = Heif().image_handle_get_ispe_height(handle);
  if (!SizeWithinLimits(primary.width, primary.height)) {
    return RefusedSize("HEIF", primary.width, primary.height);
  }
  if ((codedWidth != 0 || codedHeight != 0) && !SizeWithinLimits(codedWidth, codedHeight)) {
    return RefusedSize("HEIF", codedWidth, codedHeight);
  }
  if (std::optional<Failure> failure = CheckCodedSizes(source)) return std::move(*failure);
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
  const std::optional<std::vector<std::uint8_t>> meta = MetaContent(source);
  return meta ? CodecInMeta(*meta) : Codec::kNone;
}

Result<std::pair<int, int>> ReadSize(const ByteSource& source) {
  if (source.Size() > kMaxImageFileBytes) return Refused(kFileTooLargeReason);
  SourceCursor cursor{&source};
  const heif_reader reader = SourceReaderFunctions();
  Result<Primary> primary = OpenPrimary(source, [&](heif_context* context) {
    return Heif().context_read_from_reader(context, &reader, &cursor, nullptr);
  });
  if (!primary) return primary.TakeFailure();
  return std::pair{primary->width, primary->height};
}

Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, bool storedOrientation,
                      PhotoMetadata* metadata) {
  if (bytes.size() > kMaxImageFileBytes) return Refused(kFileTooLargeReason);
  const MemorySource source(bytes);
  Result<Primary> primary = OpenPrimary(source, [&](heif_context* context) {
    return Heif().context_read_from_memory_without_copy(context, bytes.data(), bytes.size(),
                                                        nullptr);
  });
  if (!primary) return primary.TakeFailure();
  const heif_image_handle* handle = primary->handle.get();
  const bool deep = Heif().image_handle_get_luma_bits_per_pixel(handle) > 8;
  const bool alpha = Heif().image_handle_has_alpha_channel(handle) != 0;
  const heif_chroma chroma =
      deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
      Heif().decoding_options_alloc());
  if (options == nullptr) return Refused(kOutOfMemory);
  options->ignore_transformations = storedOrientation ? 1 : 0;
  heif_image* decoded = nullptr;
  if (const heif_error error =
          Heif().decode_image(handle, &decoded, heif_colorspace_RGB, chroma, options.get());
      error.code != heif_error_Ok) {
    return LibraryRefused(error);
  }
  const std::unique_ptr<const heif_image, ImageDeleter> image(decoded);
  const int bits = Heif().image_get_bits_per_pixel_range(decoded, heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane =
      Heif().image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  const int width = Heif().image_get_width(decoded, heif_channel_interleaved);
  const int height = Heif().image_get_height(decoded, heif_channel_interleaved);
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
