// HEIC, AVIF and WebP files as phones, cameras and browsers write them: made at test time by the
// libraries' own encoders and tools, and decoded as those tools decode them.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>
#include <linux/filter.h>
#include <malloc.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <tuple>

#include "imaging/Av1Decoder.h"
#include "imaging/ByteSource.h"
#include "imaging/FileKind.h"
#include "imaging/HandleTable.h"
#include "imaging/HeifCodec.h"
#include "imaging/HeifLibrary.h"
#include "imaging/Imaging.h"
#include "imaging/PhotoMetadata.h"
#include "imaging/WebpCodec.h"
#include "tests/support/PhotoFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;
using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

#define SKIP_WITHOUT(tool) \
  if (!HaveTool(tool))     \
  GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)"

// Runs a shell command quietly; true when it succeeds.
bool RunQuietly(const std::string& command) {
  return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// The command with every "{name}" replaced by its value.
std::string Filled(std::string command,
                   const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    for (std::size_t at; (at = command.find("{" + name + "}")) != std::string::npos;) {
      command.replace(at, name.size() + 2, value);
    }
  }
  return command;
}

// A PNG of 8- or 16-bit RGB or RGBA samples, `sample(x, y, channel)` each.
Bytes SamplePng(int width, int height, bool alpha, int depth,
                const std::function<unsigned(int, int, int)>& sample) {
  Bytes header;
  PutBytes(header, static_cast<std::uint32_t>(width), 4, true);
  PutBytes(header, static_cast<std::uint32_t>(height), 4, true);
  header.insert(header.end(),
                {static_cast<std::uint8_t>(depth), std::uint8_t(alpha ? 6 : 2), 0, 0, 0});
  Bytes rows;
  const int channels = alpha ? 4 : 3;
  for (int y = 0; y < height; ++y) {
    rows.push_back(0);
    for (int x = 0; x < width; ++x) {
      for (int channel = 0; channel < channels; ++channel) {
        PutBytes(rows, sample(x, y, channel), depth / 8, true);
      }
    }
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const Bytes& chunk :
       {PngChunk("IHDR", header), PngChunk("IDAT", Deflated(rows)), PngChunk("IEND", {})}) {
    png.insert(png.end(), chunk.begin(), chunk.end());
  }
  return png;
}

// 37 × 23, every channel varying, and alpha from clear on the left to opaque on the right.
Bytes TranslucentPng() {
  const Bitmap colours = PhotoLike(37, 23);
  return SamplePng(37, 23, true, 8, [&](int x, int y, int channel) {
    return channel == 3 ? unsigned(x * 255 / 36) : unsigned(colours.Row(y)[x * 3 + channel]);
  });
}

// A large "F", red on blue, 31 × 23: no turn or mirror leaves it as it is.
Bitmap BigF() {
  return Painted(31, 23, [](int x, int y) {
    return x < 6 || y < 5 || (y >= 10 && y < 14 && x < 20) ? kRed : kBlue;
  });
}

// A big-endian number of `count` bytes at `at`.
std::uint32_t BigAt(const Bytes& bytes, std::size_t at, int count = 4) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[at + std::size_t(i)];
  return value;
}

// The HEIF (written by libheif: one 'ipco', an 'ipma' of version 0 with 1-byte associations) with
// its primary image's size ('ispe') made `coded`, and a clean aperture ('clap', centred) cutting
// it to `shown`: the property added to 'ipco' and associated with the primary, the boxes that
// hold them grown to match.
Bytes WithCleanAperture(Bytes heif, std::pair<std::uint32_t, std::uint32_t> coded,
                        std::pair<std::uint32_t, std::uint32_t> shown) {
  const std::string text(heif.begin(), heif.end());
  const auto boxAt = [&](const char* type) { return text.find(type) - 4; };
  const auto grow = [&](std::size_t box, std::uint32_t by) {
    Bytes size;
    PutBytes(size, BigAt(heif, box) + by, 4, true);
    std::copy(size.begin(), size.end(), heif.begin() + std::ptrdiff_t(box));
  };
  const std::uint32_t primary = BigAt(heif, boxAt("pitm") + 12, 2);
  // The properties in 'ipco', counted from 1, and where each starts.
  const std::size_t ipco = boxAt("ipco");
  std::vector<std::size_t> properties;
  for (std::size_t at = ipco + 8; at < ipco + BigAt(heif, ipco); at += BigAt(heif, at)) {
    properties.push_back(at);
  }
  // The primary's entry in 'ipma': item id, count, one byte per association (the essential bit
  // and the property's index).
  const std::size_t ipma = boxAt("ipma");
  std::size_t entry = ipma + 16;
  while (BigAt(heif, entry, 2) != primary) entry += 3 + std::size_t{heif[entry + 2]};
  const std::size_t count = heif[entry + 2];
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t property = properties[(heif[entry + 3 + i] & 0x7Fu) - 1];
    if (text.compare(property + 4, 4, "ispe") == 0) {
      Bytes size;
      PutBytes(size, coded.first, 4, true);
      PutBytes(size, coded.second, 4, true);
      std::copy(size.begin(), size.end(), heif.begin() + std::ptrdiff_t(property + 12));
    }
  }
  // 'clap': width, height, horizontal and vertical offsets, each a numerator and a denominator.
  Bytes clap;
  for (const std::uint32_t value : {40u, 0u, shown.first, 1u, shown.second, 1u, 0u, 1u, 0u, 1u}) {
    PutBytes(clap, value, 4, true);
  }
  std::copy_n("clap", 4, clap.begin() + 4);
  // From the end of the file backwards, so the offsets found stay right.
  heif.insert(heif.begin() + std::ptrdiff_t(entry + 3 + count),
              static_cast<std::uint8_t>(0x80 | (properties.size() + 1)));
  heif[entry + 2] = static_cast<std::uint8_t>(count + 1);
  grow(ipma, 1);
  heif.insert(heif.begin() + std::ptrdiff_t(ipco + BigAt(heif, ipco)), clap.begin(), clap.end());
  grow(ipco, 40);
  grow(boxAt("iprp"), 41);
  grow(boxAt("meta"), 41);
  return heif;
}

struct HeifParts {
  int orientation = 1;  // written as irot and imir properties
  Bytes exif = {};      // TIFF structure
  Bytes xmp = {};
  Bytes icc = {};
  bool nclx = false;  // colour described by an nclx box
};

