// bench_corpus: writes the benchmark's input files, the same bytes on every run and machine.
//
//   bench_corpus FOLDER
//
// Photo-like scenes (a sky, fractal hills, soft-edged objects, fine texture and sensor grain) as
// JPEG, PNG and BMP at the sizes the workloads name, flat graphics (screenshots and line art) as
// PNG, small JPEGs for table art, 24-megapixel camera-size JPEGs, and the PNG sources of the HEIC,
// AVIF and WebP sets. The files are written with libjpeg-turbo and libpng directly at fixed
// settings (JPEG quality 90 with 4:2:0 chroma, PNG at zlib level 6 with adaptive filters, as
// cameras and common tools write them), so the corpus does not change when our own encoders do.
// The 12-megapixel photos come twice, the second time tagged with an Adobe RGB (1998) profile made
// by LittleCMS (its primaries, D65, gamma 563/256), as cameras set to Adobe RGB write them. A file
// that already exists is left alone; delete the folder
// to make it again.
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "AdobeRgbProfile.h"

namespace {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // top-down rows of red, green, blue

  Image(int imageWidth, int imageHeight)
      : width(imageWidth),
        height(imageHeight),
        pixels(static_cast<std::size_t>(imageWidth) * static_cast<std::size_t>(imageHeight) * 3) {}
  std::uint8_t* At(int x, int y) {
    return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x)) *
                               3;
  }
};

// A small deterministic generator (xorshift64*), so the corpus does not depend on the standard
// library's distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  int Below(int limit) { return static_cast<int>(Next() % static_cast<std::uint64_t>(limit)); }

 private:
  std::uint64_t state_;
};

// Value noise: random values on an integer lattice, blended with a smooth step. Fractal noise sums
// octaves of it at doubling frequency and halving amplitude; the result lies roughly in -1..1.
double LatticeValue(std::int64_t x, std::int64_t y, std::uint64_t seed) {
  std::uint64_t hash = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^
                       static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^ seed;
  hash ^= hash >> 31;
  hash *= 0xBF58476D1CE4E5B9ull;
  hash ^= hash >> 29;
  return static_cast<double>(hash >> 11) / 4503599627370496.0 - 1.0;
}

double ValueNoise(double x, double y, std::uint64_t seed) {
  const double floorX = std::floor(x);
  const double floorY = std::floor(y);
  const auto cellX = static_cast<std::int64_t>(floorX);
  const auto cellY = static_cast<std::int64_t>(floorY);
  const double u = x - floorX;
  const double v = y - floorY;
  const double smoothU = u * u * (3 - 2 * u);
  const double smoothV = v * v * (3 - 2 * v);
  const double top =
      LatticeValue(cellX, cellY, seed) +
      (LatticeValue(cellX + 1, cellY, seed) - LatticeValue(cellX, cellY, seed)) * smoothU;
  const double bottom =
      LatticeValue(cellX, cellY + 1, seed) +
      (LatticeValue(cellX + 1, cellY + 1, seed) - LatticeValue(cellX, cellY + 1, seed)) * smoothU;
  return top + (bottom - top) * smoothV;
}

double FractalNoise(double x, double y, int octaves, std::uint64_t seed) {
  double sum = 0;
  double amplitude = 0.5;
  for (int octave = 0; octave < octaves; ++octave) {
    sum += amplitude * ValueNoise(x, y, seed + static_cast<std::uint64_t>(octave) * 7919);
    x *= 2.03;
    y *= 2.03;
    amplitude *= 0.5;
  }
  return sum * 1.8;
}

std::uint8_t ToByte(double value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0l, 255l));
}

struct Blob {
  double centerX, centerY, radiusX, radiusY, softness;
  double color[3];
};

