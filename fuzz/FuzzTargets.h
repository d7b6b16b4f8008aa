// The bodies of the fuzz targets, as plain functions: the libFuzzer entry points call them, and the
// replay test runs every stored seed and finding through them in the normal test suite.
#pragma once

#include <cstdint>
#include <span>

namespace fuzztargets {

// Decodes the bytes as a BMP; when that works, writes the image as a 24-bit BMP to memory, decodes
// that again and compares the pixels. False when the second decode fails or differs.
bool BmpRoundTrip(std::span<const std::uint8_t> bytes);

// Loads the bytes through imaging::LoadImageFile, exactly as a file on disk: the bytes are put in
// an in-memory file (memfd) and loaded by its /proc path. A loaded image is probed, read and
// released. False when a loaded image breaks the library's promises (sizes beyond the limits, a
// 24-bit state, or a handle that does not release).
bool LoadImage(std::span<const std::uint8_t> bytes);

// Reads the bytes as photo metadata twice over: as EXIF data on their own, and as a run of JPEG
// APP segments, each framed by a byte (odd: APP1, even: APP2) and a 16-bit big-endian length (the
// last one takes what is left). False when an orientation falls outside 1..8, a rewritten EXIF
// block grows, or the metadata kept from the segments do not come back unchanged when written as
// segments and read again.
bool PhotoMetadata(std::span<const std::uint8_t> bytes);

// Takes the bytes as an embedded colour profile (its declared size set to theirs, so it passes the
// header check every profile passes) and, when the library makes a conversion of it to sRGB,
// converts a grey ramp and the corners of the colour cube through it twice. False when the two
// conversions differ.
bool ColorProfile(std::span<const std::uint8_t> bytes);

// Probes the bytes as a file (an in-memory file, as LoadImage does). False when the kind is not a
// FileKind value, when it depends on more than the leading bytes the probe promises to look at
// (a HEIF or WebP file, whose headers are read further, may only be found not recognised), or
// when a kind is reported without that format's signature.
bool ProbeFileKind(std::span<const std::uint8_t> bytes);

// Decodes the bytes as a HEIF or AVIF file (turned by its properties, and as stored) and as a
// WebP file, with their metadata, and tells the codec of a HEIF primary image. False when a
// decoded image lies beyond the size limits or is not a whole 24-bit bitmap, when a file that
// decodes has headers that do not read, or when the headers give another size than the decode.
bool DecodeHeifWebp(std::span<const std::uint8_t> bytes);

// Puts the bytes in LogFile/Log.ini of a scratch executable folder and starts a headless main
// form there, whose InitialUpdate loads the file (SyncSettingsFile in Load mode). False when a
// field ends outside its range, when a radio group or the folder box does not show the record, or
// when the file saved from that start (which reads every other control) loads to a different
// record.
bool LoadSettingsFile(std::span<const std::uint8_t> bytes);

// Takes the bytes as a path and checks FileNameOf and ExtensionOf: the extension is the text after
// the last dot and holds none; the name is the text after the last separator less ".extension",
// so it holds no separator and is valid UTF-8 when the path is.
bool FileNameParts(std::span<const std::uint8_t> bytes);

}  // namespace fuzztargets