// The bitmap as an HEVC-coded HEIF file, written by libheif's own encoder (4:4:4, quality 95).
Bytes HeifFile(const Bitmap& bitmap, const HeifParts& parts, const std::string& path) {
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
  heif_encoder_set_lossy_quality(encoder, 95);
  heif_encoder_set_parameter_string(encoder, "chroma", "444");
  heif_image* image = nullptr;
  heif_image_create(bitmap.width, bitmap.height, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                    &image);
  heif_image_add_plane(image, heif_channel_interleaved, bitmap.width, bitmap.height, 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < bitmap.height; ++y) {
    std::copy_n(bitmap.Row(y), bitmap.RowBytes(), plane + static_cast<std::ptrdiff_t>(y) * stride);
  }
  if (!parts.icc.empty()) {
    heif_image_set_raw_color_profile(image, "prof", parts.icc.data(), parts.icc.size());
  }
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  if (parts.nclx) heif_image_set_nclx_color_profile(image, nclx);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = static_cast<heif_orientation>(parts.orientation);
  heif_image_handle* handle = nullptr;
  heif_context_encode_image(context, image, encoder, options, &handle);
  if (!parts.exif.empty()) {
    heif_context_add_exif_metadata(context, handle, parts.exif.data(),
                                   static_cast<int>(parts.exif.size()));
  }
  if (!parts.xmp.empty()) {
    heif_context_add_XMP_metadata(context, handle, parts.xmp.data(),
                                  static_cast<int>(parts.xmp.size()));
  }
  heif_context_write_to_file(context, path.c_str());
  heif_image_handle_release(handle);
  heif_encoding_options_free(options);
  heif_nclx_color_profile_free(nclx);
  heif_image_release(image);
  heif_encoder_release(encoder);
  heif_context_free(context);
  return ReadFileBytes(path);
}

class HeifWebpTest : public ::testing::Test {
 protected:
  ~HeifWebpTest() override { ResetHandleTable(); }

  // The pixels of a file as the library loads it; an empty bitmap when it does not load.
  static Bitmap Loaded(const std::string& path, const PhotoHandling& handling = {}) {
    const ImageHandle handle = LoadImageFile(path, handling);
    Bitmap bitmap = handle != 0 ? PixelsOf(handle) : Bitmap{};
    FreeImage(handle);
    return bitmap;
  }

  // Loads `input` and saves it as `output` (JPEG or PNG by its extension); the path saved.
  std::string Converted(const std::string& input, const std::string& output,
                        const PhotoHandling& handling = {}) {
    const ImageHandle handle = LoadImageFile(input, handling);
    EXPECT_NE(handle, 0u) << input;
    const std::string path = folder.File(output);
    EXPECT_EQ(output.ends_with(".jpg") ? SaveJpeg(path, handle, 95, 0) : SavePng(path, handle, 0),
              1);
    FreeImage(handle);
    return path;
  }

  TempFolder folder;
};

TEST_F(HeifWebpTest, DecodesAsTheLibrariesOwnToolsDo) {
  for (const char* tool : {"heif-enc", "heif-convert", "avifenc", "cwebp", "dwebp"}) {
    SKIP_WITHOUT(std::string(tool));
  }
  SaveImageFile(PhotoLike(37, 23), folder.File("photo.png"));
  // Three tiles of 86 × 66: a grid's tiles are at least 64 pixels a side and even in 4:2:0.
  SaveImageFile(PhotoLike(258, 66), folder.File("wide.png"));
  WriteFileBytes(folder.File("translucent.png"), TranslucentPng());
  // Red in the last row and the last column, which 4:2:0 gives chroma samples of their own (the
  // sides are odd), blue elsewhere.
  SaveImageFile(Painted(37, 23,
                        [](int x, int y) {
                          return x == 36 || y == 22 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
                        }),
                folder.File("edges.png"));
  // More pixels than a side may have (65,535): the pixel limit is not the side's.
  SaveImageFile(PhotoLike(301, 223), folder.File("large.png"));
  struct Row {
    std::string name, input, encode, decode;
    std::int32_t kind;
    bool lossless = false;  // decodes to the input's own pixels too
    std::pair<int, int> size = {37, 23};
    // heif-convert writes deeper samples as 16-bit PNG, which loads rounded from 16 bits, where
    // ours are rounded from the coded 10.
    int tolerance = 0;
  };
  // Alpha goes onto white in both: the tools write RGBA PNG files, which load composited.
  const Row rows[] = {
      {"photo.heic", "photo.png", "heif-enc -q 80 -o {out} {in}", "heif-convert {out} {ref}", 10},
      {"translucent.heic", "translucent.png", "heif-enc -q 80 -o {out} {in}",
       "heif-convert {out} {ref}", 10},
      {"photo.avif", "photo.png", "avifenc -s 10 {in} {out}", "heif-convert {out} {ref}", 11},
      {"translucent.avif", "translucent.png", "avifenc -s 10 {in} {out}",
       "heif-convert {out} {ref}", 11},
      // The other sample layouts and depths dav1d hands back, each plane sized from the odd
      // sides.
      {"deep444.avif", "photo.png", "avifenc -s 10 -d 10 -y 444 {in} {out}",
       "heif-convert {out} {ref}", 11, false, {37, 23}, 1},
      {"large422.avif", "large.png", "avifenc -s 10 -y 422 {in} {out}", "heif-convert {out} {ref}",
       11, false, {301, 223}},
      {"edges.avif", "edges.png", "avifenc -s 10 {in} {out}", "heif-convert {out} {ref}", 11},
      // Its colour description in the AV1 sequence header alone (the container's 'colr' box
      // renamed to a type libheif does not know): BT.601 matrix, BT.709 primaries, limited range.
      {"bitstream-colour.avif", "photo.png",
       "avifenc -s 10 --cicp 1/13/6 -r limited {in} {out} && "
       "perl -0777 -pi -e 's/colr/xxxx/g' {out}",
       "heif-convert {out} {ref}", 11},
      {"grey.avif", "photo.png", "avifenc -s 10 -y 400 {in} {out}", "heif-convert {out} {ref}",
       11},
      // A tiled grid, as phones write their photos, decoded whole.
      {"grid.avif", "wide.png", "avifenc -s 10 --grid 3x1 {in} {out}", "heif-convert {out} {ref}",
       11, false, {258, 66}},
      {"lossy.webp", "photo.png", "cwebp -q 80 {in} -o {out}", "dwebp {out} -o {ref}", 12},
      {"translucent.webp", "translucent.png", "cwebp -q 80 -alpha_q 50 {in} -o {out}",
       "dwebp {out} -o {ref}", 12},
      {"lossless.webp", "translucent.png", "cwebp -lossless {in} -o {out}", "dwebp {out} -o {ref}",
       12},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string out = folder.File(row.name);
    const std::string reference = folder.File(row.name + ".png");
    ASSERT_TRUE(RunQuietly(Filled(row.encode, {{"in", folder.File(row.input)}, {"out", out}})));
    ASSERT_TRUE(RunQuietly(Filled(row.decode, {{"out", out}, {"ref", reference}})));
    EXPECT_EQ(ProbeFileKind(out, 0), row.kind);
    const Bitmap ours = Loaded(out);
    EXPECT_EQ(std::pair(ours.width, ours.height), row.size);
    EXPECT_LE(LargestDifference(ours, Loaded(reference)), row.tolerance);
    if (row.lossless) {
      EXPECT_EQ(LargestDifference(ours, Loaded(folder.File(row.input))), 0);
    }
  }
}