// A landscape photograph, more or less: its features scale with the image, its texture and grain
// do not (a larger sensor sees more detail, not bigger grain).
Image MakePhoto(int width, int height, std::uint64_t seed) {
  Image image(width, height);
  Random random(seed);
  const double scale = 1.0 / std::max(width, height);
  double sky[2][3];
  double ground[2][3];
  for (int channel = 0; channel < 3; ++channel) {
    sky[0][channel] = 60 + 120 * random.Unit();
    sky[1][channel] = 150 + 100 * random.Unit();
    ground[0][channel] = 30 + 90 * random.Unit();
    ground[1][channel] = 80 + 120 * random.Unit();
  }
  std::vector<Blob> blobs(24);
  for (Blob& blob : blobs) {
    blob = {random.Unit(),
            0.3 + 0.7 * random.Unit() * height * scale,
            0.02 + 0.12 * random.Unit(),
            0.02 + 0.12 * random.Unit(),
            0.0004 + 0.003 * random.Unit(),
            {255 * random.Unit(), 255 * random.Unit(), 255 * random.Unit()}};
  }
  const double horizon = (0.35 + 0.2 * random.Unit()) * height * scale;
  Random grain(seed ^ 0xABCDEF);
  std::vector<double> grainAbove(static_cast<std::size_t>(width), 0.0);
  // The hills' outline depends on the column only.
  std::vector<double> hillsAt(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) {
    hillsAt[static_cast<std::size_t>(x)] =
        horizon + 0.08 * FractalNoise(x * scale * 3, 0.5, 4, seed);
  }
  for (int y = 0; y < height; ++y) {
    const double v = y * scale;
    double grainLeft = 0;
    for (int x = 0; x < width; ++x) {
      const double u = x * scale;
      const double hills = hillsAt[static_cast<std::size_t>(x)];
      double color[3];
      if (v < hills) {
        const double t = v / std::max(hills, 1e-3);
        const double cloud = std::max(0.0, FractalNoise(u * 4, v * 8, 4, seed + 1));
        for (int channel = 0; channel < 3; ++channel) {
          color[channel] = sky[0][channel] + (sky[1][channel] - sky[0][channel]) * t + 120 * cloud;
        }
      } else {
        const double field = FractalNoise(u * 6, v * 6, 3, seed + 2) * 0.5 + 0.5;
        const double texture = FractalNoise(x / 6.0, y / 6.0, 2, seed + 3);
        const double foliage = FractalNoise(x / 2.2, y / 1.6, 2, seed + 4);
        for (int channel = 0; channel < 3; ++channel) {
          color[channel] = ground[0][channel] + (ground[1][channel] - ground[0][channel]) * field +
                           28 * texture + (18 + 8 * channel) * foliage;
        }
      }
      for (const Blob& blob : blobs) {
        if (std::abs(u - blob.centerX) > blob.radiusX * 1.2 ||
            std::abs(v - blob.centerY) > blob.radiusY * 1.2) {
          continue;
        }
        const double dx = (u - blob.centerX) / blob.radiusX;
        const double dy = (v - blob.centerY) / blob.radiusY;
        const double distance = std::sqrt(dx * dx + dy * dy);
        const double edge = (1.0 - distance) * std::min(blob.radiusX, blob.radiusY);
        if (edge <= -blob.softness) continue;
        const double cover = std::min(1.0, (edge + blob.softness) / (2 * blob.softness));
        const double shade = 0.75 + 0.25 * (1.0 - distance);
        const double detail = 14 * ValueNoise(x / 3.0, y / 3.0, seed + 5);
        for (int channel = 0; channel < 3; ++channel) {
          color[channel] += (blob.color[channel] * shade + detail - color[channel]) * cover;
        }
      }
      // Grain, blended with its neighbours to the left and above like a sensor's.
      const double white = static_cast<double>(grain.Next() >> 40) / 16777216.0 * 2.0 - 1.0;
      const double noise =
          4.0 * white + 0.3 * grainLeft + 0.3 * grainAbove[static_cast<std::size_t>(x)];
      grainLeft = noise;
      grainAbove[static_cast<std::size_t>(x)] = noise;
      std::uint8_t* pixel = image.At(x, y);
      for (int channel = 0; channel < 3; ++channel) pixel[channel] = ToByte(color[channel] + noise);
    }
  }
  return image;
}

