// bench_floor: the bare-codec floor of each benchmark workload. It calls libjpeg-turbo, libpng and
// zlib directly, with nothing of our library around them, one process for the whole batch, so
// bench/run can compare the converter with the least work the same conversion needs.
//
//   bench_floor MODE OUTPUT_FOLDER FILE...
//
// Modes:
//   jpeg-jpeg       decode, encode at quality 80 (standard Huffman tables, 4:2:0)
//   jpeg-png        decode in full, resize to 640 × 480, PNG with libpng's defaults
//   jpeg-png-fast   decode at the smallest DCT scale still at least 640 × 480, resize, PNG with
//                   zlib level 1 and the Paeth filter for every row
//   png-bmp         decode, write a 24-bit BMP
//   bmp-grey-jpeg   read a 24-bit BMP, take each pixel's BT.601 luma, encode one component at
//                   quality 80
//   jpeg-bmp8       decode through libjpeg-turbo's two-pass quantiser (256 colours, its default
//                   Floyd–Steinberg dithering), write an 8-bit BMP
//   write-bytes     writes, for each FILE, a file of the same size through stdio with a 64 KiB
//                   buffer (the floor of any writer of that many bytes); FILE is not read
//
// These inputs are our own and valid, so errors simply end the program.
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

constexpr int kQuality = 80;
constexpr int kTargetWidth = 640;
constexpr int kTargetHeight = 480;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "bench_floor: %s\n", message.c_str());
  std::exit(1);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("cannot open " + path);
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) Fail("cannot read " + path);
  std::fclose(file);
  return bytes;
}

std::FILE* OpenOutput(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("cannot create " + path);
  return file;
}

void CloseOutput(std::FILE* file) {
  if (std::fclose(file) != 0) Fail("write failed");
}

// The output path: the folder plus the input's name with a new extension.
std::string OutputPath(const std::string& folder, const std::string& input,
                       const std::string& extension) {
  const std::size_t slash = input.rfind('/');
  std::string name = input.substr(slash == std::string::npos ? 0 : slash + 1);
  name = name.substr(0, name.rfind('.'));
  return folder + "/" + name + extension;
}

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

RgbImage DecodeJpeg(const std::vector<std::uint8_t>& file, unsigned scaleDenominator) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_RGB;
  info.scale_num = 1;
  info.scale_denom = scaleDenominator;
  jpeg_start_decompress(&info);
  RgbImage image;
  image.width = static_cast<int>(info.output_width);
  image.height = static_cast<int>(info.output_height);
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  image.pixels.resize(rowBytes * static_cast<std::size_t>(image.height));
  JSAMPROW rows[16];
  while (info.output_scanline < info.output_height) {
    const JDIMENSION count = std::min<JDIMENSION>(16, info.output_height - info.output_scanline);
    for (JDIMENSION row = 0; row < count; ++row) {
      rows[row] = image.pixels.data() + (info.output_scanline + row) * rowBytes;
    }
    jpeg_read_scanlines(&info, rows, count);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return image;
}

void EncodeJpeg(const std::uint8_t* pixels, int width, int height, int components, std::FILE* out) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = components == 3 ? JCS_EXT_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  const std::size_t rowBytes =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(components);
  JSAMPROW rows[16];
  while (info.next_scanline < info.image_height) {
    const JDIMENSION count = std::min<JDIMENSION>(16, info.image_height - info.next_scanline);
    for (JDIMENSION row = 0; row < count; ++row) {
      rows[row] = const_cast<std::uint8_t*>(pixels) + (info.next_scanline + row) * rowBytes;
    }
    jpeg_write_scanlines(&info, rows, count);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
}

// Area-averaging resize, one direction at a time, in 16-bit fixed point: each output sample is the
// coverage-weighted mean of the input samples under it.
struct Tap {
  int first;
  std::vector<std::uint32_t> weights;  // sum to 65536
};

std::vector<Tap> AreaTaps(int source, int target) {
  std::vector<Tap> taps(static_cast<std::size_t>(target));
  for (int i = 0; i < target; ++i) {
    const std::int64_t begin = static_cast<std::int64_t>(i) * source;
    const std::int64_t end = begin + source;
    Tap& tap = taps[static_cast<std::size_t>(i)];
    tap.first = static_cast<int>(begin / target);
    const int last = static_cast<int>((end + target - 1) / target);
    std::int64_t given = 0;
    std::int64_t covered = 0;
    for (int pixel = tap.first; pixel < last; ++pixel) {
      covered += std::min<std::int64_t>(end, static_cast<std::int64_t>(pixel + 1) * target) -
                 std::max<std::int64_t>(begin, static_cast<std::int64_t>(pixel) * target);
      const std::int64_t total = covered * 65536 / source;
      tap.weights.push_back(static_cast<std::uint32_t>(total - given));
      given = total;
    }
  }
  return taps;
}

