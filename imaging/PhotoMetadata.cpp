// EXIF, XMP and ICC profiles: read from the segments a JPEG carries them in, checked, and
// rewritten for an output.
//
// EXIF is a small TIFF structure: a header giving the byte order and the offset of the first
// directory (IFD0); each directory is a count, that many 12-byte entries (tag, type, count, and the
// value itself when it fits 4 bytes, else its offset) and the offset of the next directory. IFD0
// points at the EXIF and GPS directories, the EXIF directory at the interoperability one; the
// directory after IFD0 (IFD1) describes the embedded thumbnail. Offsets count from the header.
// Every one of them is checked against the bytes that are there, directories already seen are not
// read again (so directories that point at each other cannot loop), and at most
// kMaxDirectories are read.
#include "imaging/PhotoMetadata.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <utility>

namespace imaging {
namespace {

constexpr std::array<std::uint8_t, 6> kExifPrefix = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::string_view kXmpPrefix{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccPrefix{"ICC_PROFILE\0", 12};
// After the ICC prefix: the chunk's number (from 1) and the number of chunks.
constexpr std::size_t kIccChunkHeaderBytes = kIccPrefix.size() + 2;
constexpr std::size_t kIccChunkBytes = kMaxSegmentBytes - kIccChunkHeaderBytes;

constexpr std::size_t kTiffHeaderBytes = 8;
constexpr std::size_t kEntryBytes = 12;
constexpr int kMaxDirectories = 16;

constexpr std::uint16_t kTagImageWidth = 0x0100;
constexpr std::uint16_t kTagImageHeight = 0x0101;
constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagExifDirectory = 0x8769;
constexpr std::uint16_t kTagGpsDirectory = 0x8825;
constexpr std::uint16_t kTagInteropDirectory = 0xA005;
constexpr std::uint16_t kTagPixelXDimension = 0xA002;
constexpr std::uint16_t kTagPixelYDimension = 0xA003;
constexpr std::uint16_t kTagThumbnailOffset = 0x0201;
constexpr std::uint16_t kTagThumbnailLength = 0x0202;

constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

constexpr std::size_t kIccHeaderBytes = 128;
constexpr std::size_t kIccSpaceOffset = 16;
constexpr std::size_t kIccSignatureOffset = 36;

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// Bytes of one value of each TIFF type (0 for unknown types, whose values are never read).
std::uint64_t TypeBytes(std::uint16_t type) {
  static constexpr std::array<std::uint8_t, 14> kBytes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < kBytes.size() ? kBytes[type] : 0;
}

// A half-open byte range of the EXIF data.
struct Range {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

struct Entry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  std::size_t position = 0;      // of the entry itself
  std::uint64_t valueAt = 0;     // where the value is: inside the entry, or at its offset
  std::uint64_t valueBytes = 0;  // type size × count, in 64 bits so a count of 4 billion fits
  bool valueInside = false;      // the value fits the entry's last 4 bytes
  bool valueReadable = false;    // the value lies within the data
};

// The TIFF structure with bounds-checked reads.
class Tiff {
 public:
  // Nothing when the header is not a TIFF header.
  static std::optional<Tiff> Open(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kTiffHeaderBytes) return std::nullopt;
    Tiff tiff(bytes);
    if (bytes[0] == 'I' && bytes[1] == 'I') {
      tiff.littleEndian_ = true;
    } else if (!(bytes[0] == 'M' && bytes[1] == 'M')) {
      return std::nullopt;
    }
    if (tiff.U16(2) != 42) return std::nullopt;
    return tiff;
  }

  std::uint16_t U16(std::uint64_t at) const {
    if (at + 2 > bytes_.size()) return 0;
    const std::uint8_t* p = bytes_.data() + at;
    return static_cast<std::uint16_t>(littleEndian_ ? p[0] | (p[1] << 8) : (p[0] << 8) | p[1]);
  }
  std::uint32_t U32(std::uint64_t at) const {
    if (at + 4 > bytes_.size()) return 0;
    const std::uint32_t high = U16(littleEndian_ ? at + 2 : at);
    const std::uint32_t low = U16(littleEndian_ ? at : at + 2);
    return (high << 16) | low;
  }
  std::uint64_t Size() const { return bytes_.size(); }

  // The directory's entries and the offset of the next one; nothing when its table does not lie
  // within the data.
  std::optional<std::pair<std::vector<Entry>, std::uint32_t>> Directory(std::uint64_t at) const {
    if (at < kTiffHeaderBytes || at + 2 > Size()) return std::nullopt;
    const std::uint64_t count = U16(at);
    const std::uint64_t end = at + 2 + count * kEntryBytes + 4;
    if (end > Size()) return std::nullopt;
    std::vector<Entry> entries;
    entries.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
      Entry entry;
      entry.position = static_cast<std::size_t>(at + 2 + i * kEntryBytes);
      entry.tag = U16(entry.position);
      entry.type = U16(entry.position + 2);
      entry.count = U32(entry.position + 4);
      entry.valueBytes = TypeBytes(entry.type) * entry.count;
      entry.valueInside = entry.valueBytes <= 4;
      entry.valueAt = entry.valueInside ? entry.position + 8 : U32(entry.position + 8);
      entry.valueReadable = entry.valueAt + entry.valueBytes <= Size();
      entries.push_back(entry);
    }
    return std::pair{std::move(entries), U32(end - 4)};
  }

