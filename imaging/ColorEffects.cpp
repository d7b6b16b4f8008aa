// Colour effects on the 24-bit pixels. Where a channel's result depends on its own value alone, the
// effect builds a 256-entry table per channel once and the pixel loop only looks values up.
#include "imaging/ColorEffects.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace imaging {
namespace {

using Table = std::array<std::uint8_t, 256>;

void ApplyTables(Bitmap& bitmap, const Table& red, const Table& green, const Table& blue) {
  std::uint8_t* pixel = bitmap.pixels.data();
  std::uint8_t* const end = pixel + bitmap.pixels.size();
  for (; pixel != end; pixel += 3) {
    pixel[0] = red[pixel[0]];
    pixel[1] = green[pixel[1]];
    pixel[2] = blue[pixel[2]];
  }
}

// numerator / denominator rounded to the nearest integer, halves away from zero (denominator > 0),
// so that pulling up and pulling down by the same amount behave alike.
int DivideRounded(int numerator, int denominator) {
  return numerator >= 0 ? (numerator + denominator / 2) / denominator
                        : -((-numerator + denominator / 2) / denominator);
}

std::uint8_t ClampToByte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

Table TintTable(int percent) {
  percent = std::clamp(percent, -100, 100);
  Table table{};
  for (int value = 0; value < 256; ++value) {
    const int tinted = percent >= 0 ? value + DivideRounded((255 - value) * percent, 200)
                                    : DivideRounded(value * (200 + percent), 200);
    table[static_cast<std::size_t>(value)] = ClampToByte(tinted);
  }
  return table;
}

Table ScaleTable(int perMille) {
  // Beyond 255000 per mille every non-zero value already ends at 255; the cap keeps the product
  // small.
  const int weight = std::clamp(perMille, 0, 255'000);
  Table table{};
  for (int value = 0; value < 256; ++value) {
    table[static_cast<std::size_t>(value)] = ClampToByte((value * weight + 500) / 1000);
  }
  return table;
}

// The 3 × 3 box around a pixel sums to at most 9 × 255; the difference 9c − sum therefore lies in
// −2295..2295, and a clarity amount turns it into a change of the channel through a table.
constexpr int kMaxBoxDifference = 9 * 255;
using ClarityTable = std::array<std::int16_t, 2 * kMaxBoxDifference + 1>;

// c + (c − blur) × amount / 100 with blur = sum / 9 is c + (9c − sum) × amount / 900. A positive
// amount sharpens; a negative one moves c toward the blur by |amount| / 100, the softening.
ClarityTable MakeClarityTable(int amount) {
  ClarityTable table{};
  for (int difference = -kMaxBoxDifference; difference <= kMaxBoxDifference; ++difference) {
    table[static_cast<std::size_t>(difference + kMaxBoxDifference)] =
        static_cast<std::int16_t>(DivideRounded(difference * amount, 900));
  }
  return table;
}

// Sums of each value with its left and right neighbours, the edge pixels standing in for the
// missing neighbours beyond the border. The middle of the row runs without edge tests.
void HorizontalSums(const std::uint8_t* row, std::size_t rowValues, std::uint16_t* sums) {
  if (rowValues == 3) {
    for (std::size_t i = 0; i < 3; ++i) sums[i] = static_cast<std::uint16_t>(3 * row[i]);
    return;
  }
  const std::size_t last = rowValues - 3;
  for (std::size_t i = 0; i < 3; ++i) {
    sums[i] = static_cast<std::uint16_t>(2 * row[i] + row[i + 3]);
    sums[last + i] = static_cast<std::uint16_t>(row[last + i - 3] + 2 * row[last + i]);
  }
  for (std::size_t i = 3; i < last; ++i) {
    sums[i] = static_cast<std::uint16_t>(row[i - 3] + row[i] + row[i + 3]);
  }
}

// One clarity pass, written over the image row by row. Three rows of horizontal sums roll down the
// image; the sums of the row above were taken before that row was overwritten, so the pass reads
// only original values. The top and bottom rows stand in for the missing rows beyond the border.
void ClarityPass(Bitmap& bitmap, const std::array<int, 3>& amounts) {
  const std::array<ClarityTable, 3> tables = {
      MakeClarityTable(amounts[0]), MakeClarityTable(amounts[1]), MakeClarityTable(amounts[2])};
  const std::size_t rowValues = bitmap.RowBytes();
  std::vector<std::uint16_t> buffers(rowValues * 3);
  std::array<std::uint16_t*, 3> rows = {buffers.data(), buffers.data() + rowValues,
                                        buffers.data() + 2 * rowValues};
  std::uint16_t* current = rows[0];
  HorizontalSums(bitmap.Row(0), rowValues, current);
  std::uint16_t* above = current;
  std::uint16_t* below = current;
  if (bitmap.height > 1) {
    below = rows[1];
    HorizontalSums(bitmap.Row(1), rowValues, below);
  }
  for (int y = 0; y < bitmap.height; ++y) {
    std::uint8_t* row = bitmap.Row(y);
    for (std::size_t i = 0; i < rowValues; i += 3) {
      for (std::size_t channel = 0; channel < 3; ++channel) {
        const std::size_t at = i + channel;
        const int value = row[at];
        const int sum = above[at] + current[at] + below[at];
        const int change =
            tables[channel][static_cast<std::size_t>(9 * value - sum + kMaxBoxDifference)];
        row[at] = ClampToByte(value + change);
      }
    }
    if (y + 1 == bitmap.height) break;
    above = current;
    current = below;
    if (y + 2 < bitmap.height) {
      // The one buffer held by neither the new row above nor the new current row.
      below = *std::find_if(rows.begin(), rows.end(), [&](std::uint16_t* buffer) {
        return buffer != above && buffer != current;
      });
      HorizontalSums(bitmap.Row(y + 2), rowValues, below);
    }
  }
}

}  // namespace

// The luma's three products come from tables (the red one with the rounding half added), and
// the division by 1000 is a multiplication by 2^28 / 1000 rounded up: exact for every sum up to
// 255 500 (the error stays below 0.0006, less than the 0.001 that could change the result).
struct LumaTables {
  std::array<std::uint32_t, 256> red{};
  std::array<std::uint32_t, 256> green{};
  std::array<std::uint32_t, 256> blue{};
  LumaTables() {
    for (std::uint32_t value = 0; value < 256; ++value) {
      red[value] = 299 * value + 500;
      green[value] = 587 * value;
      blue[value] = 114 * value;
    }
  }
};

void GreyscalePixels(std::uint8_t* pixels, std::size_t count) {
  static const LumaTables tables;
  constexpr std::uint64_t kReciprocal = 268'436;  // ceil(2^28 / 1000)
  std::uint8_t* const end = pixels + 3 * count;
  for (std::uint8_t* pixel = pixels; pixel != end; pixel += 3) {
    const std::uint64_t sum = tables.red[pixel[0]] + tables.green[pixel[1]] + tables.blue[pixel[2]];
    const auto grey = static_cast<std::uint8_t>((sum * kReciprocal) >> 28);
    pixel[0] = grey;
    pixel[1] = grey;
    pixel[2] = grey;
  }
}

void MakeGreyscale(Bitmap& bitmap, int strength) {
  strength = std::clamp(strength, 0, 255);
  if (strength == 0) return;
  // At full strength the kept part is 0 and the grey part is the luma itself.
  if (strength == 255) {
    GreyscalePixels(bitmap.pixels.data(), bitmap.pixels.size() / 3);
    return;
  }
  // c + (Y − c) × s / 255 is c × (255 − s) / 255 + Y × s / 255; both halves come from tables in
  // 16-bit fixed point. The exact value is never halfway between integers (255 is odd), so the
  // sum rounds to the nearest integer exactly.
  std::array<std::uint32_t, 256> kept{};
  std::array<std::uint32_t, 256> grey{};
  std::array<std::uint32_t, 256> redLuma{};
  std::array<std::uint32_t, 256> greenLuma{};
  std::array<std::uint32_t, 256> blueLuma{};
  const auto weight = static_cast<std::uint32_t>(strength);
  for (std::uint32_t value = 0; value < 256; ++value) {
    kept[value] = (value * (255 - weight) * 65536 + 127) / 255;
    grey[value] = (value * weight * 65536 + 127) / 255;
    redLuma[value] = 299 * value;
    greenLuma[value] = 587 * value;
    blueLuma[value] = 114 * value;
  }
  std::uint8_t* pixel = bitmap.pixels.data();
  std::uint8_t* const end = pixel + bitmap.pixels.size();
  for (; pixel != end; pixel += 3) {
    const std::uint32_t luma =
        (redLuma[pixel[0]] + greenLuma[pixel[1]] + blueLuma[pixel[2]] + 500) / 1000;
    const std::uint32_t greyPart = grey[luma];
    pixel[0] = static_cast<std::uint8_t>((kept[pixel[0]] + greyPart + 32768) >> 16);
    pixel[1] = static_cast<std::uint8_t>((kept[pixel[1]] + greyPart + 32768) >> 16);
    pixel[2] = static_cast<std::uint8_t>((kept[pixel[2]] + greyPart + 32768) >> 16);
  }
}

void TintRgb(Bitmap& bitmap, int redPercent, int greenPercent, int bluePercent) {
  ApplyTables(bitmap, TintTable(redPercent), TintTable(greenPercent), TintTable(bluePercent));
}

void ScaleRgb(Bitmap& bitmap, int redPerMille, int greenPerMille, int bluePerMille) {
  ApplyTables(bitmap, ScaleTable(redPerMille), ScaleTable(greenPerMille), ScaleTable(bluePerMille));
}

void AdjustClarityRgb(Bitmap& bitmap, int redAmount, int greenAmount, int blueAmount) {
  const std::array<int, 3> amounts = {std::clamp(redAmount, -100, 100),
                                      std::clamp(greenAmount, -100, 100),
                                      std::clamp(blueAmount, -100, 100)};
  if (bitmap.pixels.empty() || amounts == std::array<int, 3>{0, 0, 0}) return;
  ClarityPass(bitmap, amounts);
  // Full softening blends all the way to the blur, and then once more.
  std::array<int, 3> again{};
  for (std::size_t channel = 0; channel < 3; ++channel) {
    again[channel] = amounts[channel] == -100 ? -100 : 0;
  }
  if (again != std::array<int, 3>{0, 0, 0}) ClarityPass(bitmap, again);
}

void ApplyLookupTables(Bitmap& bitmap, const std::uint8_t* tables) {
  Table red{};
  Table green{};
  Table blue{};
  std::memcpy(red.data(), tables, 256);
  std::memcpy(green.data(), tables + 256, 256);
  std::memcpy(blue.data(), tables + 512, 256);
  ApplyTables(bitmap, red, green, blue);
}

}  // namespace imaging
