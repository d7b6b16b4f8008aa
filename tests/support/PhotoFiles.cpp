#include "tests/support/PhotoFiles.h"

#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <optional>
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

// One directory entry: the tag, the type, the count and the value's bytes in the data's byte
// order (a value of up to 4 bytes stands inside the entry, left-aligned).
struct Field {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  Bytes value;
};

Bytes Number(std::uint32_t value, int byteCount, bool bigEndian) {
  Bytes out;
  PutBytes(out, value, byteCount, bigEndian);
  return out;
}

// The bytes a directory takes with the values kept after it, each at an even offset.
std::uint32_t DirectoryBytes(const std::vector<Field>& fields) {
  std::size_t size = 2 + 12 * fields.size() + 4;
  for (const Field& field : fields) {
    if (field.value.size() > 4) size += (field.value.size() + 1) / 2 * 2;
  }
  return static_cast<std::uint32_t>(size);
}

// Appends a directory at the end of `out` (which starts at the TIFF header), then its values.
void PutDirectory(Bytes& out, const std::vector<Field>& fields, std::uint32_t next, bool big) {
  const std::size_t valuesAt = out.size() + 2 + 12 * fields.size() + 4;
  Bytes values;
  PutBytes(out, static_cast<std::uint32_t>(fields.size()), 2, big);
  for (const Field& field : fields) {
    PutBytes(out, field.tag, 2, big);
    PutBytes(out, field.type, 2, big);
    PutBytes(out, field.count, 4, big);
    if (field.value.size() <= 4) {
      Bytes inside = field.value;
      inside.resize(4);
      out.insert(out.end(), inside.begin(), inside.end());
      continue;
    }
    PutBytes(out, static_cast<std::uint32_t>(valuesAt + values.size()), 4, big);
    values.insert(values.end(), field.value.begin(), field.value.end());
    if (values.size() % 2 != 0) values.push_back(0);
  }
  PutBytes(out, next, 4, big);
  out.insert(out.end(), values.begin(), values.end());
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace

std::string ExifForm::Name() const {
  return std::string(bigEndian ? "MM" : "II") + (shortValues ? " SHORT" : " LONG") +
         (exposureTime ? " RATIONAL" : "") + (imageSize ? " IFD0 size" : "");
}

std::vector<std::uint8_t> CameraExif(int orientation, std::pair<int, int> pixelSize,
                                     bool thumbnail, const ExifForm& form) {
  const bool big = form.bigEndian;
  const int sizeBytes = form.shortValues ? 2 : 4;
  const std::uint16_t sizeType = form.shortValues ? 3 : 4;
  const Bytes model = form.shortValues ? Text(std::string_view("Cam\0", 4))
                                       : Text(std::string_view("Test Phone\0", 11));
  std::vector<Field> first;
  first.reserve(5);
  if (form.imageSize) {
    first.push_back(
        {0x0100, sizeType, 1, Number(static_cast<std::uint32_t>(pixelSize.first), sizeBytes, big)});
    first.push_back({0x0101, sizeType, 1,
                     Number(static_cast<std::uint32_t>(pixelSize.second), sizeBytes, big)});
  }
  first.push_back({0x0110, 2, static_cast<std::uint32_t>(model.size()), model});  // Model
  first.push_back({0x0112, 3, 1, Number(static_cast<std::uint32_t>(orientation), 2, big)});
  first.push_back({0x8769, 4, 1, {}});  // the EXIF directory, after IFD0 and its values
  std::vector<Field> exif;
  exif.reserve(4);
  if (form.exposureTime) {
    Bytes hundredTwentyFifth = Number(1, 4, big);
    for (const std::uint8_t byte : Number(125, 4, big)) hundredTwentyFifth.push_back(byte);
    exif.push_back({0x829A, 5, 1, hundredTwentyFifth});  // ExposureTime
  }
  exif.push_back({0x9003, 2, 20, Text(std::string_view("2026:12:01 10:00:00\0", 20))});
  exif.push_back(
      {0xA002, sizeType, 1, Number(static_cast<std::uint32_t>(pixelSize.first), sizeBytes, big)});
  exif.push_back(
      {0xA003, sizeType, 1, Number(static_cast<std::uint32_t>(pixelSize.second), sizeBytes, big)});
  const std::uint32_t exifAt = 8 + DirectoryBytes(first);
  const std::uint32_t thumbnailDirectoryAt = exifAt + DirectoryBytes(exif);
  first.back().value = Number(exifAt, 4, big);
  Bytes out = big ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
  PutBytes(out, 8, 4, big);
  PutDirectory(out, first, thumbnail ? thumbnailDirectoryAt : 0, big);
  PutDirectory(out, exif, 0, big);
  if (thumbnail) {
    const std::vector<Field> thumbnailFields = {
        {0x0201, 4, 1, Number(thumbnailDirectoryAt + 30, 4, big)},  // its offset, after IFD1
        {0x0202, 4, 1, Number(16, 4, big)}};
    PutDirectory(out, thumbnailFields, 0, big);
    for (std::uint8_t i = 0; i < 16; ++i) out.push_back(i);
  }
  return out;
}

std::vector<std::uint8_t> XmpPacket(int orientation, XmpForm form) {
  const std::string digit(1, static_cast<char>('0' + orientation));
  const std::string properties =
      form == XmpForm::kElement
          ? "><tiff:Orientation>" + digit +
                "</tiff:Orientation><dc:format>image/jpeg</dc:format></rdf:Description>"
      : form == XmpForm::kSingleQuotedAttribute
          ? " tiff:Orientation='" + digit + "' dc:format='image/jpeg'/>"
          : " tiff:Orientation=\"" + digit + "\" dc:format='image/jpeg'/>";
  return Text("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf="
              "'http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
              "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
              "xmlns:dc='http://purl.org/dc/elements/1.1/'" +
              properties + "</rdf:RDF></x:xmpmeta>");
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

namespace {

// sRGB's encoding and decoding of linear light, 0..1.
double SrgbEncoded(double linear) {
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}
double SrgbDecoded(double encoded) {
  return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};
constexpr cmsCIExyYTRIPLE kSrgbPrimaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
constexpr cmsCIExyYTRIPLE kAdobePrimaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
constexpr double kAdobeGamma = 563.0 / 256.0;

Bytes Saved(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  Bytes out;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    out.resize(size);
    if (!cmsSaveProfileToMem(profile, out.data(), &size)) out.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  if (out.empty()) throw std::runtime_error("LittleCMS could not write the test profile");
  return out;
}

Bytes RgbProfile(const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&kD65, &primaries, curves);
  cmsFreeToneCurve(curve);
  return Saved(profile);
}

using Matrix = std::array<std::array<double, 3>, 3>;

// RGB to XYZ for primaries and a white point given as xy chromaticities.
Matrix RgbToXyz(const cmsCIExyYTRIPLE& primaries, const cmsCIExyY& white) {
  const cmsCIExyY* columns[3] = {&primaries.Red, &primaries.Green, &primaries.Blue};
  Matrix chromaticities{};
  for (std::size_t c = 0; c < 3; ++c) {
    chromaticities[0][c] = columns[c]->x / columns[c]->y;
    chromaticities[1][c] = 1.0;
    chromaticities[2][c] = (1.0 - columns[c]->x - columns[c]->y) / columns[c]->y;
  }
  const std::array<double, 3> whiteXyz{white.x / white.y, 1.0, (1.0 - white.x - white.y) / white.y};
  // Scale each primary so that the three add up to the white: solve chromaticities · s = white.
  const Matrix& m = chromaticities;
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  std::array<double, 3> scale{};
  for (std::size_t c = 0; c < 3; ++c) {
    Matrix replaced = m;
    for (std::size_t r = 0; r < 3; ++r) replaced[r][c] = whiteXyz[r];
    const Matrix& n = replaced;
    scale[c] = (n[0][0] * (n[1][1] * n[2][2] - n[1][2] * n[2][1]) -
                n[0][1] * (n[1][0] * n[2][2] - n[1][2] * n[2][0]) +
                n[0][2] * (n[1][0] * n[2][1] - n[1][1] * n[2][0])) /
               det;
  }
  Matrix result{};
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 3; ++c) result[r][c] = m[r][c] * scale[c];
  }
  return result;
}