void FillRect(Image& image, int left, int top, int width, int height, const std::uint8_t* color) {
  for (int y = std::max(top, 0); y < std::min(top + height, image.height); ++y) {
    for (int x = std::max(left, 0); x < std::min(left + width, image.width); ++x) {
      std::copy(color, color + 3, image.At(x, y));
    }
  }
}

// A desktop with overlapping windows: title bars with a stepped gradient, borders, toolbars of
// small icons, buttons and lines of text in a 5 × 7 glyph set with one anti-aliasing shade.
Image MakeScreenshot(int width, int height, std::uint64_t seed) {
  Image image(width, height);
  Random random(seed);
  const std::uint8_t desktop[3] = {static_cast<std::uint8_t>(30 + random.Below(40)),
                                   static_cast<std::uint8_t>(70 + random.Below(60)),
                                   static_cast<std::uint8_t>(110 + random.Below(60))};
  FillRect(image, 0, 0, width, height, desktop);
  std::vector<std::uint64_t> glyphs(48);
  for (std::uint64_t& glyph : glyphs) glyph = random.Next() & 0x7FFFFFFFFull;
  const std::uint8_t border[3] = {90, 90, 96};
  const std::uint8_t text[3] = {20, 20, 24};
  const std::uint8_t textEdge[3] = {150, 150, 156};
  for (int window = 0; window < 5; ++window) {
    const int left = random.Below(width * 2 / 3);
    const int top = random.Below(height * 2 / 3);
    const int windowWidth = width / 3 + random.Below(width / 2);
    const int windowHeight = height / 3 + random.Below(height / 2);
    FillRect(image, left - 1, top - 1, windowWidth + 2, windowHeight + 2, border);
    const std::uint8_t client[3] = {static_cast<std::uint8_t>(235 + random.Below(20)), 240, 245};
    FillRect(image, left, top, windowWidth, windowHeight, client);
    std::uint8_t accent[3] = {static_cast<std::uint8_t>(random.Below(120)),
                              static_cast<std::uint8_t>(60 + random.Below(120)),
                              static_cast<std::uint8_t>(120 + random.Below(120))};
    for (int row = 0; row < 24; ++row) {
      std::uint8_t shade[3];
      for (int channel = 0; channel < 3; ++channel) {
        shade[channel] = static_cast<std::uint8_t>(std::min(255, accent[channel] + row / 3 * 6));
      }
      FillRect(image, left, top + row, windowWidth, 1, shade);
    }
    for (int icon = 0; icon < windowWidth / 28; ++icon) {
      const std::uint8_t iconColor[3] = {static_cast<std::uint8_t>(random.Below(256)),
                                         static_cast<std::uint8_t>(random.Below(256)),
                                         static_cast<std::uint8_t>(random.Below(256))};
      FillRect(image, left + 6 + icon * 28, top + 30, 18, 18, border);
      FillRect(image, left + 8 + icon * 28, top + 32, 14, 14, iconColor);
    }
    for (int line = 0; line * 14 + 60 < windowHeight - 30; ++line) {
      int x = left + 10;
      const int baseline = top + 60 + line * 14;
      const int lineEnd = left + windowWidth - 10 - random.Below(windowWidth / 2);
      while (x + 6 < lineEnd) {
        const int wordLength = 2 + random.Below(8);
        for (int letter = 0; letter < wordLength && x + 6 < lineEnd; ++letter, x += 6) {
          const std::uint64_t glyph = glyphs[static_cast<std::size_t>(random.Below(48))];
          for (int gy = 0; gy < 7; ++gy) {
            for (int gx = 0; gx < 5; ++gx) {
              if (((glyph >> (gy * 5 + gx)) & 1) == 0) continue;
              if (x + gx >= image.width || baseline + gy >= image.height) continue;
              std::copy(text, text + 3, image.At(x + gx, baseline + gy));
              if (x + gx + 1 < image.width) {
                std::uint8_t* right = image.At(x + gx + 1, baseline + gy);
                if (right[0] > 200) std::copy(textEdge, textEdge + 3, right);
              }
            }
          }
        }
        x += 6;
      }
    }
    const std::uint8_t button[3] = {220, 222, 226};
    for (int index = 0; index < 2; ++index) {
      const int buttonLeft = left + windowWidth - 170 + index * 80;
      const int buttonTop = top + windowHeight - 28;
      FillRect(image, buttonLeft - 1, buttonTop - 1, 72, 22, border);
      FillRect(image, buttonLeft, buttonTop, 70, 20, button);
    }
  }
  return image;
}

