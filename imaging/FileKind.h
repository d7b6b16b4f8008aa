// Tells a file's kind from its first bytes: one row per kind, with the signature that names it.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/ByteSource.h"

namespace imaging {

// File kinds told apart by ProbeFileKind from the content alone. The numbers are what callers
// store and show; a new kind takes the next free number and a row in FileKindSignatures().
enum FileKind : std::int32_t {
  kFileKindBmp = 1,
  kFileKindJpeg = 2,
  kFileKindPng = 3,
  kFileKindGif = 4,
  kFileKindTiff = 5,
  kFileKindPic = 6,
  kFileKindMag = 7,
  kFileKindPcx = 8,
  kFileKindUnknown = 9,  // empty, unreadable, a folder, or anything not recognised
  kFileKindHeic = 10,    // HEIF with HEVC-coded images
  kFileKindAvif = 11,    // HEIF with AV1-coded images
  kFileKindWebp = 12,
};

// Enough leading bytes for every signature the probe looks at.
inline constexpr std::size_t kFileKindProbeBytes = 128;

// One kind the probe recognises.
struct FileKindSignature {
  FileKind kind;
  // Whether the leading bytes of a file (at most kFileKindProbeBytes) carry the kind's signature.
  bool (*sniff)(std::span<const std::uint8_t> leadingBytes);
  bool loads;  // LoadImageFile reads files of this kind
};

// Every kind the probe recognises, in the order their signatures are tried.
std::span<const FileKindSignature> FileKindSignatures();

// The row of a kind, or nullptr for kFileKindUnknown and numbers that name no kind.
const FileKindSignature* FindFileKind(std::int32_t kind);

// The kind of the first row whose signature the leading bytes carry (at most kFileKindProbeBytes
// are looked at; fewer is fine), else kFileKindUnknown. A HEIF file whose brands name no codec
// (mif1, msf1 alone) is not recognised by its leading bytes.
std::int32_t FileKindOfBytes(std::span<const std::uint8_t> leadingBytes);

// The kind of a whole file: its leading bytes, and for a HEIF file whose brands name no codec,
// the codec of its primary image. With `checkHeader`, a HEIC, AVIF or WebP file whose headers
// do not read (a truncated file, an image sequence without a still image) or give a size beyond
// the limits is not recognised.
std::int32_t FileKindOfSource(const ByteSource& source, bool checkHeader);

// A kind FileKindOfSource tells from more than the leading bytes.
bool KindNeedsWholeFile(std::span<const std::uint8_t> leadingBytes);

}  // namespace imaging
