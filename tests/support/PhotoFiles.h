// Photos as cameras write them, built by hand: EXIF data, XMP packets and ICC profiles put into
// JPEG segments and PNG chunks, and read back out of saved files.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/PhotoMetadata.h"

namespace testsupport {

// The forms EXIF allows for the same facts: either byte order; the pixel size as SHORT or LONG
// values; a camera model short enough to stand inside its entry ("Cam") or one kept by offset
// ("Test Phone"); when asked, an exposure time (a RATIONAL, always kept by offset) and the image
// size in IFD0 as well.
struct ExifForm {
  bool bigEndian = false;
  bool shortValues = false;  // SHORT pixel sizes and the model inside its entry
  bool exposureTime = false;
  bool imageSize = false;
  std::string Name() const;
};
// Every combination that matters, the first one the default.
inline constexpr ExifForm kExifForms[] = {{false, false, false, false},
                                          {true, false, true, true},
                                          {false, true, true, false},
                                          {true, true, false, true}};

// EXIF in `form` (little-endian by default): IFD0 with a camera model and the orientation, an
// EXIF directory with the pixel size and the date taken, and, when asked, IFD1 with a 16-byte
// thumbnail at the very end. Each directory is followed by the values that do not fit its entries.
std::vector<std::uint8_t> CameraExif(int orientation, std::pair<int, int> pixelSize, bool thumbnail,
                                     const ExifForm& form = {});
// The ways an XMP packet may write a property: as an attribute in double or single quotes, or as
// an element of its own.
enum class XmpForm { kAttribute, kSingleQuotedAttribute, kElement };
inline constexpr XmpForm kXmpForms[] = {XmpForm::kAttribute, XmpForm::kSingleQuotedAttribute,
                                        XmpForm::kElement};
// A small XMP packet naming its orientation and its format in `form`.
std::vector<std::uint8_t> XmpPacket(int orientation, XmpForm form = XmpForm::kAttribute);
// A display profile of `bytes` bytes (header, one tag covering the rest) for the colour space
// named by its four-character signature.
std::vector<std::uint8_t> IccProfile(std::size_t bytes, const char* space = "RGB ");

// Real profiles made with LittleCMS. Adobe RGB (1998): its primaries, D65, gamma 563/256. An sRGB
// profile written as a 1024-entry sampled curve rather than a formula, as many cameras write it.
// An output profile for CMYK whose perceptual table (Lab, `gridPoints` per ink) holds
// CmykPrintModel, so converting through it must give the model's colours.
std::vector<std::uint8_t> AdobeRgbProfile();
// Adobe RGB's primaries with another gamma: as many distinct profiles as gammas.
std::vector<std::uint8_t> AdobeRgbProfileWithGamma(double gamma);
std::vector<std::uint8_t> SampledSrgbProfile();
// LittleCMS's own sRGB profile.
std::vector<std::uint8_t> SrgbProfile();
std::vector<std::uint8_t> CmykPrintProfile(int gridPoints);
// The colour (sRGB) the print profile gives ink amounts 0..1: each ink darkens its own channel
// and cyan and magenta also take a little of the next one, so it differs from the plain formula.
imaging::Rgb CmykPrintModel(double cyan, double magenta, double yellow, double black);
// Adobe RGB bytes to sRGB bytes, worked out from the two spaces' definitions (primaries to XYZ and
// back, both D65): the reference the library's conversion is checked against.
imaging::Rgb AdobeRgbToSrgb(imaging::Rgb adobe);

// One APP segment (marker and payload) or PNG chunk (type and data).
struct Piece {
  std::string name;  // "APP1", "APP2", or a PNG chunk type
  std::vector<std::uint8_t> data;
};
// The segments a camera writes: APP1 "Exif", APP1 XMP, and the profile as APP2 chunks of at most
// `chunkBytes` bytes of profile each. Empty parts are left out.
std::vector<Piece> CameraSegments(const std::vector<std::uint8_t>& exif,
                                  const std::vector<std::uint8_t>& xmp,
                                  const std::vector<std::uint8_t>& icc, std::size_t chunkBytes);
// The chunks a PNG writer uses for the same: iCCP (zlib), eXIf, iTXt "XML:com.adobe.xmp".
std::vector<Piece> PngMetadataChunks(const std::vector<std::uint8_t>& exif,
                                     const std::vector<std::uint8_t>& xmp,
                                     const std::vector<std::uint8_t>& icc);

// The bytes compressed as a zlib stream, as PNG image data and profiles are stored.
std::vector<std::uint8_t> Deflated(const std::vector<std::uint8_t>& bytes);

// One PNG chunk: length, type, data and a correct CRC.
std::vector<std::uint8_t> PngChunk(const std::string& type, const std::vector<std::uint8_t>& data);

// A JPEG file with the segments put after its JFIF segment; a PNG file with the chunks put after
// its header chunk.
std::vector<std::uint8_t> WithSegments(std::vector<std::uint8_t> jpeg,
                                       const std::vector<Piece>& segments);
std::vector<std::uint8_t> WithChunks(std::vector<std::uint8_t> png,
                                     const std::vector<Piece>& chunks);

// An HEIF file as libheif writes it (32-bit box sizes, 'iloc' of version 0 or 1) with `prefix` put
// before the data of the first item stored in the 'mdat' box: the boxes around it and that item
// grow, the item locations after it move.
std::vector<std::uint8_t> WithItemDataPrefix(std::vector<std::uint8_t> heif,
                                             const std::vector<std::uint8_t>& prefix);
// Where WithSequencePictureSize puts the sequence parameter set that claims another size: in the
// 'hvcC' property instead of its own, or as a NAL unit before the data of the first item stored in
// the 'mdat' box.
enum class ParameterSetPlace { kConfiguration, kItemData };
// An HEVC-coded HEIF file as libheif writes it (32-bit box sizes, 'iloc' of version 0 or 1) with a
// sequence parameter set claiming a coded picture of width × height: the first one of its 'hvcC'
// property, re-encoded. The boxes around the change grow with it and the item locations after it
// move.
std::vector<std::uint8_t> WithSequencePictureSize(std::vector<std::uint8_t> heif,
                                                  std::uint32_t width, std::uint32_t height,
                                                  ParameterSetPlace place);

// An AV1-coded HEIF file as avifenc writes a still image (its sequence header OBU, of the reduced
// form, at the start of the 'mdat' box's data) with that header's largest frame size set to
// width × height, written in the bits the header gives them.
std::vector<std::uint8_t> WithAv1FrameSize(std::vector<std::uint8_t> avif, std::uint32_t width,
                                           std::uint32_t height);

// The EXIF, XMP and profile a JPEG or PNG file carries (the profile reassembled or
// decompressed), as the library reads them; empty where absent. Throws std::runtime_error when
// any PNG chunk's CRC is wrong.
imaging::PhotoMetadata MetadataOfFile(const std::string& path);

// The bitmap a camera stores for `upright` when it tags it with the EXIF orientation: a viewer
// applying the orientation shows `upright`.
imaging::Bitmap StoredForOrientation(const imaging::Bitmap& upright, int orientation);

// The letter's shape, red against blue, whatever a lossy codec did to the exact colours: told by
// brightness (red 76, blue 29), which JPEG keeps for every pixel where it blurs the colours.
std::vector<std::string> Shape(const imaging::Bitmap& bitmap);

// The largest difference of any channel of any pixel; a large one when the sizes differ.
int LargestDifference(const imaging::Bitmap& first, const imaging::Bitmap& second);

}  // namespace testsupport
