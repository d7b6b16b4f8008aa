#include "tests/support/PhotoFiles.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "tests/support/TestSupport.h"

namespace testsupport {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

std::uint32_t U32Be(const Bytes& bytes, std::size_t at) {
  return (std::uint32_t{bytes.at(at)} << 24) | (std::uint32_t{bytes.at(at + 1)} << 16) |
         (std::uint32_t{bytes.at(at + 2)} << 8) | bytes.at(at + 3);
}

// The bytes of `prefix` followed by `data`: an APP segment's or chunk's identifier and payload.
Bytes Prefixed(std::string_view prefix, const Bytes& data) {
  Bytes out(prefix.begin(), prefix.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// One 12-byte directory entry, little-endian: the tag and the type (16 bits each), the count and
// the value.
void PutEntry(Bytes& out, std::uint32_t tag, std::uint32_t type, std::uint32_t count,
              std::uint32_t value) {
  for (const std::uint32_t field : {tag | type << 16, count, value}) PutBytes(out, field);
}

}  // namespace

std::vector<std::uint8_t> CameraExif(int orientation, std::pair<int, int> pixelSize,
                                     bool thumbnail) {
  // Layout: header 8, IFD0 at 8 (3 entries: 2 + 36 + 4 = 42) → 50, model text "Test Phone\0"
  // (11) → 61, pad → 62, EXIF directory at 62 (3 entries: 42) → 104, date text (20) → 124,
  // IFD1 at 124 (2 entries: 30) → 154, thumbnail (16) → 170.
  Bytes out = {'I', 'I', 42, 0};
  PutBytes(out, 8);
  PutBytes(out, 3, 2);
  PutEntry(out, 0x0110, 2, 11, 50);  // Model
  PutEntry(out, 0x0112, 3, 1, static_cast<std::uint32_t>(orientation));
  PutEntry(out, 0x8769, 4, 1, 62);  // EXIF directory
  PutBytes(out, thumbnail ? 124 : 0);
  Append(out, std::string_view("Test Phone\0\0", 12));
  PutBytes(out, 3, 2);
  PutEntry(out, 0x9003, 2, 20, 104);  // DateTimeOriginal
  PutEntry(out, 0xA002, 4, 1, static_cast<std::uint32_t>(pixelSize.first));
  PutEntry(out, 0xA003, 4, 1, static_cast<std::uint32_t>(pixelSize.second));
  PutBytes(out, 0);
  Append(out, std::string_view("2026:12:01 10:00:00\0", 20));
  if (thumbnail) {
    PutBytes(out, 2, 2);
    PutEntry(out, 0x0201, 4, 1, 154);
    PutEntry(out, 0x0202, 4, 1, 16);
    PutBytes(out, 0);
    for (std::uint8_t i = 0; i < 16; ++i) out.push_back(i);
  }
  return out;
}

std::vector<std::uint8_t> XmpPacket(int orientation) {
  Bytes out;
  Append(out,
         "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf="
         "'http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
         "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:Orientation=\"");
  out.push_back(static_cast<std::uint8_t>('0' + orientation));
  Append(out,
         "\" xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='image/jpeg'/>"
         "</rdf:RDF></x:xmpmeta>");
  return out;
}

std::vector<std::uint8_t> IccProfile(std::size_t bytes, const char* space) {
  Bytes out;
  PutBytes(out, static_cast<std::uint32_t>(bytes), 4, true);
  out.resize(128);
  for (const auto& [at, text] : {std::pair{12, "mntr"}, {16, space}, {20, "XYZ "}, {36, "acsp"}})
    std::memcpy(out.data() + at, text, 4);
  PutBytes(out, 1, 4, true);
  Append(out, "zzzz");
  PutBytes(out, 144, 4, true);
  PutBytes(out, static_cast<std::uint32_t>(bytes - 144), 4, true);
  while (out.size() < bytes) out.push_back(static_cast<std::uint8_t>(out.size() * 7));
  return out;
}

std::vector<Piece> CameraSegments(const std::vector<std::uint8_t>& exif,
                                  const std::vector<std::uint8_t>& xmp,
                                  const std::vector<std::uint8_t>& icc, std::size_t chunkBytes) {
  std::vector<Piece> segments;
  if (!exif.empty()) segments.push_back({"APP1", Prefixed(std::string_view("Exif\0\0", 6), exif)});
  if (!xmp.empty()) {
    segments.push_back(
        {"APP1", Prefixed(std::string_view("http://ns.adobe.com/xap/1.0/\0", 29), xmp)});
  }
  const std::size_t count = icc.empty() ? 0 : (icc.size() + chunkBytes - 1) / chunkBytes;
  for (std::size_t chunk = 0; chunk < count; ++chunk) {
    // The name, then the chunk's number from 1 and the count.
    Bytes data = Prefixed(std::string_view("ICC_PROFILE\0", 12),
                          {static_cast<std::uint8_t>(chunk + 1), static_cast<std::uint8_t>(count)});
    const std::size_t end = std::min(icc.size(), (chunk + 1) * chunkBytes);
    data.insert(data.end(), icc.begin() + static_cast<std::ptrdiff_t>(chunk * chunkBytes),
                icc.begin() + static_cast<std::ptrdiff_t>(end));
    segments.push_back({"APP2", data});
  }
  return segments;
}

std::vector<Piece> PngMetadataChunks(const std::vector<std::uint8_t>& exif,
                                     const std::vector<std::uint8_t>& xmp,
                                     const std::vector<std::uint8_t>& icc) {
  std::vector<Piece> chunks;
  if (!icc.empty()) {
    chunks.push_back({"iCCP", Prefixed(std::string_view("camera\0\0", 8), Deflated(icc))});
  }
  if (!exif.empty()) chunks.push_back({"eXIf", exif});
  if (!xmp.empty()) {
    chunks.push_back({"iTXt", Prefixed(std::string_view("XML:com.adobe.xmp\0\0\0\0\0", 22), xmp)});
  }
  return chunks;
}

std::vector<std::uint8_t> WithSegments(std::vector<std::uint8_t> jpeg,
                                       const std::vector<Piece>& segments) {
  // After SOI, and after the JFIF segment when there is one.
  std::size_t at = 2;
  if (jpeg.at(3) == 0xE0) at += 2 + (std::size_t{jpeg.at(4)} << 8 | jpeg.at(5));
  Bytes inserted;
  for (const Piece& segment : segments) {
    PutBytes(inserted, segment.name == "APP1" ? 0xFFE1 : 0xFFE2, 2, true);
    PutBytes(inserted, static_cast<std::uint32_t>(segment.data.size() + 2), 2, true);
    inserted.insert(inserted.end(), segment.data.begin(), segment.data.end());
  }
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at), inserted.begin(), inserted.end());
  return jpeg;
}

