// Crop, rotation and resizing of the 24-bit pixels.
#include "imaging/Geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <utility>
#include <vector>

namespace imaging {
namespace {

constexpr int kFullTurn = 360'000;  // thousandths of a degree

// A half-open range [begin, end) of pixel positions.
struct Span {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  bool Empty() const { return begin >= end; }
};

// The part of 0..limit covered by `length` positions from `start`, for any 64-bit values. When
// start < limit, limit − start can only overflow for a very negative start, and then start + length
// cannot overflow because the two have different signs; so the sum is formed only when it is safe.
Span ClipSpan(std::int64_t start, std::int64_t length, std::int64_t limit) {
  if (length < 1 || start >= limit) return {};
  std::int64_t end = 0;
  if (start < 0) {
    end = start + length;
  } else {
    end = length > limit - start ? limit : start + length;
  }
  return {std::max<std::int64_t>(start, 0), std::min(end, limit)};
}

void CopyPixel(const std::uint8_t* from, std::uint8_t* to) {
  to[0] = from[0];
  to[1] = from[1];
  to[2] = from[2];
}

// Quarter turns read the source in square tiles: the 32 source rows a tile reads across and the 32
// target rows it writes stay in cache together, although one of the two is walked down a column.
constexpr int kTileSide = 32;

// Turns a quarter clockwise: source pixel (x, y) lands at (H − 1 − y, x). Counter-clockwise it
// lands at (y, W − 1 − x). The target has the source's sides swapped.
void QuarterTurn(const Bitmap& source, Bitmap& target, bool clockwise) {
  const int width = source.width;
  const int height = source.height;
  const std::size_t sourceRowBytes = source.RowBytes();
  for (int tileTop = 0; tileTop < height; tileTop += kTileSide) {
    const int tileBottom = std::min(tileTop + kTileSide, height);
    for (int tileLeft = 0; tileLeft < width; tileLeft += kTileSide) {
      const int tileRight = std::min(tileLeft + kTileSide, width);
      for (int x = tileLeft; x < tileRight; ++x) {
        const std::uint8_t* in = source.Row(tileTop) + static_cast<std::size_t>(x) * 3;
        if (clockwise) {
          std::uint8_t* out = target.Row(x) + static_cast<std::size_t>(height - 1 - tileTop) * 3;
          for (int y = tileTop; y < tileBottom; ++y, in += sourceRowBytes, out -= 3) {
            CopyPixel(in, out);
          }
        } else {
          std::uint8_t* out = target.Row(width - 1 - x) + static_cast<std::size_t>(tileTop) * 3;
          for (int y = tileTop; y < tileBottom; ++y, in += sourceRowBytes, out += 3) {
            CopyPixel(in, out);
          }
        }
      }
    }
  }
}

// Half a turn: source pixel (x, y) lands at (W − 1 − x, H − 1 − y).
void HalfTurn(const Bitmap& source, Bitmap& target) {
  for (int y = 0; y < source.height; ++y) {
    const std::uint8_t* in = source.Row(y);
    std::uint8_t* out = target.Row(source.height - 1 - y) + (source.RowBytes() - 3);
    for (int x = 0; x < source.width; ++x, in += 3, out -= 3) CopyPixel(in, out);
  }
}

// One side of the canvas that holds a turned image: the extent rounded up, except that an extent
// within floating-point noise of a whole number is taken as that number, so that a sum which is
// whole in exact arithmetic but comes out as 7.000000001 does not gain a pixel.
std::int64_t CanvasSide(double extent) {
  const double nearest = std::round(extent);
  if (std::abs(extent - nearest) < 1e-6) return static_cast<std::int64_t>(nearest);
  return static_cast<std::int64_t>(std::ceil(extent));
}

// Sampling positions are fixed point with 32 fraction bits: stepping across a 65535-pixel row then
// drifts by far less than a pixel. The weights use the top 8 of those fraction bits.
constexpr int kPositionBits = 32;
constexpr double kPositionScale = 4294967296.0;

// The source of a smooth turn, and the colour that stands in for taps outside it.
struct TurnSource {
  const std::uint8_t* pixels = nullptr;
  std::size_t rowBytes = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::array<std::uint8_t, 3> background{};