// The kind by content: the brands of a HEIF file's type box, the primary image of a file whose
// brands name no codec, and the first chunk of a WebP file.
TEST_F(HeifWebpTest, KindsAreToldByContent) {
  const auto box = [](const std::string& type, const Bytes& content) {
    Bytes bytes;
    PutBytes(bytes, static_cast<std::uint32_t>(8 + content.size()), 4, true);
    bytes.insert(bytes.end(), type.begin(), type.end());
    bytes.insert(bytes.end(), content.begin(), content.end());
    return bytes;
  };
  const auto text = [](const std::string& value) { return Bytes(value.begin(), value.end()); };
  const auto joined = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  // A 'meta' box whose 'pitm' names item 2, with an 'iinf' of items 1 and 2 of the given types.
  const auto meta = [&](const std::string& first, const std::string& second) {
    const auto infe = [&](std::uint8_t id, const std::string& type) {
      return box("infe", joined({{2, 0, 0, 0, 0, id, 0, 0}, text(type)}));
    };
    return box(
        "meta",
        joined({{0, 0, 0, 0},
                box("hdlr", Bytes(24, 0)),
                box("pitm", {0, 0, 0, 0, 0, 2}),
                box("iinf", joined({{0, 0, 0, 0, 0, 2}, infe(1, first), infe(2, second)}))}));
  };
  const auto ftyp = [&](const std::string& brands) {
    return box("ftyp", joined({text(brands.substr(0, 4)), {0, 0, 0, 0}, text(brands.substr(4))}));
  };
  const auto webp = [&](const std::string& chunk) {
    return joined({text("RIFF"), {30, 0, 0, 0}, text("WEBP" + chunk), Bytes(22, 0)});
  };
  const struct {
    const char* name;
    Bytes bytes;
    std::int32_t kind;
  } rows[] = {
      {"iPhone brands", ftyp("heicmif1heic"), kFileKindHeic},
      {"10-bit brand after a neutral major brand", ftyp("mif1mif1heix"), kFileKindHeic},
      {"multiview", ftyp("heimheim"), kFileKindHeic},
      {"scalable", ftyp("heisheis"), kFileKindHeic},
      {"HEVC sequence", ftyp("hevcmsf1hevc"), kFileKindHeic},
      {"HEVC sequence, range extension", ftyp("hevxhevx"), kFileKindHeic},
      {"AVIF", ftyp("avifmif1miafMA1B"), kFileKindAvif},
      {"AVIF sequence", ftyp("msf1avis"), kFileKindAvif},
      {"neutral brand, HEVC primary image", joined({ftyp("mif1mif1miaf"), meta("av01", "hvc1")}),
       kFileKindHeic},
      {"neutral brand, AV1 primary image", joined({ftyp("mif1mif1"), meta("hvc1", "av01")}),
       kFileKindAvif},
      {"neutral brand, grid of AV1 tiles", joined({ftyp("msf1"), meta("av01", "grid")}),
       kFileKindAvif},
      {"neutral brand, meta box after 200 bytes of media data",
       joined({ftyp("mif1"), box("mdat", Bytes(200, 7)), meta("hvc1", "hvc1")}), kFileKindHeic},
      {"neutral brand, JPEG-coded primary image", joined({ftyp("mif1"), meta("hvc1", "jpeg")}),
       kFileKindUnknown},
      {"neutral brand, no meta box", ftyp("mif1mif1"), kFileKindUnknown},
      {"MP4 video", ftyp("isomiso2mp41"), kFileKindUnknown},
      {"type box shorter than its header", joined({{0, 0, 0, 12}, text("ftypheic0000")}),
       kFileKindUnknown},
      {"lossy WebP", webp("VP8 "), kFileKindWebp},
      {"lossless WebP", webp("VP8L"), kFileKindWebp},
      {"extended WebP", webp("VP8X"), kFileKindWebp},
      {"RIFF audio", joined({text("RIFF"), {30, 0, 0, 0}, text("WAVEfmt "), Bytes(22, 0)}),
       kFileKindUnknown},
      {"WebP with an unknown first chunk", webp("VP9 "), kFileKindUnknown},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // The headers are what tells the kind: the probe's own check of the header is passed by.
    EXPECT_EQ(FileKindOfSource(MemorySource(row.bytes), false), row.kind);
  }
}

// A phone stores its photo as the sensor saw it, with rotation and mirror properties (irot, imir)
// and an EXIF orientation that both describe the turn to upright: the image comes out upright,
// turned once, and its outputs say orientation 1.
TEST_F(HeifWebpTest, EveryHeifOrientationIsUprightAndTurnedOnce) {
  const Bitmap upright = BigF();
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    const Bitmap stored = StoredForOrientation(upright, orientation);
    const std::string input = folder.File("photo.heic");
    HeifFile(stored, {orientation, CameraExif(orientation, {stored.width, stored.height}, false)},
             input);
    EXPECT_EQ(ImageSizeOf(input), std::pair(31, 23));
    EXPECT_EQ(Shape(Loaded(input)), Shape(upright));
    const std::string jpeg = Converted(input, "upright.jpg");
    EXPECT_EQ(Shape(Loaded(jpeg)), Shape(upright)) << "the output is not turned again";
    EXPECT_EQ(ExifOrientation(MetadataOfFile(jpeg).exif), 1);
    // Without auto-orientation, the pixels as the sensor stored them and the tag as it was.
    const std::string kept = Converted(input, "kept.png", {.autoOrient = false});
    EXPECT_EQ(Shape(Loaded(kept, {.autoOrient = false})), Shape(stored));
    EXPECT_EQ(ExifOrientation(MetadataOfFile(kept).exif), orientation);
  }
}

