// The file-kind probe: signatures at the start of a file, checked strictly enough that text files
// and other formats are never taken for an image kind.
#include "imaging/FileKind.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "imaging/BmpCodec.h"
#include "imaging/HeifCodec.h"
#include "imaging/JpegCodec.h"
#include "imaging/PngCodec.h"
#include "imaging/WebpCodec.h"

namespace imaging {
namespace {

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view signature) {
  return bytes.size() >= signature.size() &&
         std::equal(signature.begin(), signature.end(), bytes.begin(),
                    [](char expected, std::uint8_t actual) {
                      return static_cast<std::uint8_t>(expected) == actual;
                    });
}

bool LooksLikeGif(std::span<const std::uint8_t> bytes) {
  return StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a");
}

// TIFF in either byte order.
bool LooksLikeTiff(std::span<const std::uint8_t> bytes) {
  using namespace std::string_view_literals;
  return StartsWith(bytes, "II*\0"sv) || StartsWith(bytes, "MM\0*"sv);
}

// PIC (X68000 / PC-98): "PIC", then a free comment ended by 0x1A, then the binary header. The
// byte after "PIC" must be that 0x1A (no comment) or one that can begin a comment: printable ASCII
// or a Shift-JIS lead byte. The 0x1A must also appear among the leading bytes, which no text file
// has and which keeps a text file starting with "PIC" from passing.
bool LooksLikePic(std::span<const std::uint8_t> bytes) {
  constexpr std::uint8_t kCommentEnd = 0x1A;
  if (!StartsWith(bytes, "PIC") || bytes.size() < 4) return false;
  const std::uint8_t next = bytes[3];
  const bool commentStart = (next >= 0x20 && next <= 0x7E) || (next >= 0x81 && next <= 0x9F) ||
                            (next >= 0xE0 && next <= 0xFC);
  if (next != kCommentEnd && !commentStart) return false;
  return std::find(bytes.begin() + 3, bytes.end(), kCommentEnd) != bytes.end();
}

// PCX: manufacturer 0x0A, a known version, RLE encoding 1, a known bits-per-plane value and a
// window whose maximum corner is not before its minimum. The version byte alone keeps out text
// files that start with a line feed, since no printable character is a valid version.
bool LooksLikePcx(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 12 || bytes[0] != 0x0A || bytes[2] != 1) return false;
  const std::uint8_t version = bytes[1];
  const std::uint8_t bitsPerPlane = bytes[3];
  if (version != 0 && version != 2 && version != 3 && version != 4 && version != 5) return false;
  if (bitsPerPlane != 1 && bitsPerPlane != 2 && bitsPerPlane != 4 && bitsPerPlane != 8) {
    return false;
  }
  const auto word = [&](std::size_t offset) { return bytes[offset] | (bytes[offset + 1] << 8); };
  return word(8) >= word(4) && word(10) >= word(6);
}

std::int32_t HeifKind(heif::Codec codec) {
  switch (codec) {
    case heif::Codec::kHevc:
      return kFileKindHeic;
    case heif::Codec::kAv1:
      return kFileKindAvif;
    default:
      return kFileKindUnknown;
  }
}

bool LooksLikeHeic(std::span<const std::uint8_t> bytes) {
  return heif::Sniff(bytes) == heif::Codec::kHevc;
}

bool LooksLikeAvif(std::span<const std::uint8_t> bytes) {
  return heif::Sniff(bytes) == heif::Codec::kAv1;
}

bool LooksLikeMag(std::span<const std::uint8_t> bytes) { return StartsWith(bytes, "MAKI02  "); }

// A kind with a codec takes the codec's own sniff; the others are only recognised, to be refused.
constexpr FileKindSignature kSignatures[] = {
    {kFileKindBmp, bmp::Sniff, true},      {kFileKindJpeg, jpeg::Sniff, true},
    {kFileKindPng, png::Sniff, true},      {kFileKindHeic, LooksLikeHeic, true},
    {kFileKindAvif, LooksLikeAvif, true},  {kFileKindWebp, webp::Sniff, true},
    {kFileKindGif, LooksLikeGif, false},
    {kFileKindTiff, LooksLikeTiff, false}, {kFileKindPic, LooksLikePic, false},
    {kFileKindMag, LooksLikeMag, false},   {kFileKindPcx, LooksLikePcx, false},
};

}  // namespace

std::span<const FileKindSignature> FileKindSignatures() { return kSignatures; }

const FileKindSignature* FindFileKind(std::int32_t kind) {
  const auto* row =
      std::find_if(std::begin(kSignatures), std::end(kSignatures),
                   [&](const FileKindSignature& entry) { return entry.kind == kind; });
  return row == std::end(kSignatures) ? nullptr : row;
}

std::int32_t FileKindOfBytes(std::span<const std::uint8_t> leadingBytes) {
  const std::span<const std::uint8_t> bytes =
      leadingBytes.first(std::min(leadingBytes.size(), kFileKindProbeBytes));
  for (const FileKindSignature& row : kSignatures) {
    if (row.sniff(bytes)) return row.kind;
  }
  return kFileKindUnknown;
}

bool KindNeedsWholeFile(std::span<const std::uint8_t> leadingBytes) {
  const std::int32_t kind = FileKindOfBytes(leadingBytes);
  return kind == kFileKindHeic || kind == kFileKindAvif || kind == kFileKindWebp ||
         (kind == kFileKindUnknown &&
          heif::Sniff(leadingBytes.first(std::min(leadingBytes.size(), kFileKindProbeBytes))) ==
              heif::Codec::kByPrimaryImage);
}

std::int32_t FileKindOfSource(const ByteSource& source, bool checkHeader) {
  const std::vector<std::uint8_t> leading = source.Prefix(kFileKindProbeBytes);
  std::int32_t kind = FileKindOfBytes(leading);
  if (kind == kFileKindUnknown && heif::Sniff(leading) == heif::Codec::kByPrimaryImage) {
    kind = HeifKind(heif::PrimaryImageCodec(source));
  }
  if (!checkHeader) return kind;
  if (kind == kFileKindHeic || kind == kFileKindAvif) {
    return heif::ReadSize(source) ? kind : kFileKindUnknown;
  }
  if (kind == kFileKindWebp) {
    return webp::ReadSize(source.Prefix(webp::kHeaderProbeBytes)) ? kind : kFileKindUnknown;
  }
  return kind;
}

}  // namespace imaging