  const std::uint8_t* Tap(std::int64_t x, std::int64_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return background.data();
    return pixels + static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x) * 3;
  }
};

// Bilinear blend of four taps; `right` and `bottom` are the weights of the right and bottom taps
// in 1/256 steps.
void Blend(const std::uint8_t* topLeft, const std::uint8_t* topRight,
           const std::uint8_t* bottomLeft, const std::uint8_t* bottomRight, std::uint32_t right,
           std::uint32_t bottom, std::uint8_t* out) {
  const std::uint32_t left = 256 - right;
  const std::uint32_t top = 256 - bottom;
  const auto channel = [&](int index) {
    const std::uint32_t upper = topLeft[index] * left + topRight[index] * right;
    const std::uint32_t lower = bottomLeft[index] * left + bottomRight[index] * right;
    return static_cast<std::uint8_t>((upper * top + lower * bottom + 32768) >> 16);
  };
  // All three are read before any is written: `out` might alias the source as far as the compiler
  // knows, and it would otherwise reload the taps after each store.
  const std::uint8_t red = channel(0);
  const std::uint8_t green = channel(1);
  const std::uint8_t blue = channel(2);
  out[0] = red;
  out[1] = green;
  out[2] = blue;
}

// The few target pixels whose taps straddle the source's border. Kept out of line so that the main
// loop stays small enough to live in registers.
[[gnu::noinline]] void BlendAtBorder(const TurnSource& source, std::int64_t left, std::int64_t top,
                                     std::uint32_t right, std::uint32_t bottom, std::uint8_t* out) {
  Blend(source.Tap(left, top), source.Tap(left + 1, top), source.Tap(left, top + 1),
        source.Tap(left + 1, top + 1), right, bottom, out);
}

// Turns by an angle that is not a multiple of 90°. Each target pixel centre is mapped back into
// the source and sampled bilinearly. Near the source's border the taps that fall outside take the
// background colour, so the turned image's edges blend smoothly into the background.
bool TurnSmoothly(Bitmap& bitmap, double degrees, Rgb background) {
  const double radians = degrees * std::numbers::pi / 180.0;
  const double cosine = std::cos(radians);
  const double sine = std::sin(radians);
  const double width = bitmap.width;
  const double height = bitmap.height;
  const std::int64_t targetWidth = CanvasSide(std::abs(width * cosine) + std::abs(height * sine));
  const std::int64_t targetHeight = CanvasSide(std::abs(width * sine) + std::abs(height * cosine));
  if (!SizeWithinLimits(targetWidth, targetHeight)) return false;
  // Filled with the background below, then the turned image drawn over it.
  std::optional<Bitmap> target = MakeBitmapToFill(targetWidth, targetHeight);
  if (!target) return false;
  for (std::size_t i = 0; i < target->pixels.size(); i += 3) {
    target->pixels[i] = background.red;
    target->pixels[i + 1] = background.green;
    target->pixels[i + 2] = background.blue;
  }

  const TurnSource source{bitmap.pixels.data(),
                          bitmap.RowBytes(),
                          bitmap.width,
                          bitmap.height,
                          {background.red, background.green, background.blue}};
  // Positions whose four taps all lie inside; as unsigned values, negative ones fail the test too.
  const auto innerWidth = static_cast<std::uint64_t>(bitmap.width - 1);
  const auto innerHeight = static_cast<std::uint64_t>(bitmap.height - 1);
  // A clockwise turn on screen (y pointing down) maps a source offset (u, v) from the centre to
  // (u cos − v sin, u sin + v cos); the inverse maps a target offset (s, t) back to
  // (s cos + t sin, −s sin + t cos). Positions below are in source pixel indices (centre − 0.5).
  const auto stepX = static_cast<std::int64_t>(std::llround(cosine * kPositionScale));
  const auto stepY = static_cast<std::int64_t>(std::llround(-sine * kPositionScale));
  const double offsetX = 0.5 - static_cast<double>(targetWidth) / 2.0;
  for (int y = 0; y < target->height; ++y) {
    const double offsetY = y + 0.5 - static_cast<double>(targetHeight) / 2.0;
    const double startX = width / 2.0 + offsetX * cosine + offsetY * sine - 0.5;
    const double startY = height / 2.0 - offsetX * sine + offsetY * cosine - 0.5;
    auto positionX = static_cast<std::int64_t>(std::llround(startX * kPositionScale));
    auto positionY = static_cast<std::int64_t>(std::llround(startY * kPositionScale));
    std::uint8_t* out = target->Row(y);
    for (int x = 0; x < target->width; ++x, out += 3, positionX += stepX, positionY += stepY) {
      // Arithmetic shifts floor negative positions too.
      const std::int64_t left = positionX >> kPositionBits;
      const std::int64_t top = positionY >> kPositionBits;
      const auto right = static_cast<std::uint32_t>((positionX >> 24) & 0xFF);
      const auto bottom = static_cast<std::uint32_t>((positionY >> 24) & 0xFF);
      if (static_cast<std::uint64_t>(left) < innerWidth &&
          static_cast<std::uint64_t>(top) < innerHeight) {
        const std::uint8_t* topLeft = source.pixels +
                                      static_cast<std::size_t>(top) * source.rowBytes +
                                      static_cast<std::size_t>(left) * 3;
        const std::uint8_t* bottomLeft = topLeft + source.rowBytes;
        Blend(topLeft, topLeft + 3, bottomLeft, bottomLeft + 3, right, bottom, out);
      } else if (left >= -1 && top >= -1 && left < source.width && top < source.height) {
        BlendAtBorder(source, left, top, right, bottom, out);
      }
    }
  }
  bitmap.width = target->width;
  bitmap.height = target->height;
  ReturnBuffer(std::exchange(bitmap.pixels, std::move(target->pixels)));
  return true;
}

// Resizing works one direction at a time. Along a direction, output pixel i is the weighted sum of
// `count` consecutive input pixels from `first`; the weights of each output sum to kWeightOne.
constexpr int kWeightBits = 14;
constexpr std::int64_t kWeightOne = std::int64_t{1} << kWeightBits;

struct AxisTaps {
  int first = 0;
  int count = 0;
  std::size_t weightIndex = 0;  // into AxisFilter::weights
};

struct AxisFilter {
  std::vector<AxisTaps> taps;
  std::vector<std::uint16_t> weights;
};

// Shrinking averages areas: output pixel i covers the input stretch [i·S/T, (i+1)·S/T), and every
// input pixel counts by how much of it lies inside. Measured in units of 1/T of an input pixel all
// these bounds are whole numbers, so the coverage is exact; the running sum of weights is rounded
// rather than each weight, so they add up to exactly kWeightOne.
void BuildAreaFilter(int sourceSize, int targetSize, AxisFilter& filter) {
  const std::int64_t source = sourceSize;
  const std::int64_t target = targetSize;
  for (std::int64_t i = 0; i < target; ++i) {
    const std::int64_t begin = i * source;  // in units of 1/target input pixel
    const std::int64_t end = begin + source;
    const std::int64_t firstPixel = begin / target;
    const std::int64_t endPixel = (end + target - 1) / target;
    AxisTaps taps{static_cast<int>(firstPixel), static_cast<int>(endPixel - firstPixel),
                  filter.weights.size()};
    std::int64_t covered = 0;
    std::int64_t given = 0;
    for (std::int64_t pixel = firstPixel; pixel < endPixel; ++pixel) {
      covered += std::min(end, (pixel + 1) * target) - std::max(begin, pixel * target);
      const std::int64_t total = (covered * kWeightOne + source / 2) / source;
      filter.weights.push_back(static_cast<std::uint16_t>(total - given));
      given = total;
    }
    filter.taps.push_back(taps);
  }
}

// Enlarging (or keeping the size) interpolates linearly between the two input pixels whose centres
// surround the output pixel's centre: position (i + ½)·S/T − ½, held inside the input.
void BuildLinearFilter(int sourceSize, int targetSize, AxisFilter& filter) {
  const std::int64_t source = sourceSize;
  const std::int64_t target = targetSize;
  for (std::int64_t i = 0; i < target; ++i) {
    // The position in units of 1/(2T) of an input pixel.
    const std::int64_t position = std::max<std::int64_t>((2 * i + 1) * source - target, 0);
    std::int64_t first = position / (2 * target);
    std::int64_t nextWeight = ((position % (2 * target)) * kWeightOne + target) / (2 * target);
    if (first >= source - 1) {
      first = source - 1;
      nextWeight = 0;
    }
    const std::size_t weightIndex = filter.weights.size();
    filter.weights.push_back(static_cast<std::uint16_t>(kWeightOne - nextWeight));
    if (nextWeight > 0) filter.weights.push_back(static_cast<std::uint16_t>(nextWeight));
    filter.taps.push_back({static_cast<int>(first), nextWeight > 0 ? 2 : 1, weightIndex});
  }
}

AxisFilter BuildFilter(int sourceSize, int targetSize) {
  AxisFilter filter;
  filter.taps.reserve(static_cast<std::size_t>(targetSize));
  if (targetSize < sourceSize) {
    BuildAreaFilter(sourceSize, targetSize, filter);
  } else {
    BuildLinearFilter(sourceSize, targetSize, filter);
  }
  return filter;
}

// The horizontal pass keeps 8 extra bits of precision (values × 256) for the vertical pass.
constexpr int kIntermediateShift = kWeightBits - 8;
constexpr int kFinalShift = kWeightBits + 8;

void ResizeRow(const std::uint8_t* row, const AxisFilter& filter, std::uint16_t* out) {
  for (const AxisTaps& taps : filter.taps) {
    const std::uint8_t* in = row + static_cast<std::size_t>(taps.first) * 3;
    const std::uint16_t* weight = filter.weights.data() + taps.weightIndex;
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
    for (int k = 0; k < taps.count; ++k, in += 3) {
      red += in[0] * std::uint32_t{weight[k]};
      green += in[1] * std::uint32_t{weight[k]};
      blue += in[2] * std::uint32_t{weight[k]};
    }
    constexpr std::uint32_t kHalf = 1u << (kIntermediateShift - 1);
    out[0] = static_cast<std::uint16_t>((red + kHalf) >> kIntermediateShift);
    out[1] = static_cast<std::uint16_t>((green + kHalf) >> kIntermediateShift);
    out[2] = static_cast<std::uint16_t>((blue + kHalf) >> kIntermediateShift);
    out += 3;
  }
}

// Resizes across, then down. The rows resized across are made only as the downward pass first
// needs them and kept in a ring: output rows use source rows in non-decreasing order, so a ring as
// deep as the largest downward tap count still holds every row an output row needs, and the
// intermediate image is never held whole.
void ResizeBoth(const Bitmap& source, const AxisFilter& across, const AxisFilter& down,
                Bitmap& target) {
  const std::size_t rowValues = target.RowBytes();
  int depth = 1;
  for (const AxisTaps& taps : down.taps) depth = std::max(depth, taps.count);
  std::vector<std::uint16_t> ring(static_cast<std::size_t>(depth) * rowValues);
  const auto ringRow = [&](int sourceRow) {
    return ring.data() + static_cast<std::size_t>(sourceRow % depth) * rowValues;
  };
  std::vector<std::uint32_t> sums(rowValues);
  int nextSourceRow = 0;
  for (int y = 0; y < target.height; ++y) {
    const AxisTaps& taps = down.taps[static_cast<std::size_t>(y)];
    for (; nextSourceRow < taps.first + taps.count; ++nextSourceRow) {
      ResizeRow(source.Row(nextSourceRow), across, ringRow(nextSourceRow));
    }
    const std::uint16_t* weights = down.weights.data() + taps.weightIndex;
    std::uint8_t* out = target.Row(y);
    constexpr std::uint32_t kHalf = 1u << (kFinalShift - 1);
    const std::uint16_t* first = ringRow(taps.first);
    const std::uint32_t firstWeight = weights[0];
    if (taps.count == 1) {
      for (std::size_t i = 0; i < rowValues; ++i) {
        out[i] = static_cast<std::uint8_t>((first[i] * firstWeight + kHalf) >> kFinalShift);
      }
      continue;
    }
    // The first taps go straight into the sums and the last one straight into the output, so
    // that the common two-tap case touches the sums not at all.
    const int lastTap = taps.count - 1;
    const std::uint16_t* last = ringRow(taps.first + lastTap);
    const std::uint32_t lastWeight = weights[lastTap];
    if (taps.count == 2) {
      for (std::size_t i = 0; i < rowValues; ++i) {
        out[i] = static_cast<std::uint8_t>(
            (first[i] * firstWeight + last[i] * lastWeight + kHalf) >> kFinalShift);
      }
      continue;
    }
    for (std::size_t i = 0; i < rowValues; ++i) sums[i] = first[i] * firstWeight;
    for (int k = 1; k < lastTap; ++k) {
      const std::uint16_t* row = ringRow(taps.first + k);
      const std::uint32_t weight = weights[k];
      for (std::size_t i = 0; i < rowValues; ++i) sums[i] += row[i] * weight;
    }
    for (std::size_t i = 0; i < rowValues; ++i) {
      out[i] = static_cast<std::uint8_t>((sums[i] + last[i] * lastWeight + kHalf) >> kFinalShift);
    }
  }
}

}  // namespace