// The AV1 decoder's own planes, through its plugin interface: each sample layout gives the planes
// libheif expects, the chroma sized from odd sides rounded up, at the coded depth.
TEST_F(HeifWebpTest, TheAv1DecoderGivesEachLayoutItsPlanes) {
  SKIP_WITHOUT("avifenc");
  const std::string png = SaveImageFile(PhotoLike(37, 23), folder.File("photo.png"));
  struct Row {
    std::string layout;
    int depth;
    std::pair<int, int> chroma;  // {0, 0}: no chroma planes
  };
  const Row rows[] = {
      {"420", 8, {19, 12}}, {"422", 10, {19, 23}}, {"444", 8, {37, 23}}, {"400", 10, {0, 0}}};
  const heif_decoder_plugin& plugin = heif::OneThreadAv1Decoder();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.layout + " at " + std::to_string(row.depth) + " bits");
    const std::string avif = folder.File("layout" + row.layout + ".avif");
    ASSERT_TRUE(RunQuietly("avifenc -s 10 -y " + row.layout + " -d " + std::to_string(row.depth) +
                           " " + png + " " + avif));
    // The one image's AV1 data fill the 'mdat' box (a 32-bit size, then the type).
    const Bytes file = ReadFileBytes(avif);
    const std::size_t box = std::string(file.begin(), file.end()).find("mdat") - 4;
    const std::size_t boxSize = BigAt(file, box);
    ASSERT_LE(box + boxSize, file.size());
    const Bytes av1(file.begin() + std::ptrdiff_t(box + 8),
                    file.begin() + std::ptrdiff_t(box + boxSize));
    void* decoder = nullptr;
    ASSERT_EQ(plugin.new_decoder(&decoder).code, heif_error_Ok);
    ASSERT_EQ(plugin.push_data(decoder, av1.data(), av1.size()).code, heif_error_Ok);
    heif_image* image = nullptr;
    const heif_error decoded = plugin.decode_image(decoder, &image);
    plugin.free_decoder(decoder);
    ASSERT_EQ(decoded.code, heif_error_Ok) << decoded.message;
    EXPECT_EQ(heif_image_get_width(image, heif_channel_Y), 37);
    EXPECT_EQ(heif_image_get_height(image, heif_channel_Y), 23);
    EXPECT_EQ(heif_image_get_bits_per_pixel_range(image, heif_channel_Y), row.depth);
    for (const heif_channel channel : {heif_channel_Cb, heif_channel_Cr}) {
      EXPECT_EQ(heif_image_has_channel(image, channel) != 0, row.chroma.first > 0);
      if (heif_image_has_channel(image, channel) != 0) {
        EXPECT_EQ(std::pair(heif_image_get_width(image, channel),
                            heif_image_get_height(image, channel)),
                  row.chroma);
        EXPECT_EQ(heif_image_get_bits_per_pixel_range(image, channel), row.depth);
      }
    }
    heif_image_release(image);
  }
}

// From here on the process cannot start a thread: clone and clone3 fail as they do when the
// system has no room for another. True when the filter is in place.
bool ForbidNewThreads() {
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
  };
  const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// A decode gives back all that libheif took for it, so a long batch of photos does not grow: eight
// decoded images kept would hold 1.6 MB. (The sanitizer builds see leaks themselves; their
// allocator is not the one mallinfo2 counts.)
TEST_F(HeifWebpTest, DecodingGivesBackWhatItTook) {
  const Bytes heic = HeifFile(PhotoLike(301, 223), {}, folder.File("large.heic"));
  const auto inUse = [] {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
  };
  ASSERT_TRUE(heif::Decode(heic));  // the library's one-time set-up
  const long long before = inUse();
  for (int round = 0; round < 8; ++round) ASSERT_TRUE(heif::Decode(heic));
  EXPECT_LT(inUse() - before, 200 * 1024);
}

// libheif is loaded by name at the first HEIF or AVIF file. The system's library resolves every
// function to the one the linker binds; one that does not load, or a libheif.so.1 that lacks
// functions, is refused with the loader's reason, and nothing of it is used.
TEST(HeifLibraryTest, LoadsWholeOrRefusesWithTheReason) {
  const Result<heif::Library>& system = heif::LoadedLibrary();
  ASSERT_TRUE(system) << system.Reason();
#define EXPECT_BOUND(name)                                                                  \
  EXPECT_EQ(reinterpret_cast<void*>(system->name), reinterpret_cast<void*>(&::heif_##name)) \
      << "heif_" #name;
  IMAGING_HEIF_FUNCTIONS(EXPECT_BOUND)
#undef EXPECT_BOUND

  const std::string standIn = std::string(TESSELLARION_HEIF_STAND_IN_DIR) + "/libheif.so.1";
  const std::pair<std::string, std::string> rows[] = {
      {"/nonexistent/libheif.so.1",
       "HEIF: the library could not be loaded (/nonexistent/libheif.so.1: cannot open shared object "
       "file: No such file or directory)"},
      {standIn, "HEIF: the library " + standIn + " lacks heif_register_decoder_plugin"},
  };
  for (const auto& [file, reason] : rows) {
    SCOPED_TRACE(file);
    const Result<heif::Library> loaded = heif::LoadLibrary(file.c_str());
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loaded.Reason(), reason);
  }
}

// A batch converts one file per core, so an AV1 image decodes on the thread that loads it: in a
// process that cannot start a thread, an AVIF still loads, alpha plane and all.
TEST_F(HeifWebpTest, AnAvifDecodesOnTheThreadThatLoadsIt) {
  SKIP_WITHOUT("avifenc");
  WriteFileBytes(folder.File("translucent.png"), TranslucentPng());
  const std::string avif = folder.File("translucent.avif");
  ASSERT_TRUE(RunQuietly("avifenc -s 10 " + folder.File("translucent.png") + " " + avif));
  // Nothing is loaded before: the child decodes the file rather than take back a remembered image.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!ForbidNewThreads()) _exit(2);
    const Bitmap loaded = Loaded(avif);
    _exit(loaded.width == 37 && loaded.height == 23 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the filter could not be set; 1: the image did not load";
}

// 10-bit samples go to the nearest 8-bit value: 3 of 1023 is 0.75 of 255 (1, where dropping the
// low bits gives 0), 7 is 1.74 (2, not 1), 1021 is 254.5 (255).
TEST_F(HeifWebpTest, TenBitSamplesAreRoundedToEightBits) {
  SKIP_WITHOUT(std::string("avifenc"));
  const auto tenBit = [](int x, int y, int channel) {
    return unsigned((x * 29 + y * 31 + channel * 7) % 1024);
  };
  // Stored losslessly (identity matrix, 4:4:4): each 16-bit sample is the one that stores the
  // 10-bit value exactly.
  WriteFileBytes(folder.File("deep.png"), SamplePng(37, 23, false, 16, [=](int x, int y, int c) {
                   return unsigned(std::lround(tenBit(x, y, c) * 65535.0 / 1023.0));
                 }));
  const std::string input = folder.File("deep.avif");
  ASSERT_TRUE(RunQuietly("avifenc -l -d 10 " + folder.File("deep.png") + " " + input));
  const Bitmap ours = Loaded(input);
  ASSERT_EQ(std::pair(ours.width, ours.height), std::pair(37, 23));
  int rounded = 0;
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) {
      for (int c = 0; c < 3; ++c) {
        const unsigned value = tenBit(x, y, c);
        rounded += ours.Row(y)[x * 3 + c] == (value * 255 + 511) / 1023;
      }
    }
  }
  EXPECT_EQ(rounded, 37 * 23 * 3);
}