// Ink drawing with flat fills: filled circles and bands in a few flat colours, then black strokes
// (lines, circle outlines), anti-aliased by 4 × 4 supersampling of the strokes' coverage.
Image MakeLineArt(int width, int height, std::uint64_t seed) {
  Image image(width, height);
  Random random(seed);
  const std::uint8_t paper[3] = {255, 255, 255};
  FillRect(image, 0, 0, width, height, paper);
  const std::uint8_t fills[6][3] = {{250, 215, 160}, {170, 205, 240}, {200, 235, 180},
                                    {240, 170, 170}, {225, 225, 225}, {250, 240, 150}};
  struct Circle {
    double x, y, radius;
  };
  std::vector<Circle> circles(14);
  for (std::size_t index = 0; index < circles.size(); ++index) {
    Circle& circle = circles[index];
    circle = {random.Unit() * width, random.Unit() * height, 20 + random.Unit() * height / 4};
    const std::uint8_t* fill = fills[index % 6];
    for (int y = std::max(0, static_cast<int>(circle.y - circle.radius));
         y < std::min(height, static_cast<int>(circle.y + circle.radius) + 1); ++y) {
      for (int x = std::max(0, static_cast<int>(circle.x - circle.radius));
           x < std::min(width, static_cast<int>(circle.x + circle.radius) + 1); ++x) {
        const double dx = x + 0.5 - circle.x;
        const double dy = y + 0.5 - circle.y;
        if (dx * dx + dy * dy <= circle.radius * circle.radius) {
          std::copy(fill, fill + 3, image.At(x, y));
        }
      }
    }
  }
  struct Segment {
    double x0, y0, x1, y1, half;
  };
  std::vector<Segment> segments;
  for (int index = 0; index < 60; ++index) {
    const double x0 = random.Unit() * width;
    const double y0 = random.Unit() * height;
    const double angle = random.Unit() * 6.283185307179586;
    const double length = 30 + random.Unit() * width / 3;
    segments.push_back({x0, y0, x0 + std::cos(angle) * length, y0 + std::sin(angle) * length,
                        0.5 + random.Below(3) * 0.5});
  }
  // Stroke coverage per pixel: 16 samples against every stroke near the pixel.
  std::vector<std::uint8_t> coverage(static_cast<std::size_t>(width) *
                                     static_cast<std::size_t>(height));
  const auto stamp = [&](double sampleX, double sampleY, int x, int y) {
    for (const Circle& circle : circles) {
      const double distance = std::hypot(sampleX - circle.x, sampleY - circle.y);
      if (std::abs(distance - circle.radius) <= 1.0) return true;
    }
    for (const Segment& segment : segments) {
      const double dx = segment.x1 - segment.x0;
      const double dy = segment.y1 - segment.y0;
      const double t = std::clamp(
          ((sampleX - segment.x0) * dx + (sampleY - segment.y0) * dy) / (dx * dx + dy * dy), 0.0,
          1.0);
      if (std::hypot(sampleX - segment.x0 - t * dx, sampleY - segment.y0 - t * dy) <=
          segment.half) {
        return true;
      }
    }
    (void)x;
    (void)y;
    return false;
  };
  // Only pixels near some stroke are sampled; a cheap bounding test finds them.
  std::vector<std::uint8_t> near(coverage.size(), 0);
  const auto markNear = [&](double minX, double minY, double maxX, double maxY) {
    for (int y = std::max(0, static_cast<int>(minY) - 2);
         y < std::min(height, static_cast<int>(maxY) + 3); ++y) {
      for (int x = std::max(0, static_cast<int>(minX) - 2);
           x < std::min(width, static_cast<int>(maxX) + 3); ++x) {
        near[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
             static_cast<std::size_t>(x)] = 1;
      }
    }
  };
  for (const Segment& segment : segments) {
    const int steps =
        static_cast<int>(std::hypot(segment.x1 - segment.x0, segment.y1 - segment.y0));
    for (int step = 0; step <= steps; ++step) {
      const double t = steps == 0 ? 0 : static_cast<double>(step) / steps;
      const double x = segment.x0 + (segment.x1 - segment.x0) * t;
      const double y = segment.y0 + (segment.y1 - segment.y0) * t;
      markNear(x, y, x, y);
    }
  }
  for (const Circle& circle : circles) {
    const int steps = static_cast<int>(circle.radius * 6.3) + 1;
    for (int step = 0; step < steps; ++step) {
      const double angle = 6.283185307179586 * step / steps;
      const double x = circle.x + std::cos(angle) * circle.radius;
      const double y = circle.y + std::sin(angle) * circle.radius;
      markNear(x, y, x, y);
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                             static_cast<std::size_t>(x);
      if (near[at] == 0) continue;
      int hits = 0;
      for (int sample = 0; sample < 16; ++sample) {
        hits += stamp(x + (sample % 4 + 0.5) / 4, y + (sample / 4 + 0.5) / 4, x, y) ? 1 : 0;
      }
      if (hits == 0) continue;
      std::uint8_t* pixel = image.At(x, y);
      // Four shades of ink coverage, like a cheap rasteriser's.
      const int level = (hits + 3) / 4;
      for (int channel = 0; channel < 3; ++channel) {
        pixel[channel] = static_cast<std::uint8_t>(pixel[channel] * (4 - level) / 4);
      }
    }
  }
  return image;
}