std::vector<std::uint8_t> Deflated(const std::vector<std::uint8_t>& bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  Bytes packed(size);
  compress(packed.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()));
  packed.resize(size);
  return packed;
}

std::vector<std::uint8_t> PngChunk(const std::string& type, const std::vector<std::uint8_t>& data) {
  Bytes chunk;
  PutBytes(chunk, static_cast<std::uint32_t>(data.size()), 4, true);
  const Bytes typed = Prefixed(type, data);
  chunk.insert(chunk.end(), typed.begin(), typed.end());
  const uLong crc = crc32(0, typed.data(), static_cast<uInt>(typed.size()));
  PutBytes(chunk, static_cast<std::uint32_t>(crc), 4, true);
  return chunk;
}

std::vector<std::uint8_t> WithChunks(std::vector<std::uint8_t> png,
                                     const std::vector<Piece>& chunks) {
  std::size_t at = 8 + 12 + 13;  // signature, IHDR
  for (const Piece& chunk : chunks) {
    const Bytes bytes = PngChunk(chunk.name, chunk.data);
    png.insert(png.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
    at += bytes.size();
  }
  return png;
}

imaging::PhotoMetadata MetadataOfFile(const std::string& path) {
  const Bytes bytes = ReadFileBytes(path);
  if (imaging::jpeg::Sniff(bytes)) {
    std::vector<imaging::JpegSegment> segments;
    imaging::jpeg::ReadHeader(bytes, &segments);
    return imaging::MetadataFromJpegSegments(segments);
  }
  // Every chunk's CRC, the end chunk's too, which our decoder never reads but others do.
  for (std::size_t at = 8; at + 12 <= bytes.size(); at += 12 + U32Be(bytes, at)) {
    const std::size_t length = U32Be(bytes, at);
    if (crc32(0, bytes.data() + at + 4, static_cast<uInt>(length + 4)) !=
        U32Be(bytes, at + 8 + length)) {
      throw std::runtime_error("bad CRC at " + std::to_string(at));
    }
  }
  // libpng passes over a profile placed after the palette, as other readers do.
  imaging::PhotoMetadata found;
  imaging::png::ReadSize(imaging::MemorySource(bytes), &found);
  return found;
}

imaging::Bitmap StoredForOrientation(const imaging::Bitmap& upright, int orientation) {
  const bool sideways = orientation >= 5;
  const int width = sideways ? upright.height : upright.width;   // stored W
  const int height = sideways ? upright.width : upright.height;  // stored H
  return Painted(width, height, [&](int x, int y) {
    // The upright pixel the EXIF definition of each orientation keeps at the stored (x, y).
    const std::pair<int, int> shown[] = {{x, y},
                                         {x, y},
                                         {width - 1 - x, y},
                                         {width - 1 - x, height - 1 - y},
                                         {x, height - 1 - y},
                                         {y, x},
                                         {height - 1 - y, x},
                                         {height - 1 - y, width - 1 - x},
                                         {y, width - 1 - x}};
    return PixelAt(upright, shown[orientation].first, shown[orientation].second);
  });
}

std::vector<std::string> Shape(const imaging::Bitmap& bitmap) {
  std::vector<std::string> rows(std::size_t(bitmap.height));
  int pixel = 0;
  for (const imaging::Rgb color : ColorsOf(bitmap)) {
    rows[std::size_t(pixel++ / bitmap.width)] +=
        299 * color.red + 587 * color.green + 114 * color.blue > 52'500 ? 'R' : 'B';
  }
  return rows;
}

int LargestDifference(const imaging::Bitmap& first, const imaging::Bitmap& second) {
  if (first.width != second.width || first.height != second.height) return 255;
  return std::transform_reduce(
      first.pixels.begin(), first.pixels.end(), second.pixels.begin(), 0,
      [](int one, int other) { return std::max(one, other); },
      [](int one, int other) { return std::abs(one - other); });
}

}  // namespace testsupport