Matrix Inverse(const Matrix& m) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  Matrix inverse{};
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 3; ++c) {
      const std::size_t r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  }
  return inverse;
}

std::uint8_t Byte(double unit) {
  return static_cast<std::uint8_t>(std::lround(255.0 * std::clamp(unit, 0.0, 1.0)));
}

// The CLUT sampler of the print profile: ink amounts in, the model's colour as V2-encoded Lab out.
int SamplePrintModel(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
  const imaging::Rgb rgb = CmykPrintModel(in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0,
                                          in[3] / 65535.0);
  const double unit[3] = {rgb.red / 255.0, rgb.green / 255.0, rgb.blue / 255.0};
  cmsCIELab lab{};
  cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), unit, &lab, 1);
  cmsFloat2LabEncodedV2(out, &lab);
  return 1;
}

}  // namespace

std::vector<std::uint8_t> AdobeRgbProfile() { return AdobeRgbProfileWithGamma(kAdobeGamma); }

std::vector<std::uint8_t> AdobeRgbProfileWithGamma(double gamma) {
  return RgbProfile(kAdobePrimaries, cmsBuildGamma(nullptr, gamma));
}

std::vector<std::uint8_t> SampledSrgbProfile() {
  std::vector<cmsUInt16Number> table(1024);
  for (std::size_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<cmsUInt16Number>(
        std::lround(65535.0 * SrgbDecoded(static_cast<double>(i) / 1023.0)));
  }
  return RgbProfile(kSrgbPrimaries, cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data()));
}