  // The single SHORT or LONG value of an entry.
  std::optional<std::uint32_t> Number(const Entry& entry) const {
    if (entry.count != 1 || !entry.valueInside) return std::nullopt;
    if (entry.type == kTypeShort) return U16(entry.valueAt);
    if (entry.type == kTypeLong) return U32(entry.valueAt);
    return std::nullopt;
  }

  bool LittleEndian() const { return littleEndian_; }

 private:
  explicit Tiff(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::span<const std::uint8_t> bytes_;
  bool littleEndian_ = false;
};

// Every directory reached from IFD0, each read once.
struct ExifLayout {
  struct Directory {
    std::uint64_t at = 0;
    std::vector<Entry> entries;
    std::uint32_t next = 0;
    bool thumbnail = false;  // IFD1 and what hangs off it
  };
  std::vector<Directory> directories;
};

std::optional<ExifLayout> ReadLayout(const Tiff& tiff) {
  ExifLayout layout;
  std::set<std::uint64_t> seen;
  // Directories still to read, with whether they belong to the thumbnail.
  std::vector<std::pair<std::uint64_t, bool>> pending = {{tiff.U32(4), false}};
  while (!pending.empty() && layout.directories.size() < kMaxDirectories) {
    const auto [at, thumbnail] = pending.front();
    pending.erase(pending.begin());
    if (!seen.insert(at).second) continue;
    auto directory = tiff.Directory(at);
    if (!directory) {
      // IFD0 must read; a broken link further on only loses what it led to.
      if (layout.directories.empty()) return std::nullopt;
      continue;
    }
    const bool first = layout.directories.empty();
    for (const Entry& entry : directory->first) {
      if (entry.tag == kTagExifDirectory || entry.tag == kTagGpsDirectory ||
          entry.tag == kTagInteropDirectory) {
        if (const auto offset = tiff.Number(entry)) pending.emplace_back(*offset, thumbnail);
      }
    }
    // Only IFD0 links to a following directory that means anything: IFD1, the thumbnail's.
    if (first && directory->second != 0) pending.emplace_back(directory->second, true);
    layout.directories.push_back({at, std::move(directory->first), directory->second, thumbnail});
  }
  return layout;
}

void PutU16(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint16_t value, bool little) {
  if (at + 2 > bytes.size()) return;
  bytes[at] = static_cast<std::uint8_t>(little ? value : value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(little ? value >> 8 : value);
}

void PutU32(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint32_t value, bool little) {
  PutU16(bytes, little ? at : at + 2, static_cast<std::uint16_t>(value), little);
  PutU16(bytes, little ? at + 2 : at, static_cast<std::uint16_t>(value >> 16), little);
}

// Writes a single SHORT or LONG value in place.
void SetNumber(const Tiff& tiff, std::vector<std::uint8_t>& bytes, const Entry& entry,
               std::uint32_t value) {
  if (!tiff.Number(entry)) return;
  if (entry.type == kTypeShort) {
    PutU16(bytes, entry.valueAt, static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 0xFFFF)),
           tiff.LittleEndian());
  } else {
    PutU32(bytes, entry.valueAt, value, tiff.LittleEndian());
  }
}

// The bytes a directory occupies: its table and every value stored outside it.
std::vector<Range> RangesOf(const ExifLayout::Directory& directory) {
  std::vector<Range> ranges = {
      {directory.at, directory.at + 2 + directory.entries.size() * kEntryBytes + 4}};
  for (const Entry& entry : directory.entries) {
    if (!entry.valueInside && entry.valueReadable) {
      ranges.push_back({entry.valueAt, entry.valueAt + entry.valueBytes});
    }
  }
  return ranges;
}

// Unlinks the thumbnail's directory from IFD0, and cuts the data where nothing but the thumbnail
// follows; otherwise its bytes stay, unreferenced.
void DropThumbnail(const Tiff& tiff, const ExifLayout& layout, std::vector<std::uint8_t>& bytes) {
  const ExifLayout::Directory& first = layout.directories.front();
  if (first.next == 0) return;
  PutU32(bytes, first.at + 2 + first.entries.size() * kEntryBytes, 0, tiff.LittleEndian());
  std::uint64_t keptEnd = kTiffHeaderBytes;
  std::uint64_t thumbnailBegin = tiff.Size();
  for (const ExifLayout::Directory& directory : layout.directories) {
    std::vector<Range> ranges = RangesOf(directory);
    if (directory.thumbnail) {
      std::uint32_t offset = 0;
      std::uint32_t length = 0;
      for (const Entry& entry : directory.entries) {
        if (entry.tag == kTagThumbnailOffset) offset = tiff.Number(entry).value_or(0);
        if (entry.tag == kTagThumbnailLength) length = tiff.Number(entry).value_or(0);
      }
      if (offset != 0 && std::uint64_t{offset} + length <= tiff.Size()) {
        ranges.push_back({offset, std::uint64_t{offset} + length});
      }
    }
    for (const Range& range : ranges) {
      if (directory.thumbnail) {
        thumbnailBegin = std::min(thumbnailBegin, range.begin);
      } else {
        keptEnd = std::max(keptEnd, range.end);
      }
    }
  }
  if (thumbnailBegin >= keptEnd && keptEnd <= bytes.size()) bytes.resize(keptEnd);
}

// An XMP packet whose tiff:Orientation, written as an attribute or as an element, says 1. The
// digit is replaced in place, so the rest of the packet stays byte for byte.
std::vector<std::uint8_t> XmpTurnedUpright(std::vector<std::uint8_t> xmp) {
  static constexpr std::array<std::string_view, 4> kForms = {
      "tiff:Orientation=\"", "tiff:Orientation='", "<tiff:Orientation>", "tiff:Orientation = \""};
  const std::string_view text(reinterpret_cast<const char*>(xmp.data()), xmp.size());
  for (const std::string_view form : kForms) {
    for (std::size_t at = text.find(form); at != std::string_view::npos;
         at = text.find(form, at + 1)) {
      const std::size_t digit = at + form.size();
      if (digit + 1 < xmp.size() && xmp[digit] >= '2' && xmp[digit] <= '8' &&
          (xmp[digit + 1] == '"' || xmp[digit + 1] == '\'' || xmp[digit + 1] == '<')) {
        xmp[digit] = '1';
      }
    }
  }
  return xmp;
}

bool ProfileSound(std::span<const std::uint8_t> icc) {
  if (icc.size() < kIccHeaderBytes || icc.size() > kMaxProfileBytes) return false;
  const std::uint32_t declared = (std::uint32_t{icc[0]} << 24) | (std::uint32_t{icc[1]} << 16) |
                                 (std::uint32_t{icc[2]} << 8) | icc[3];
  return declared == icc.size() && std::memcmp(icc.data() + kIccSignatureOffset, "acsp", 4) == 0;
}

// The profile from its numbered chunks; empty when they do not make one whole profile.
std::vector<std::uint8_t> ReassembleProfile(std::span<const JpegSegment> segments) {
  std::vector<std::span<const std::uint8_t>> chunks;
  std::size_t total = 0;
  int declaredCount = 0;
  for (const JpegSegment& segment : segments) {
    if (segment.marker != kMarkerApp2 || !StartsWith(segment.payload, kIccPrefix) ||
        segment.payload.size() < kIccChunkHeaderBytes) {
      continue;
    }
    const int number = segment.payload[kIccPrefix.size()];
    const int count = segment.payload[kIccPrefix.size() + 1];
    if (count == 0 || number == 0 || number > count) return {};
    if (declaredCount == 0) {
      declaredCount = count;
      chunks.resize(static_cast<std::size_t>(count));
    }
    std::span<const std::uint8_t>& slot = chunks[static_cast<std::size_t>(number - 1)];
    if (count != declaredCount || slot.data() != nullptr) return {};
    slot = std::span(segment.payload).subspan(kIccChunkHeaderBytes);
    total += slot.size();
    if (total > kMaxProfileBytes) return {};
  }
  std::vector<std::uint8_t> profile;
  profile.reserve(total);
  for (const std::span<const std::uint8_t> chunk : chunks) {
    if (chunk.data() == nullptr) return {};
    profile.insert(profile.end(), chunk.begin(), chunk.end());
  }
  return profile;
}

}  // namespace