// Alpha over white, exactly as a PNG's: clear pixels white, half-covered ones halfway there.
TEST_F(HeifWebpTest, TransparencyIsCompositedOntoWhite) {
  SKIP_WITHOUT(std::string("cwebp"));
  WriteFileBytes(folder.File("clear.png"), SamplePng(5, 3, true, 8, [](int x, int, int c) {
                   return c == 3 ? unsigned(std::min(x * 64, 255)) : c == 0 ? 200u : 10u;
                 }));
  const std::string input = folder.File("clear.webp");
  ASSERT_TRUE(RunQuietly("cwebp -lossless -exact " + folder.File("clear.png") + " -o " + input));
  const Bitmap ours = Loaded(input);
  EXPECT_EQ(PixelAt(ours, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(ours, 2, 1), (Rgb{227, 132, 132}));  // 200 and 10 at 128 of 255
  EXPECT_EQ(PixelAt(ours, 4, 2), (Rgb{200, 10, 10}));    // opaque
}

// What the source carries goes into JPEG and PNG outputs byte for byte, as from a JPEG; stripped,
// nothing does; a colour told by an nclx box instead of a profile gives no profile, and XMP without
// EXIF travels alone.
TEST_F(HeifWebpTest, MetadataTravelIntoJpegAndPngOutputs) {
  SKIP_WITHOUT(std::string("cwebp"));
  SKIP_WITHOUT(std::string("webpmux"));
  const Bitmap photo = BigF();
  const Bytes exif = CameraExif(1, {31, 23}, false);
  const Bytes xmp = XmpPacket(1);
  const Bytes icc = IccProfile(3000);
  const std::string heic = folder.File("camera.heic");
  HeifFile(photo, {1, exif, xmp, icc}, heic);
  const std::string nclx = folder.File("nclx.heic");
  HeifFile(photo, {.xmp = xmp, .nclx = true}, nclx);
  WriteFileBytes(folder.File("exif.bin"), exif);
  WriteFileBytes(folder.File("xmp.bin"), xmp);
  WriteFileBytes(folder.File("icc.bin"), icc);
  const std::string webp = folder.File("camera.webp");
  ASSERT_TRUE(RunQuietly("cwebp -q 90 " + SaveImageFile(photo, folder.File("plain.png")) + " -o " +
                         folder.File("plain.webp")));
  ASSERT_TRUE(RunQuietly(Filled(
      "webpmux -set exif {f}exif.bin {f}plain.webp -o {out} && webpmux -set xmp {f}xmp.bin {out} "
      "-o {out} && webpmux -set icc {f}icc.bin {out} -o {out}",
      {{"f", folder.Path()}, {"out", webp}})));
  for (const std::string& input : {heic, webp, nclx}) {
    for (const std::string extension : {".jpg", ".png"}) {
      SCOPED_TRACE(input + " to " + extension);
      const PhotoMetadata kept = MetadataOfFile(Converted(input, "kept" + extension));
      EXPECT_EQ(kept.exif, input == nclx ? Bytes{} : exif);
      EXPECT_EQ(kept.xmp, xmp);
      EXPECT_EQ(kept.icc, input == nclx ? Bytes{} : icc);
      EXPECT_TRUE(MetadataOfFile(Converted(input, "stripped" + extension, {.keepMetadata = false}))
                      .Empty());
    }
  }
}

// A WebP's EXIF orientation turns it as a JPEG's does, whether its chunk holds the TIFF structure
// alone or after JPEG's "Exif" name, as some writers put it.
TEST_F(HeifWebpTest, AWebpIsTurnedByItsExifOrientation) {
  SKIP_WITHOUT(std::string("cwebp"));
  SKIP_WITHOUT(std::string("webpmux"));
  const Bitmap upright = BigF();
  const Bitmap stored = StoredForOrientation(upright, 6);
  ASSERT_TRUE(RunQuietly("cwebp -q 95 " + SaveImageFile(stored, folder.File("stored.png")) +
                         " -o " + folder.File("stored.webp")));
  const Bytes exif = CameraExif(6, {23, 31}, false);
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "after \"Exif\"" : "TIFF structure alone");
    Bytes chunk = named ? Bytes{'E', 'x', 'i', 'f', 0, 0} : Bytes{};
    chunk.insert(chunk.end(), exif.begin(), exif.end());
    WriteFileBytes(folder.File("exif.bin"), chunk);
    const std::string input = folder.File("photo.webp");
    ASSERT_TRUE(RunQuietly("webpmux -set exif " + folder.File("exif.bin") + " " +
                           folder.File("stored.webp") + " -o " + input));
    EXPECT_EQ(Shape(Loaded(input)), Shape(upright));
    EXPECT_EQ(Shape(Loaded(input, {.autoOrient = false})), Shape(stored));
    const PhotoMetadata saved = MetadataOfFile(Converted(input, "upright.jpg"));
    EXPECT_EQ(ExifOrientation(saved.exif), 1);
    EXPECT_EQ(saved.exif.size(), exif.size());
  }
}

// Of an animated WebP the first frame; a HEIF image sequence without a still image is not taken.
TEST_F(HeifWebpTest, AnAnimationGivesItsFirstFrameAndASequenceAloneNothing) {
  SKIP_WITHOUT(std::string("img2webp"));
  SKIP_WITHOUT(std::string("avifenc"));
  const std::string first = folder.File("first.png");
  const std::string second = SaveImageFile(PhotoLike(37, 23), folder.File("second.png"));
  WriteFileBytes(first, TranslucentPng());
  const std::string animation = folder.File("animation.webp");
  ASSERT_TRUE(RunQuietly("img2webp -lossless " + first + " " + second + " -o " + animation));
  EXPECT_EQ(ProbeFileKind(animation, 0), kFileKindWebp);
  EXPECT_EQ(LargestDifference(Loaded(animation), Loaded(first)), 0);

  const std::string sequence = folder.File("sequence.avif");
  ASSERT_TRUE(RunQuietly("avifenc " + second + " " + first + " " + sequence));
  EXPECT_EQ(ProbeFileKind(sequence, 0), kFileKindAvif) << "with its still image";
  // The same sequence with its still image's box made free space.
  Bytes bytes = ReadFileBytes(sequence);
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t meta = text.find("meta");
  ASSERT_NE(meta, std::string::npos);
  std::copy_n("free", 4, bytes.begin() + static_cast<std::ptrdiff_t>(meta));
  WriteFileBytes(sequence, bytes);
  EXPECT_EQ(ProbeFileKind(sequence, 0), kFileKindUnknown);
  EXPECT_EQ(LoadImageFile(sequence), 0u);
}