std::vector<std::uint8_t> SrgbProfile() { return Saved(cmsCreate_sRGBProfile()); }

imaging::Rgb CmykPrintModel(double cyan, double magenta, double yellow, double black) {
  const double paper = 1.0 - black;
  return {Byte((1.0 - cyan) * paper), Byte((1.0 - magenta) * (1.0 - 0.25 * cyan) * paper),
          Byte((1.0 - yellow) * (1.0 - 0.15 * magenta) * paper)};
}

std::vector<std::uint8_t> CmykPrintProfile(int gridPoints) {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHPROFILE lab = cmsCreateLab2Profile(nullptr);
  cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                           INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsCloseProfile(srgb);
  cmsCloseProfile(lab);
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(profile, 2.1);
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsPipeline* table = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* grid = cmsStageAllocCLut16bit(nullptr, static_cast<cmsUInt32Number>(gridPoints), 4, 3,
                                          nullptr);
  cmsStageSampleCLut16bit(grid, SamplePrintModel, toLab, 0);
  cmsPipelineInsertStage(table, cmsAT_BEGIN, grid);
  cmsWriteTag(profile, cmsSigAToB0Tag, table);
  cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(table);
  cmsDeleteTransform(toLab);
  return Saved(profile);
}

imaging::Rgb AdobeRgbToSrgb(imaging::Rgb adobe) {
  static const Matrix toSrgb = [] {
    const Matrix fromXyz = Inverse(RgbToXyz(kSrgbPrimaries, kD65));
    const Matrix adobeToXyz = RgbToXyz(kAdobePrimaries, kD65);
    Matrix product{};
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t k = 0; k < 3; ++k) product[r][c] += fromXyz[r][k] * adobeToXyz[k][c];
      }
    }
    return product;
  }();
  const double linear[3] = {std::pow(adobe.red / 255.0, kAdobeGamma),
                            std::pow(adobe.green / 255.0, kAdobeGamma),
                            std::pow(adobe.blue / 255.0, kAdobeGamma)};
  std::array<std::uint8_t, 3> out{};
  for (std::size_t r = 0; r < 3; ++r) {
    const double value = toSrgb[r][0] * linear[0] + toSrgb[r][1] * linear[1] + toSrgb[r][2] * linear[2];
    out[r] = Byte(SrgbEncoded(std::clamp(value, 0.0, 1.0)));
  }
  return {out[0], out[1], out[2]};
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


namespace {

std::uint64_t BigAt(const Bytes& bytes, std::size_t at, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes.at(at + i);
  return value;
}

void PutBigAt(Bytes& bytes, std::size_t at, std::uint64_t value, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * (count - 1 - i)));
  }
}