PhotoMetadata MetadataFromJpegSegments(std::span<const JpegSegment> segments) {
  PhotoMetadata metadata;
  bool exifSeen = false;
  bool xmpSeen = false;
  for (const JpegSegment& segment : segments) {
    if (segment.marker != kMarkerApp1) continue;
    const std::span<const std::uint8_t> payload(segment.payload);
    if (!exifSeen && payload.size() >= kExifPrefix.size() &&
        std::equal(kExifPrefix.begin(), kExifPrefix.end(), payload.begin())) {
      exifSeen = true;
      metadata.exif.assign(payload.begin() + kExifPrefix.size(), payload.end());
    } else if (!xmpSeen && StartsWith(payload, kXmpPrefix)) {
      xmpSeen = true;
      metadata.xmp.assign(payload.begin() + static_cast<std::ptrdiff_t>(kXmpPrefix.size()),
                          payload.end());
    }
  }
  metadata.icc = ReassembleProfile(segments);
  CheckMetadata(metadata);
  return metadata;
}

void CheckMetadata(PhotoMetadata& metadata) {
  const std::optional<Tiff> tiff = Tiff::Open(metadata.exif);
  if (!tiff || !tiff->Directory(tiff->U32(4))) metadata.exif.clear();
  if (!ProfileSound(metadata.icc)) metadata.icc.clear();
  metadata.exif.shrink_to_fit();
  metadata.icc.shrink_to_fit();
}