// A file cut short is refused when its headers do not read, and fails to load otherwise; a size
// beyond the limits in the headers is refused before any pixel is decoded (the sanitizer build
// fails any allocation above 1 GB).
TEST_F(HeifWebpTest, DamagedAndOversizedFilesAreRefused) {
  SKIP_WITHOUT(std::string("cwebp"));
  SKIP_WITHOUT(std::string("avifenc"));
  const std::string png = SaveImageFile(PhotoLike(37, 23), folder.File("photo.png"));
  ASSERT_TRUE(RunQuietly("cwebp " + png + " -o " + folder.File("photo.webp")));
  ASSERT_TRUE(RunQuietly("avifenc " + png + " " + folder.File("photo.avif")));
  const std::pair<Bytes, std::int32_t> files[] = {
      {HeifFile(PhotoLike(37, 23), {}, folder.File("photo.heic")), kFileKindHeic},
      {ReadFileBytes(folder.File("photo.avif")), kFileKindAvif},
      {ReadFileBytes(folder.File("photo.webp")), kFileKindWebp}};
  const std::string input = folder.File("damaged");
  for (const auto& [bytes, kind] : files) {
    for (const std::size_t length : {std::size_t{24}, bytes.size() / 2, bytes.size() - 1}) {
      SCOPED_TRACE("kind " + std::to_string(kind) + " cut to " + std::to_string(length));
      WriteFileBytes(input, Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(length)));
      const std::int32_t probed = ProbeFileKind(input, 0);
      EXPECT_TRUE(probed == kind || probed == kFileKindUnknown) << probed;
      if (length == 24) {
        EXPECT_EQ(probed, kFileKindUnknown) << "the headers are not there";
      }
      ClearFailureReason();
      EXPECT_EQ(LoadImageFile(input), 0u);
      // The reason names the library's format: the file was not taken for another kind.
      if (probed == kind && kind != kFileKindWebp) {
        EXPECT_TRUE(FailureReason().starts_with("HEIF: ")) << FailureReason();
      } else if (probed == kind) {
        EXPECT_EQ(FailureReason(), "WebP: data ends in the middle of the image");
      }
    }
  }
  const Bytes heic = files[0].first;
  // Its headers whole, its coded image data (the 'mdat' box's content) all 0xFF.
  Bytes garbled = heic;
  const std::string heicText(heic.begin(), heic.end());
  std::fill(garbled.begin() + std::ptrdiff_t(heicText.find("mdat") + 4), garbled.end(), 0xFF);
  WriteFileBytes(input, garbled);
  EXPECT_EQ(ProbeFileKind(input, 0), kFileKindHeic);
  EXPECT_EQ(LoadImageFile(input), 0u);
  // libheif's own words for the damaged HEVC stream.
  EXPECT_EQ(FailureReason(),
            "HEIF: Invalid input: Unspecified: NAL stream was rejected because a NAL unit size is "
            "invalid.");
  // The HEIF with the coded size of every image ('ispe': version, width, height) made larger.
  const auto coded = [&](std::uint32_t width, std::uint32_t height) {
    Bytes size;
    PutBytes(size, width, 4, true);
    PutBytes(size, height, 4, true);
    Bytes patched = heic;
    const std::string text(heic.begin(), heic.end());
    for (std::size_t at = text.find("ispe"); at != std::string::npos;
         at = text.find("ispe", at + 1)) {
      std::copy(size.begin(), size.end(), patched.begin() + std::ptrdiff_t(at + 8));
    }
    return patched;
  };
  // VP8L: its signature, then width − 1 and height − 1 in 14 bits each.
  const auto lossless = [](std::uint32_t width, std::uint32_t height) {
    Bytes webp = {'R', 'I', 'F', 'F', 30,  0,  0, 0, 'W', 'E', 'B',
                  'P', 'V', 'P', '8', 'L', 18, 0, 0, 0,   0x2F};
    PutBytes(webp, (width - 1) | ((height - 1) << 14));
    webp.resize(38);
    return webp;
  };
  // The 37 × 23 HEIF is a grid of one 64 × 64 tile (libheif codes no smaller picture); its grid's
  // output size ('idat': version, flags, rows − 1, columns − 1, width, height) made larger.
  const auto grid = [&](std::uint16_t width, std::uint16_t height) {
    Bytes patched = heic;
    const std::size_t idat = heicText.find("idat");
    for (const auto& [at, value] : {std::pair{idat + 8, width}, std::pair{idat + 10, height}}) {
      patched[at] = static_cast<std::uint8_t>(value >> 8);
      patched[at + 1] = static_cast<std::uint8_t>(value);
    }
    return patched;
  };
  // 259 × 67 in one coded picture of 264 × 72 (x265 pads to 8; AV1 codes 259 × 67 in 9 and 7
  // bits): 320 × 128 in whole 64-pixel coding blocks.
  const Bytes single = HeifFile(PhotoLike(259, 67), {}, folder.File("single.heic"));
  ASSERT_TRUE(RunQuietly("avifenc " + SaveImageFile(PhotoLike(259, 67), folder.File("single.png")) +
                         " " + folder.File("single.avif")));
  const auto stream = [](const Bytes& file, std::uint32_t width, std::uint32_t height,
                         ParameterSetPlace place = ParameterSetPlace::kConfiguration) {
    return WithSequencePictureSize(file, width, height, place);
  };
  const struct {
    const char* name;
    Bytes bytes;
    std::string reason;  // empty: libheif's own words
  } oversized[] = {
      // Headers within the limits whose coded stream or grid would have the decoder allocate a
      // far larger picture.
      {"HEIC tile's parameter set claims 4001 × 23", stream(heic, 4001, 23),
       "HEIF: its coded stream claims 4001 x 23 pixels, beyond the size limits"},
      {"HEIC tile's parameter set in its data claims 129 × 65",
       stream(heic, 129, 65, ParameterSetPlace::kItemData),
       "HEIF: its coded stream claims 129 x 65 pixels, beyond the size limits"},
      {"HEIC parameter set claims 321 × 72, a block beyond 259 × 67", stream(single, 321, 72),
       "HEIF: its coded stream claims 321 x 72 pixels, beyond the size limits"},
      {"HEIC parameter set in the data claims 70001 × 5",
       stream(single, 70001, 5, ParameterSetPlace::kItemData),
       "HEIF: its coded stream claims 70001 x 5 pixels, beyond the size limits"},
      {"HEIC parameter set in the data behind 4-byte lengths, 'hvcC' saying 3",
       [&] {
         Bytes patched = stream(single, 70001, 5, ParameterSetPlace::kItemData);
         // 'hvcC' content byte 21: lengthSizeMinusOne in its low two bits; libheif reads 4.
         const std::size_t at = std::string(patched.begin(), patched.end()).find("hvcC") + 4 + 21;
         patched[at] = static_cast<std::uint8_t>((patched[at] & ~3U) | 2U);
         return patched;
       }(),
       "HEIF: its coded stream claims 70001 x 5 pixels, beyond the size limits"},
      // 65,537 empty NAL units (a 4-byte length of 0 each) before a tile's data: the walk that
      // looks for parameter sets stops, so that items sharing data cannot make it endless.
      {"HEIC tile data split into 65537 units", WithItemDataPrefix(heic, Bytes(4 * 65537, 0)),
       "HEIF: its images' coded data are split into more than 65536 units"},
      {"AVIF sequence header allows 512 × 66 frames, a block beyond 259 × 67",
       WithAv1FrameSize(ReadFileBytes(folder.File("single.avif")), 512, 66),
       "HEIF: its coded stream claims 512 x 66 pixels, beyond the size limits"},
      {"HEIC grid claims 9001 × 23", grid(9001, 23),
       "HEIF: its grid claims 9001 x 23 pixels, beyond the size limits"},
      {"HEIC of 10001 × 10000, 1 MP beyond the limit", coded(10001, 10000),
       "HEIF: 10001 x 10000 pixels is outside the size limits"},
      {"HEIC 65536 wide", coded(65536, 23), ""},
      {"HEIC 40000 wide, beyond libheif's limit", coded(40000, 23), ""},
      {"lossless WebP of 16384 × 16384", lossless(16384, 16384),
       "WebP: 16384 x 16384 pixels is outside the size limits"},
      {"lossless WebP of 10001 × 10000", lossless(10001, 10000),
       "WebP: 10001 x 10000 pixels is outside the size limits"},
  };
  for (const auto& row : oversized) {
    SCOPED_TRACE(row.name);
    WriteFileBytes(input, row.bytes);
    EXPECT_EQ(ProbeFileKind(input, 0), kFileKindUnknown);
    EXPECT_EQ(LoadImageFile(input), 0u);
    const Result<Bitmap> decoded = row.bytes[8] == 'W' ? webp::Decode(row.bytes)
                                                       : heif::Decode(row.bytes);
    if (row.reason.empty()) {
      EXPECT_TRUE(decoded.Reason().starts_with("HEIF: ")) << decoded.Reason();
    } else {
      EXPECT_EQ(decoded.Reason(), row.reason);
    }
  }
}