std::optional<Bitmap> Crop(const Bitmap& source, std::int64_t left, std::int64_t top,
                           std::int64_t width, std::int64_t height) {
  const Span columns = ClipSpan(left, width, source.width);
  const Span rows = ClipSpan(top, height, source.height);
  if (columns.Empty() || rows.Empty()) return std::nullopt;
  // Every row is copied in whole.
  std::optional<Bitmap> result =
      MakeBitmapToFill(columns.end - columns.begin, rows.end - rows.begin);
  if (!result) return std::nullopt;
  result->grey = source.grey;
  const std::size_t offset = static_cast<std::size_t>(columns.begin) * 3;
  for (int y = 0; y < result->height; ++y) {
    std::memcpy(result->Row(y), source.Row(static_cast<int>(rows.begin) + y) + offset,
                result->RowBytes());
  }
  return result;
}

namespace {

void MirrorRows(Bitmap& bitmap) {
  for (int y = 0; y < bitmap.height; ++y) {
    std::uint8_t* left = bitmap.Row(y);
    std::uint8_t* right = left + bitmap.RowBytes() - 3;
    for (; left < right; left += 3, right -= 3) std::swap_ranges(left, left + 3, right);
  }
}

void FlipRows(Bitmap& bitmap) {
  for (int top = 0, bottom = bitmap.height - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(bitmap.Row(top), bitmap.Row(top) + bitmap.RowBytes(), bitmap.Row(bottom));
  }
}

}  // namespace