RgbImage Resize(const RgbImage& source, int width, int height) {
  const std::vector<Tap> across = AreaTaps(source.width, width);
  const std::vector<Tap> down = AreaTaps(source.height, height);
  std::vector<std::uint16_t> middle(static_cast<std::size_t>(width) * 3 *
                                    static_cast<std::size_t>(source.height));
  for (int y = 0; y < source.height; ++y) {
    const std::uint8_t* row = source.pixels.data() + static_cast<std::size_t>(y) *
                                                         static_cast<std::size_t>(source.width) * 3;
    std::uint16_t* out =
        middle.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
    for (const Tap& tap : across) {
      std::uint32_t sums[3] = {0, 0, 0};
      for (std::size_t k = 0; k < tap.weights.size(); ++k) {
        const std::uint8_t* in = row + (static_cast<std::size_t>(tap.first) + k) * 3;
        for (int channel = 0; channel < 3; ++channel) sums[channel] += in[channel] * tap.weights[k];
      }
      for (int channel = 0; channel < 3; ++channel) {
        *out++ = static_cast<std::uint16_t>((sums[channel] + 128) >> 8);
      }
    }
  }
  RgbImage target;
  target.width = width;
  target.height = height;
  const std::size_t rowValues = static_cast<std::size_t>(width) * 3;
  target.pixels.resize(rowValues * static_cast<std::size_t>(height));
  std::vector<std::uint32_t> sums(rowValues);
  for (int y = 0; y < height; ++y) {
    const Tap& tap = down[static_cast<std::size_t>(y)];
    std::fill(sums.begin(), sums.end(), 0);
    for (std::size_t k = 0; k < tap.weights.size(); ++k) {
      const std::uint16_t* row =
          middle.data() + (static_cast<std::size_t>(tap.first) + k) * rowValues;
      for (std::size_t i = 0; i < rowValues; ++i) sums[i] += row[i] * tap.weights[k];
    }
    std::uint8_t* out = target.pixels.data() + static_cast<std::size_t>(y) * rowValues;
    for (std::size_t i = 0; i < rowValues; ++i) {
      out[i] = static_cast<std::uint8_t>((sums[i] + (1u << 23)) >> 24);
    }
  }
  return target;
}

void EncodePng(const RgbImage& image, bool fast, std::FILE* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (fast) {
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
  }
  png_write_info(png, info);
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, image.pixels.data() + static_cast<std::size_t>(y) * rowBytes);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

void PutLittleEndian(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int index = 0; index < bytes; ++index)
    at[index] = static_cast<std::uint8_t>(value >> (8 * index));
}

// A BMP file header and 40-byte info header, bottom-up.
void WriteBmpHeaders(std::FILE* out, int width, int height, int bits, std::uint32_t dataSize,
                     std::uint32_t paletteEntries) {
  std::uint8_t header[54] = {'B', 'M'};
  const std::uint32_t dataOffset = 54 + 4 * paletteEntries;
  PutLittleEndian(header + 2, dataOffset + dataSize, 4);
  PutLittleEndian(header + 10, dataOffset, 4);
  PutLittleEndian(header + 14, 40, 4);
  PutLittleEndian(header + 18, static_cast<std::uint32_t>(width), 4);
  PutLittleEndian(header + 22, static_cast<std::uint32_t>(height), 4);
  PutLittleEndian(header + 26, 1, 2);
  PutLittleEndian(header + 28, static_cast<std::uint32_t>(bits), 2);
  PutLittleEndian(header + 34, dataSize, 4);
  PutLittleEndian(header + 38, 2835, 4);
  PutLittleEndian(header + 42, 2835, 4);
  PutLittleEndian(header + 46, paletteEntries, 4);
  std::fwrite(header, 1, sizeof header, out);
}

void PngToBmp(const std::string& input, const std::string& folder) {
  std::FILE* in = std::fopen(input.c_str(), "rb");
  if (in == nullptr) Fail("cannot open " + input);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, in);
  png_read_info(png, info);
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB || png_get_bit_depth(png, info) != 8 ||
      png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) {
    Fail("only plain 8-bit RGB PNG files are read: " + input);
  }
  const int width = static_cast<int>(png_get_image_width(png, info));
  const int height = static_cast<int>(png_get_image_height(png, info));
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  std::vector<std::uint8_t> pixels(rowBytes * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    png_read_row(png, pixels.data() + static_cast<std::size_t>(y) * rowBytes, nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(in);

  std::FILE* out = OpenOutput(OutputPath(folder, input, ".bmp"));
  const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
  WriteBmpHeaders(out, width, height, 24,
                  static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)), 0);
  std::vector<std::uint8_t> row(stride, 0);
  for (int y = height - 1; y >= 0; --y) {
    const std::uint8_t* source = pixels.data() + static_cast<std::size_t>(y) * rowBytes;
    for (std::size_t x = 0; x < rowBytes; x += 3) {
      row[x] = source[x + 2];
      row[x + 1] = source[x + 1];
      row[x + 2] = source[x];
    }
    std::fwrite(row.data(), 1, stride, out);
  }
  CloseOutput(out);
}