// The decoders' own reasons for what is wrong, where no header check before them would catch it.
TEST_F(HeifWebpTest, EachRefusalNamesWhatIsWrong) {
  SKIP_WITHOUT(std::string("cwebp"));
  const std::string png = SaveImageFile(PhotoLike(601, 403), folder.File("photo.png"));
  ASSERT_TRUE(RunQuietly("cwebp -q 100 " + png + " -o " + folder.File("photo.webp")));
  const Bytes webp = ReadFileBytes(folder.File("photo.webp"));
  ASSERT_EQ(std::string(webp.begin() + 12, webp.begin() + 16), "VP8 ") << "a simple lossy file";
  // Whole, it is longer than the leading bytes its size is read from, and is taken.
  ASSERT_GT(webp.size(), webp::kHeaderProbeBytes);
  EXPECT_EQ(ProbeFileKind(folder.File("photo.webp"), 0), kFileKindWebp);
  // Its frame cut after its ten header bytes, its first partition (whose length the frame tag's
  // upper 19 bits give) and two bytes of the next, the RIFF and chunk sizes made to agree: every
  // chunk is whole, the bitstream is not.
  constexpr std::size_t kFrameStart = 20;
  const std::uint32_t firstPartition =
      (std::uint32_t{webp[kFrameStart]} | std::uint32_t{webp[kFrameStart + 1]} << 8 |
       std::uint32_t{webp[kFrameStart + 2]} << 16) >> 5;
  const std::uint32_t frameBytes = (10 + firstPartition + 2 + 1) / 2 * 2;
  ASSERT_LT(kFrameStart + frameBytes, webp.size());
  Bytes cut(webp.begin(), webp.begin() + std::ptrdiff_t(kFrameStart + frameBytes));
  Bytes sizes;
  PutBytes(sizes, frameBytes + 12);
  PutBytes(sizes, frameBytes);
  std::copy_n(sizes.begin(), 4, cut.begin() + 4);
  std::copy_n(sizes.begin() + 4, 4, cut.begin() + 16);
  // A RIFF size that cannot even hold "WEBP" and a chunk header.
  Bytes damaged = webp;
  std::copy_n(std::array<std::uint8_t, 4>{4, 0, 0, 0}.begin(), 4, damaged.begin() + 4);
  const std::pair<Bytes, std::string> rows[] = {
      {cut, "WebP: data ends in the middle of the image"},
      {damaged, "WebP: the file's headers do not read"},
  };
  for (const auto& [bytes, reason] : rows) {
    SCOPED_TRACE(reason);
    EXPECT_EQ(webp::Decode(bytes).Reason(), reason);
  }
  // AVIF data that dav1d refuses, its reasons in words. The data open the 'mdat' box with a
  // temporal delimiter (header 0x12, size 0) and the sequence header's OBU header: the
  // delimiter made to claim 127 bytes swallows the sequence header and the frame's start, so
  // no picture comes; the sequence header made a padding OBU (type 15) leaves the frame without
  // one, which is damage.
  if (HaveTool("avifenc")) {
    const std::string avif = folder.File("photo.avif");
    ASSERT_TRUE(RunQuietly("avifenc -s 10 " + png + " " + avif));
    const Bytes whole = ReadFileBytes(avif);
    const std::string text(whole.begin(), whole.end());
    const std::size_t data = text.find("mdat") + 4;
    ASSERT_EQ(whole[data], 0x12);
    ASSERT_EQ(whole[data + 1], 0x00);
    const std::tuple<std::size_t, std::uint8_t, std::string> avifRows[] = {
        {data + 1, 0x7F, "its AV1 data hold no picture"},
        {data + 2, 0x7A, "its AV1 data are damaged"},
    };
    for (const auto& [at, value, reason] : avifRows) {
      SCOPED_TRACE(reason);
      Bytes damagedAvif = whole;
      damagedAvif[at] = value;
      // dav1d says what it could not parse on the terminal unless told not to log.
      testing::internal::CaptureStderr();
      const std::string refused = heif::Decode(damagedAvif).Reason();
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      EXPECT_EQ(refused, "HEIF: Decoder plugin generated an error: Unspecified: " + reason);
    }
  }
  // A fuzzer's AVIF whose image has no AV1 data at all.
  EXPECT_EQ(
      heif::Decode(ReadFileBytes("../fuzz/regressions/fuzz_heif_webp/avif-item-without-data.avif"))
          .Reason(),
      "HEIF: Decoder plugin generated an error: Unspecified: its AV1 data are empty");
  // A HEIF of 2 GiB, a sparse file mapped without being read: refused by its size alone.
  const std::string huge = folder.File("huge.heic");
  WriteFileBytes(huge, HeifFile(PhotoLike(37, 23), {}, folder.File("small.heic")));
  const int descriptor = open(huge.c_str(), O_RDWR);
  ASSERT_GE(descriptor, 0);
  constexpr std::size_t kHugeBytes = std::size_t{2} << 30;
  ASSERT_EQ(ftruncate(descriptor, static_cast<off_t>(kHugeBytes)), 0);
  void* mapped = mmap(nullptr, kHugeBytes, PROT_READ, MAP_PRIVATE, descriptor, 0);
  close(descriptor);
  ASSERT_NE(mapped, MAP_FAILED);
  EXPECT_EQ(heif::Decode(std::span(static_cast<const std::uint8_t*>(mapped), kHugeBytes)).Reason(),
            "the file is larger than 1 GiB");
  munmap(mapped, kHugeBytes);
  // Fuzzer findings whose grids claim canvases their boxes do not allow, one of them in 'idat'
  // data past its base offset, with a data reference that means nothing there: refused from the
  // boxes, before libheif would allocate the canvas.
  for (const char* name : {"grid-canvas-larger-than-ispe.heic", "grid-data-past-its-idat.heic"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ProbeFileKind("../fuzz/regressions/fuzz_heif_webp/" + std::string(name), 0),
              kFileKindUnknown);
  }
  // A coded size beyond the limits, shown cut by a clean aperture to one within them: refused by
  // the coded size, which is what libheif allocates.
  const Bytes apertured = WithCleanAperture(
      HeifFile(PhotoLike(37, 23), {}, folder.File("apertured.heic")), {20001, 5001}, {37, 23});
  EXPECT_EQ(heif::Decode(apertured).Reason(),
            "HEIF: 20001 x 5001 pixels is outside the size limits");
  // Item locations libheif reads otherwise than the format has them. A fuzzer's file with 2-byte
  // offsets, which libheif reads as absent: it found a grid of 26980 x 24948 where this reader
  // found none. And libheif's own version 1 box (4-byte sizes) given an extent index of 4 bytes,
  // which libheif leaves unread in version 1, so the two would read different extents.
  EXPECT_EQ(heif::Decode(ReadFileBytes(
                             "../fuzz/regressions/fuzz_heif_webp/iloc-offsets-of-two-bytes.heic"))
                .Reason(),
            "HEIF: its item boxes do not read");
  {
    Bytes indexed = HeifFile(PhotoLike(37, 23), {}, folder.File("located.heic"));
    const std::size_t iloc = std::string(indexed.begin(), indexed.end()).find("iloc");
    ASSERT_EQ(BigAt(indexed, iloc + 4), 0x01000000u) << "version 1";
    ASSERT_EQ(BigAt(indexed, iloc + 8, 2), 0x4440u) << "4-byte offsets, lengths and bases";
    indexed[iloc + 9] = 0x44;
    EXPECT_EQ(heif::Decode(indexed).Reason(), "HEIF: its item boxes do not read");
  }
  // A fuzzer's file with two top-level 'meta' boxes, an AVIF's and then a grid's, of which libheif
  // read the second (784 MB, 9 s) and the check the first.
  const std::string twoMeta = "../fuzz/regressions/fuzz_heif_webp/two-meta-boxes.avif";
  EXPECT_EQ(heif::Decode(ReadFileBytes(twoMeta)).Reason(), "HEIF: its item boxes do not read");
  {
    // A whole HEIC with a copy of its own 'meta' box appended: the second box alone would pass
    // every check, so only the count of 'meta' boxes refuses it.
    Bytes doubled = HeifFile(PhotoLike(37, 23), {}, folder.File("doubled.heic"));
    const std::size_t meta = std::string(doubled.begin(), doubled.end()).find("meta") - 4;
    const Bytes copy(doubled.begin() + static_cast<long>(meta),
                     doubled.begin() + static_cast<long>(meta + BigAt(doubled, meta)));
    doubled.insert(doubled.end(), copy.begin(), copy.end());
    EXPECT_EQ(heif::Decode(doubled).Reason(), "HEIF: its item boxes do not read");
  }
  // A fuzzer's 'iden' image derived from an item that is no image: libheif's assertion stopped the
  // whole process.
  EXPECT_EQ(
      heif::Decode(ReadFileBytes("../fuzz/regressions/fuzz_heif_webp/iden-of-no-image.heic"))
          .Reason(),
      "HEIF: a derived image is made of an item that is no image");
  // A derived image may be made of derived images: libheif's grid, its tile retyped 'iden', passes
  // the check (libheif then refuses the 'iden' that names nothing, in its own words).
  {
    Bytes retyped = HeifFile(PhotoLike(37, 23), {}, folder.File("retyped.heic"));
    const std::size_t tile = std::string(retyped.begin(), retyped.end()).find("hvc1");
    ASSERT_NE(tile, std::string::npos);
    std::copy_n("iden", 4, retyped.begin() + std::ptrdiff_t(tile));
    const std::string reason = heif::Decode(retyped).Reason();
    EXPECT_TRUE(reason.starts_with("HEIF: ")) << reason;
    EXPECT_NE(reason, "HEIF: a derived image is made of an item that is no image");
  }
  // A box the 'meta' box holds one of, twice: libheif reads the first, so the check refuses the
  // file rather than check another. A fuzzer's grid of 7 x 5 in a second 'idat' hid one of 26982 x
  // 14402 in the first, which libheif allocated (9 GB, a minute).
  const std::string twoIdat =
      "../fuzz/regressions/fuzz_heif_webp/grid-in-the-first-of-two-idat.heic";
  EXPECT_EQ(ProbeFileKind(twoIdat, 0), kFileKindUnknown);
  EXPECT_EQ(heif::Decode(ReadFileBytes(twoIdat)).Reason(),
            "HEIF: its 'meta' box holds more than one 'idat'");
  // The others, each repeated right after itself in a whole HEIC, the boxes around it grown to
  // hold the copy ('ipco' sits in 'iprp').
  const Bytes heic = HeifFile(PhotoLike(37, 23), {}, folder.File("whole.heic"));
  const std::string heicText(heic.begin(), heic.end());
  for (const std::string type : {"pitm", "iinf", "iloc", "iprp", "ipco"}) {
    SCOPED_TRACE(type);
    const std::size_t box = heicText.find(type, heicText.find("meta")) - 4;
    const std::size_t boxSize = BigAt(heic, box);
    Bytes repeated = heic;
    repeated.insert(repeated.begin() + std::ptrdiff_t(box + boxSize),
                    heic.begin() + std::ptrdiff_t(box),
                    heic.begin() + std::ptrdiff_t(box + boxSize));
    std::vector<std::string> holders = {"meta"};
    if (type == "ipco") holders.push_back("iprp");
    for (const std::string& holder : holders) {
      const std::size_t at = heicText.find(holder) - 4;
      Bytes size;
      PutBytes(size, BigAt(heic, at) + static_cast<std::uint32_t>(boxSize), 4, true);
      std::copy(size.begin(), size.end(), repeated.begin() + std::ptrdiff_t(at));
    }
    EXPECT_EQ(heif::Decode(repeated).Reason(),
              "HEIF: its 'meta' box holds more than one '" + type + "'");
  }
}

}  // namespace