bool Exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

// With a profile, it goes in one APP2 "ICC_PROFILE" chunk after the JFIF segment.
bool WriteJpeg(const Image& image, const std::string& path,
               const std::vector<std::uint8_t>& icc = {}) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, out);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  if (!icc.empty()) {
    std::vector<std::uint8_t> chunk{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
    chunk.insert(chunk.end(), icc.begin(), icc.end());
    jpeg_write_marker(&info, JPEG_APP0 + 2, chunk.data(), static_cast<unsigned>(chunk.size()));
  }
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(image.pixels.data()) + info.next_scanline * rowBytes;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(out) == 0;
}

bool WritePng(const Image& image, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, out);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 6);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
  png_write_info(png, info);
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, image.pixels.data() + static_cast<std::size_t>(y) * rowBytes);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int index = 0; index < bytes; ++index) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
  }
}

bool WriteBmp(const Image& image, const std::string& path) {
  const std::size_t stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
  const auto dataSize = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(image.height));
  std::vector<std::uint8_t> file;
  file.push_back('B');
  file.push_back('M');
  PutLittleEndian(file, 54 + dataSize, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, 54, 4);
  PutLittleEndian(file, 40, 4);
  PutLittleEndian(file, static_cast<std::uint32_t>(image.width), 4);
  PutLittleEndian(file, static_cast<std::uint32_t>(image.height), 4);
  PutLittleEndian(file, 1, 2);
  PutLittleEndian(file, 24, 2);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, dataSize, 4);
  PutLittleEndian(file, 2835, 4);
  PutLittleEndian(file, 2835, 4);
  PutLittleEndian(file, 0, 4);
  PutLittleEndian(file, 0, 4);
  for (int y = image.height - 1; y >= 0; --y) {
    const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) *
                                                        static_cast<std::size_t>(image.width) * 3;
    for (int x = 0; x < image.width; ++x, row += 3) {
      file.insert(file.end(), {row[2], row[1], row[0]});
    }
    file.resize(file.size() + stride - static_cast<std::size_t>(image.width) * 3, 0);
  }
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
}

enum class Format { kJpeg, kPng, kBmp, kAdobeRgbJpeg };