void BmpToGreyJpeg(const std::string& input, const std::string& folder) {
  const std::vector<std::uint8_t> file = ReadWholeFile(input);
  const auto read32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                      file[at + 3] << 24);
  };
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M' || file[28] != 24) {
    Fail("only 24-bit BMP files are read: " + input);
  }
  const int width = static_cast<int>(read32(18));
  const int height = static_cast<int>(read32(22));
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  const std::uint8_t* data = file.data() + read32(10);
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) *
                                 static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* source = data + static_cast<std::size_t>(height - 1 - y) * stride;
    std::uint8_t* target =
        grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x, source += 3) {
      target[x] = static_cast<std::uint8_t>(
          (114 * source[0] + 587 * source[1] + 299 * source[2] + 500) / 1000);
    }
  }
  std::FILE* out = OpenOutput(OutputPath(folder, input, ".jpg"));
  EncodeJpeg(grey.data(), width, height, 1, out);
  CloseOutput(out);
}

void JpegToBmp8(const std::string& input, const std::string& folder) {
  const std::vector<std::uint8_t> file = ReadWholeFile(input);
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  info.quantize_colors = TRUE;
  info.two_pass_quantize = TRUE;
  info.desired_number_of_colors = 256;
  jpeg_start_decompress(&info);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  std::vector<std::uint8_t> indices(stride * static_cast<std::size_t>(height), 0);
  while (info.output_scanline < info.output_height) {
    // Rows go straight to their bottom-up place in the file's pixel data.
    JSAMPROW row =
        indices.data() +
        static_cast<std::size_t>(height - 1 - static_cast<int>(info.output_scanline)) * stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  const int colors = info.actual_number_of_colors;
  std::vector<std::uint8_t> palette(static_cast<std::size_t>(colors) * 4, 0);
  for (int index = 0; index < colors; ++index) {
    palette[static_cast<std::size_t>(index) * 4] = info.colormap[2][index];
    palette[static_cast<std::size_t>(index) * 4 + 1] = info.colormap[1][index];
    palette[static_cast<std::size_t>(index) * 4 + 2] = info.colormap[0][index];
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::FILE* out = OpenOutput(OutputPath(folder, input, ".bmp"));
  WriteBmpHeaders(out, width, height, 8, static_cast<std::uint32_t>(indices.size()),
                  static_cast<std::uint32_t>(colors));
  std::fwrite(palette.data(), 1, palette.size(), out);
  std::fwrite(indices.data(), 1, indices.size(), out);
  CloseOutput(out);
}

// The smallest of libjpeg's 1/8, 1/4, 1/2 scales that still gives at least the target size.
unsigned ScaleFor(const std::vector<std::uint8_t>& file) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&info, TRUE);
  unsigned denominator = 8;
  while (denominator > 1 && ((info.image_width + denominator - 1) / denominator < kTargetWidth ||
                             (info.image_height + denominator - 1) / denominator < kTargetHeight)) {
    denominator /= 2;
  }
  jpeg_destroy_decompress(&info);
  return denominator;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_floor MODE OUTPUT_FOLDER FILE...\n");
    return 64;
  }
  const std::string mode = argv[1];
  const std::string folder = argv[2];
  std::vector<char> buffer(1 << 16, 'x');
  for (int index = 3; index < argc; ++index) {
    const std::string input = argv[index];
    if (mode == "jpeg-jpeg") {
      const RgbImage image = DecodeJpeg(ReadWholeFile(input), 1);
      std::FILE* out = OpenOutput(OutputPath(folder, input, ".jpg"));
      EncodeJpeg(image.pixels.data(), image.width, image.height, 3, out);
      CloseOutput(out);
    } else if (mode == "jpeg-png" || mode == "jpeg-png-fast") {
      const bool fast = mode == "jpeg-png-fast";
      const std::vector<std::uint8_t> file = ReadWholeFile(input);
      const RgbImage image =
          Resize(DecodeJpeg(file, fast ? ScaleFor(file) : 1), kTargetWidth, kTargetHeight);
      std::FILE* out = OpenOutput(OutputPath(folder, input, ".png"));
      EncodePng(image, fast, out);
      CloseOutput(out);
    } else if (mode == "png-bmp") {
      PngToBmp(input, folder);
    } else if (mode == "bmp-grey-jpeg") {
      BmpToGreyJpeg(input, folder);
    } else if (mode == "jpeg-bmp8") {
      JpegToBmp8(input, folder);
    } else if (mode == "write-bytes") {
      struct stat status {};
      if (stat(input.c_str(), &status) != 0) Fail("cannot find " + input);
      const long size = status.st_size;
      std::FILE* out = OpenOutput(OutputPath(folder, input, ".bytes"));
      std::setvbuf(out, nullptr, _IOFBF, buffer.size());
      for (long done = 0; done < size;) {
        const auto chunk =
            static_cast<std::size_t>(std::min<long>(size - done, static_cast<long>(buffer.size())));
        std::fwrite(buffer.data(), 1, chunk, out);
        done += static_cast<long>(chunk);
      }
      CloseOutput(out);
    } else {
      Fail("unknown mode " + mode);
    }
  }
  return 0;
}