bool Orient(Bitmap& bitmap, int orientation) {
  switch (orientation) {
    case 2:
      MirrorRows(bitmap);
      return true;
    case 4:
      FlipRows(bitmap);
      return true;
    case 3:
      return Rotate(bitmap, 180'000, Rgb{});
    case 5:  // a quarter clockwise, then mirrored: the rows become the columns
      if (!Rotate(bitmap, 90'000, Rgb{})) return false;
      MirrorRows(bitmap);
      return true;
    case 6:
      return Rotate(bitmap, 90'000, Rgb{});
    case 7:  // a quarter clockwise, then upside down
      if (!Rotate(bitmap, 90'000, Rgb{})) return false;
      FlipRows(bitmap);
      return true;
    case 8:
      return Rotate(bitmap, 270'000, Rgb{});
    default:
      return true;
  }
}

bool Rotate(Bitmap& bitmap, std::int64_t angleThousandths, Rgb background) {
  std::int64_t angle = angleThousandths % kFullTurn;
  if (angle < 0) angle += kFullTurn;
  if (angle == 0) return true;
  if (angle % 90'000 != 0) {
    return TurnSmoothly(bitmap, static_cast<double>(angle) / 1000.0, background);
  }
  const bool halfTurn = angle == 180'000;
  std::optional<Bitmap> target = halfTurn ? MakeBitmapToFill(bitmap.width, bitmap.height)
                                          : MakeBitmapToFill(bitmap.height, bitmap.width);
  if (!target) return false;
  if (halfTurn) {
    HalfTurn(bitmap, *target);
  } else {
    QuarterTurn(bitmap, *target, angle == 90'000);
  }
  bitmap.width = target->width;
  bitmap.height = target->height;
  ReturnBuffer(std::exchange(bitmap.pixels, std::move(target->pixels)));
  return true;
}

bool Resize(Bitmap& bitmap, std::int64_t width, std::int64_t height) {
  if (!SizeWithinLimits(width, height)) return false;
  if (width == bitmap.width && height == bitmap.height) return true;
  try {
    const AxisFilter horizontal = BuildFilter(bitmap.width, static_cast<int>(width));
    const AxisFilter vertical = BuildFilter(bitmap.height, static_cast<int>(height));
    std::optional<Bitmap> target = MakeBitmapToFill(width, height);
    if (!target) return false;
    ResizeBoth(bitmap, horizontal, vertical, *target);
    bitmap.width = target->width;
    bitmap.height = target->height;
    ReturnBuffer(std::exchange(bitmap.pixels, std::move(target->pixels)));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace imaging