// Writes `count` images named PREFIX-NN.EXT into the folder, skipping those already there.
template <typename Make>
bool WriteSet(const std::string& folder, const std::string& prefix, int count, Format format,
              Make make) {
  mkdir(folder.c_str(), 0777);
  static const char* const kExtensions[] = {".jpg", ".png", ".bmp", ".jpg"};
  for (int index = 1; index <= count; ++index) {
    char name[64];
    std::snprintf(name, sizeof name, "%s-%02d%s", prefix.c_str(), index,
                  kExtensions[static_cast<int>(format)]);
    const std::string path = folder + "/" + name;
    if (Exists(path)) continue;
    const Image image = make(static_cast<std::uint64_t>(index));
    const bool written = format == Format::kJpeg           ? WriteJpeg(image, path)
                         : format == Format::kAdobeRgbJpeg ? WriteJpeg(image, path, bench::AdobeRgbProfile())
                         : format == Format::kPng          ? WritePng(image, path)
                                                           : WriteBmp(image, path);
    if (!written) {
      std::fprintf(stderr, "bench_corpus: cannot write %s\n", path.c_str());
      return false;
    }
    std::fprintf(stderr, "bench_corpus: %s\n", path.c_str());
  }
  return true;
}

}  // namespace

// A photo as a small camera sensor takes it in poor light: every sample moved by noise of about 8
// levels (a sum of uniform draws, near Gaussian), each channel on its own.
Image MakeNoisyPhoto(int width, int height, std::uint64_t seed) {
  Image image = MakePhoto(width, height, seed);
  Random noise(seed ^ 0x5EED);
  for (std::uint8_t& value : image.pixels) {
    const int offset = noise.Below(9) + noise.Below(9) + noise.Below(9) + noise.Below(9) - 16;
    value = static_cast<std::uint8_t>(std::clamp(value + 2 * offset, 0, 255));
  }
  return image;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_corpus FOLDER\n");
    return 64;
  }
  const std::string folder = argv[1];
  mkdir(folder.c_str(), 0777);
  const auto photo = [](int width, int height, std::uint64_t base) {
    return [=](std::uint64_t index) { return MakePhoto(width, height, base + index); };
  };
  const bool written =
      WriteSet(folder + "/photo1080", "photo", 16, Format::kJpeg, photo(1920, 1080, 100)) &&
      WriteSet(folder + "/photo720", "photo", 16, Format::kPng, photo(1280, 720, 200)) &&
      WriteSet(folder + "/photo768", "photo", 16, Format::kBmp, photo(1024, 768, 300)) &&
      WriteSet(folder + "/photo480", "photo", 10, Format::kJpeg, photo(640, 480, 400)) &&
      WriteSet(folder + "/flat", "screen", 8, Format::kPng,
               [](std::uint64_t index) { return MakeScreenshot(1280, 720, 500 + index); }) &&
      WriteSet(folder + "/flat", "lineart", 8, Format::kPng,
               [](std::uint64_t index) { return MakeLineArt(1280, 720, 600 + index); }) &&
      WriteSet(folder + "/camera", "camera", 3, Format::kJpeg, photo(6000, 4000, 700)) &&
      WriteSet(folder + "/photo12mp", "photo", 3, Format::kJpeg, photo(4000, 3000, 900)) &&
      WriteSet(folder + "/photo12mp-adobe", "photo", 3, Format::kAdobeRgbJpeg,
               photo(4000, 3000, 900)) &&
      WriteSet(folder + "/noisy", "noisy", 8, Format::kPng,
               [](std::uint64_t index) { return MakeNoisyPhoto(1280, 720, 800 + index); }) &&
      // Sources of the HEIC (a phone's 12 megapixels), AVIF and WebP sets, which bench/run encodes
      // with the libraries' own tools.
      WriteSet(folder + "/phone-source", "phone", 3, Format::kPng, photo(4032, 3024, 900)) &&
      WriteSet(folder + "/web-source", "web", 8, Format::kPng, photo(1920, 1080, 1000));
  return written ? 0 : 1;
}