// The bits of a NAL unit's payload, read and written most significant first.
struct BitCursor {
  const Bytes& bytes;
  std::size_t position = 0;
  std::uint64_t Bits(int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i, ++position) {
      value = (value << 1) | ((bytes.at(position / 8) >> (7 - position % 8)) & 1U);
    }
    return value;
  }
  std::uint64_t ExpGolomb() {
    int zeros = 0;
    while (Bits(1) == 0) ++zeros;
    return (std::uint64_t{1} << zeros) - 1 + Bits(zeros);
  }
};

void PutBits(std::vector<bool>& bits, std::uint64_t value, int count) {
  for (int i = count - 1; i >= 0; --i) bits.push_back(((value >> i) & 1U) != 0);
}

void PutExpGolomb(std::vector<bool>& bits, std::uint64_t value) {
  int length = 0;
  while ((value + 1) >> (length + 1) != 0) ++length;
  PutBits(bits, 0, length);
  PutBits(bits, value + 1, length + 1);
}

// An HEVC sequence parameter set (NAL header included) with its picture size replaced: the
// fields before it copied, the size re-encoded, the rest copied up to the stop bit, and the
// emulation-prevention bytes taken out and put back.
Bytes ResizedSequenceParameterSet(const Bytes& unit, std::uint32_t width, std::uint32_t height) {
  Bytes payload;
  int zeros = 0;
  for (const std::uint8_t byte : unit) {
    if (zeros >= 2 && byte == 3) {
      zeros = 0;
      continue;
    }
    payload.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  BitCursor in{payload};
  std::vector<bool> bits;
  // Copied a bit at a time: the profile fields run to 96 bits.
  const auto copy = [&](int count) {
    for (int i = 0; i < count; ++i) PutBits(bits, in.Bits(1), 1);
  };
  copy(16 + 4);  // NAL header, video parameter set id
  const auto subLayers = static_cast<int>(in.Bits(3));
  PutBits(bits, static_cast<std::uint64_t>(subLayers), 3);
  copy(1 + 96);  // temporal id nesting, general profile and level
  std::vector<std::pair<bool, bool>> present;
  for (int i = 0; i < subLayers; ++i) {
    const bool profile = in.Bits(1) != 0;
    const bool level = in.Bits(1) != 0;
    PutBits(bits, profile ? 1 : 0, 1);
    PutBits(bits, level ? 1 : 0, 1);
    present.emplace_back(profile, level);
  }
  if (subLayers > 0) copy(2 * (8 - subLayers));
  for (const auto& [profile, level] : present) copy((profile ? 88 : 0) + (level ? 8 : 0));
  PutExpGolomb(bits, in.ExpGolomb());  // sequence parameter set id
  const std::uint64_t chroma = in.ExpGolomb();
  PutExpGolomb(bits, chroma);
  if (chroma == 3) copy(1);
  in.ExpGolomb();
  in.ExpGolomb();
  PutExpGolomb(bits, width);
  PutExpGolomb(bits, height);
  std::size_t stop = payload.size() * 8 - 1;
  while (((payload.at(stop / 8) >> (7 - stop % 8)) & 1U) == 0) --stop;
  while (in.position <= stop) copy(1);
  while (bits.size() % 8 != 0) bits.push_back(false);
  Bytes resized;
  zeros = 0;
  for (std::size_t at = 0; at < bits.size(); at += 8) {
    std::uint8_t byte = 0;
    for (std::size_t i = 0; i < 8; ++i) byte = static_cast<std::uint8_t>(byte << 1 | bits[at + i]);
    if (zeros >= 2 && byte <= 3) {
      resized.push_back(3);
      zeros = 0;
    }
    resized.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return resized;
}

// Grows by `delta` every box of [start, end) that holds the byte at `at`, and those inside it
// among 'meta' (a full box), 'iprp' and 'ipco'.
void GrowBoxesAround(Bytes& heif, std::size_t start, std::size_t end, std::size_t at,
                     std::int64_t delta) {
  for (std::size_t box = start; box + 8 <= end;) {
    const std::size_t size = BigAt(heif, box, 4);
    const std::string type(heif.begin() + std::ptrdiff_t(box + 4),
                           heif.begin() + std::ptrdiff_t(box + 8));
    if (box + 8 <= at && at < box + size) {
      PutBigAt(heif, box, static_cast<std::uint64_t>(static_cast<std::int64_t>(size) + delta), 4);
      if (type == "meta" || type == "iprp" || type == "ipco") {
        GrowBoxesAround(heif, box + (type == "meta" ? 12 : 8), box + size, at, delta);
      }
    }
    box += size;
  }
}

// The position of the first box of `type` among [start, end) and inside 'meta' and 'iprp'.
std::optional<std::size_t> FindBox(const Bytes& heif, std::size_t start, std::size_t end,
                                   const std::string& type) {
  for (std::size_t box = start; box + 8 <= end;) {
    const std::size_t size = BigAt(heif, box, 4);
    const std::string found(heif.begin() + std::ptrdiff_t(box + 4),
                            heif.begin() + std::ptrdiff_t(box + 8));
    if (found == type) return box;
    if (found == "meta" || found == "iprp" || found == "ipco") {
      if (auto inner = FindBox(heif, box + (found == "meta" ? 12 : 8), box + size, type)) {
        return inner;
      }
    }
    box += size;
  }
  return std::nullopt;
}

// Calls `extent(offsetAt, offsetSize, lengthAt, lengthSize, start)` for every extent 'iloc' puts
// in the file (construction method 0), `start` its position.
template <typename Visit>
void ForEachFileExtent(const Bytes& heif, Visit&& extent) {
  const std::size_t iloc = FindBox(heif, 0, heif.size(), "iloc").value();
  const std::uint64_t version = heif.at(iloc + 8);
  const std::size_t offsetSize = heif.at(iloc + 12) >> 4;
  const std::size_t lengthSize = heif.at(iloc + 12) & 0xF;
  const std::size_t baseSize = heif.at(iloc + 13) >> 4;
  const std::size_t indexSize = version >= 1 ? heif.at(iloc + 13) & 0xF : 0;
  std::size_t at = iloc + 16;
  const std::uint64_t items = BigAt(heif, iloc + 14, 2);
  for (std::uint64_t item = 0; item < items; ++item) {
    at += 2;  // item id
    std::uint64_t method = 0;
    if (version >= 1) {
      method = BigAt(heif, at, 2) & 0xF;
      at += 2;
    }
    at += 2;  // data reference index
    const std::uint64_t base = BigAt(heif, at, baseSize);
    at += baseSize;
    const std::uint64_t extents = BigAt(heif, at, 2);
    at += 2;
    for (std::uint64_t e = 0; e < extents; ++e) {
      at += indexSize;
      const std::uint64_t start = base + BigAt(heif, at, offsetSize);
      if (method == 0) extent(at, offsetSize, at + offsetSize, lengthSize, start);
      at += offsetSize + lengthSize;
    }
  }
}

// The file with `count` bytes at `at` replaced by `replacement`: the boxes around them grow, file
// extents after them move, and one that holds them grows.
Bytes Spliced(Bytes heif, std::size_t at, std::size_t count, const Bytes& replacement) {
  const std::int64_t delta = std::int64_t(replacement.size()) - std::int64_t(count);
  const Bytes original = heif;
  GrowBoxesAround(heif, 0, heif.size(), at, delta);
  ForEachFileExtent(original, [&](std::size_t offsetAt, std::size_t offsetSize,
                                  std::size_t lengthAt, std::size_t lengthSize,
                                  std::uint64_t start) {
    const std::uint64_t length = BigAt(original, lengthAt, lengthSize);
    if (start > at) {
      PutBigAt(heif, offsetAt, BigAt(original, offsetAt, offsetSize) + std::uint64_t(delta),
               offsetSize);
    } else if (at < start + length) {
      PutBigAt(heif, lengthAt, length + std::uint64_t(delta), lengthSize);
    }
  });
  heif.erase(heif.begin() + std::ptrdiff_t(at), heif.begin() + std::ptrdiff_t(at + count));
  heif.insert(heif.begin() + std::ptrdiff_t(at), replacement.begin(), replacement.end());
  return heif;
}

}  // namespace

std::vector<std::uint8_t> WithItemDataPrefix(std::vector<std::uint8_t> heif,
                                             const std::vector<std::uint8_t>& prefix) {
  std::optional<std::uint64_t> first;
  ForEachFileExtent(heif, [&](std::size_t, std::size_t, std::size_t, std::size_t,
                              std::uint64_t start) {
    if (!first) first = start;
  });
  return Spliced(std::move(heif), static_cast<std::size_t>(first.value()), 0, prefix);
}

std::vector<std::uint8_t> WithSequencePictureSize(std::vector<std::uint8_t> heif,
                                                  std::uint32_t width, std::uint32_t height,
                                                  ParameterSetPlace place) {
  const std::size_t hvcC = FindBox(heif, 0, heif.size(), "hvcC").value();
  // The NAL unit arrays after the 23 bytes of header and count: type, count, length-prefixed units.
  std::size_t at = hvcC + 8 + 23;
  for (std::uint64_t arrays = heif.at(hvcC + 8 + 22); arrays > 0; --arrays) {
    const bool parameterSet = (heif.at(at) & 0x3F) == 33;
    std::uint64_t units = BigAt(heif, at + 1, 2);
    at += 3;
    for (; units > 0; --units) {
      const std::size_t length = BigAt(heif, at, 2);
      if (parameterSet) {
        const Bytes resized = ResizedSequenceParameterSet(
            Bytes(heif.begin() + std::ptrdiff_t(at + 2),
                  heif.begin() + std::ptrdiff_t(at + 2 + length)),
            width, height);
        if (place == ParameterSetPlace::kConfiguration) {
          PutBigAt(heif, at, resized.size(), 2);
          return Spliced(std::move(heif), at + 2, length, resized);
        }
        const std::size_t lengthBytes = (heif.at(hvcC + 8 + 21) & 3U) + 1U;
        Bytes unit;
        PutBytes(unit, static_cast<std::uint32_t>(resized.size()), static_cast<int>(lengthBytes),
                 true);
        unit.insert(unit.end(), resized.begin(), resized.end());
        return WithItemDataPrefix(std::move(heif), unit);
      }
      at += 2 + length;
    }
  }
  throw std::runtime_error("the file has no sequence parameter set in its 'hvcC' property");
}


std::vector<std::uint8_t> WithAv1FrameSize(std::vector<std::uint8_t> avif, std::uint32_t width,
                                           std::uint32_t height) {
  const std::size_t mdat = FindBox(avif, 0, avif.size(), "mdat").value();
  // OBUs with size fields: a header byte (type in bits 3..6), then the size in one LEB128 byte.
  for (std::size_t at = mdat + 8; at + 2 <= avif.size(); at += 2U + avif.at(at + 1)) {
    if (avif.at(at + 1) >= 0x80) break;
    if (((avif.at(at) >> 3) & 0xF) != 1) continue;
    // seq_profile, still_picture, reduced_still_picture_header = 1, seq_level_idx, then the
    // widths in bits less one and the sizes less one.
    const std::size_t start = (at + 2) * 8;
    BitCursor in{avif, start + 3 + 1};
    if (in.Bits(1) != 1) break;
    in.Bits(5);
    const auto widthBits = static_cast<int>(in.Bits(4)) + 1;
    const auto heightBits = static_cast<int>(in.Bits(4)) + 1;
    for (const auto& [value, bitCount] : {std::pair{width - 1, widthBits},
                                          std::pair{height - 1, heightBits}}) {
      if (value >> bitCount != 0) throw std::runtime_error("the size does not fit its bits");
      for (int i = bitCount - 1; i >= 0; --i, ++in.position) {
        const std::uint8_t mask = static_cast<std::uint8_t>(0x80U >> (in.position % 8));
        std::uint8_t& byte = avif.at(in.position / 8);
        byte = static_cast<std::uint8_t>(((value >> i) & 1U) != 0 ? byte | mask : byte & ~mask);
      }
    }
    return avif;
  }
  throw std::runtime_error("no reduced sequence header at the start of the 'mdat' box");
}

}  // namespace testsupport