int ExifOrientation(std::span<const std::uint8_t> exif) {
  const std::optional<Tiff> tiff = Tiff::Open(exif);
  if (!tiff) return 1;
  const auto directory = tiff->Directory(tiff->U32(4));
  if (!directory) return 1;
  for (const Entry& entry : directory->first) {
    if (entry.tag != kTagOrientation) continue;
    const std::uint32_t value = tiff->Number(entry).value_or(1);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

ProfileSpace ProfileSpaceOf(std::span<const std::uint8_t> icc) {
  if (icc.size() < kIccHeaderBytes) return ProfileSpace::kNone;
  const std::string_view space(reinterpret_cast<const char*>(icc.data()) + kIccSpaceOffset, 4);
  if (space == "RGB ") return ProfileSpace::kRgb;
  if (space == "GRAY") return ProfileSpace::kGrey;
  return ProfileSpace::kOther;
}

std::optional<std::vector<std::uint8_t>> RewriteExif(std::span<const std::uint8_t> exif,
                                                     const ExifChanges& changes) {
  const std::optional<Tiff> tiff = Tiff::Open(exif);
  if (!tiff) return std::nullopt;
  const std::optional<ExifLayout> layout = ReadLayout(*tiff);
  if (!layout) return std::nullopt;
  std::vector<std::uint8_t> bytes(exif.begin(), exif.end());
  for (const ExifLayout::Directory& directory : layout->directories) {
    if (directory.thumbnail) continue;
    for (const Entry& entry : directory.entries) {
      if (entry.tag == kTagOrientation && changes.resetOrientation &&
          &directory == &layout->directories.front()) {
        SetNumber(*tiff, bytes, entry, 1);
      }
      if (!changes.pixelSize) continue;
      const bool isWidth =
          entry.tag == kTagPixelXDimension ||
          (entry.tag == kTagImageWidth && &directory == &layout->directories.front());
      const bool isHeight =
          entry.tag == kTagPixelYDimension ||
          (entry.tag == kTagImageHeight && &directory == &layout->directories.front());
      if (isWidth)
        SetNumber(*tiff, bytes, entry, static_cast<std::uint32_t>(changes.pixelSize->first));
      if (isHeight)
        SetNumber(*tiff, bytes, entry, static_cast<std::uint32_t>(changes.pixelSize->second));
    }
  }
  if (changes.dropThumbnail) DropThumbnail(*tiff, *layout, bytes);
  return bytes;
}

PhotoMetadata MetadataForOutput(const PhotoMetadata& source, const OutputFacts& facts) {
  PhotoMetadata output;
  if (!source.exif.empty()) {
    ExifChanges changes;
    changes.resetOrientation = facts.turnedUpright;
    changes.dropThumbnail = !facts.pixelsAsStored;
    changes.pixelSize = std::pair{facts.width, facts.height};
    output.exif = RewriteExif(source.exif, changes).value_or(std::vector<std::uint8_t>{});
  }
  output.xmp = facts.turnedUpright ? XmpTurnedUpright(source.xmp) : source.xmp;
  if (ProfileSpaceOf(source.icc) == facts.space) output.icc = source.icc;
  return output;
}

std::vector<JpegSegment> JpegSegmentsFor(const PhotoMetadata& metadata) {
  std::vector<JpegSegment> segments;
  if (!metadata.exif.empty() && kExifPrefix.size() + metadata.exif.size() <= kMaxSegmentBytes) {
    JpegSegment& segment = segments.emplace_back(JpegSegment{kMarkerApp1, {}});
    segment.payload.assign(kExifPrefix.begin(), kExifPrefix.end());
    segment.payload.insert(segment.payload.end(), metadata.exif.begin(), metadata.exif.end());
  }
  if (!metadata.xmp.empty() && kXmpPrefix.size() + metadata.xmp.size() <= kMaxSegmentBytes) {
    JpegSegment& segment = segments.emplace_back(JpegSegment{kMarkerApp1, {}});
    segment.payload.assign(kXmpPrefix.begin(), kXmpPrefix.end());
    segment.payload.insert(segment.payload.end(), metadata.xmp.begin(), metadata.xmp.end());
  }
  const std::size_t chunkCount = (metadata.icc.size() + kIccChunkBytes - 1) / kIccChunkBytes;
  if (chunkCount == 0 || chunkCount > 255) return segments;
  for (std::size_t chunk = 0; chunk < chunkCount; ++chunk) {
    JpegSegment& segment = segments.emplace_back(JpegSegment{kMarkerApp2, {}});
    segment.payload.assign(kIccPrefix.begin(), kIccPrefix.end());
    segment.payload.push_back(static_cast<std::uint8_t>(chunk + 1));
    segment.payload.push_back(static_cast<std::uint8_t>(chunkCount));
    const auto begin = metadata.icc.begin() + static_cast<std::ptrdiff_t>(chunk * kIccChunkBytes);
    const auto end = metadata.icc.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                (chunk + 1) * kIccChunkBytes, metadata.icc.size()));
    segment.payload.insert(segment.payload.end(), begin, end);
  }
  return segments;
}

}  // namespace imaging
