// Colour-depth states of a bitmap. The pixels always hold the colours shown, so going back to
// 24-bit colour only drops the palette state, and a reduction rewrites the pixels to what the
// reduced image shows.
#include "imaging/ColorDepth.h"

#include <array>
#include <new>
#include <vector>

#include "imaging/Quantizer.h"

namespace imaging {
namespace {

constexpr std::size_t kMaxPaletteSize = 256;

// Gives each pixel the palette index of its colour when the bitmap has at most 256 colours, the
// palette listing them in the order they first appear (top row first). False when a 257th colour
// turns up; `palette` and `indices` then hold partial results.
bool IndexExactColors(const Bitmap& bitmap, std::vector<Rgb>& palette,
                      std::vector<std::uint8_t>& indices) {
  // Open addressing over 1024 slots: with at most 257 colours the table never gets more than a
  // quarter full, so probes stay short. A slot holds colour + 1, so 0 marks it empty.
  constexpr std::uint32_t kSlotBits = 10;
  constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;
  std::array<std::uint32_t, 1u << kSlotBits> keys{};
  std::array<std::uint8_t, 1u << kSlotBits> slotIndex{};
  std::uint32_t lastKey = 0;
  std::uint8_t lastIndex = 0;
  const std::uint8_t* pixel = bitmap.pixels.data();
  for (std::uint8_t& index : indices) {
    const std::uint32_t key =
        ((std::uint32_t{pixel[0]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[2]) + 1;
    if (key != lastKey) {
      std::uint32_t slot = (key * 2654435761u) >> (32 - kSlotBits);
      while (keys[slot] != 0 && keys[slot] != key) slot = (slot + 1) & kSlotMask;
      if (keys[slot] == 0) {
        if (palette.size() == kMaxPaletteSize) return false;
        keys[slot] = key;
        slotIndex[slot] = static_cast<std::uint8_t>(palette.size());
        palette.push_back({pixel[0], pixel[1], pixel[2]});
      }
      lastKey = key;
      lastIndex = slotIndex[slot];
    }
    index = lastIndex;
    pixel += 3;
  }
  return true;
}

}  // namespace

void ExpandTo24(Bitmap& bitmap) {
  bitmap.depth = ColorDepth::kTrue24;
  bitmap.palette = {};
  bitmap.indices = {};
  bitmap.rleCompression = false;
}

void ReduceTo16(Bitmap& bitmap) {
  std::array<std::uint8_t, 256> table{};
  for (unsigned value = 0; value < 256; ++value) {
    const unsigned top5 = value >> 3;
    table[value] = static_cast<std::uint8_t>((top5 << 3) | (top5 >> 2));
  }
  for (std::uint8_t& value : bitmap.pixels) value = table[value];
  bitmap.depth = ColorDepth::kHigh16;
  bitmap.palette = {};
  bitmap.indices = {};
}

bool ReduceTo8(Bitmap& bitmap) {
  try {
    std::vector<std::uint8_t> indices(bitmap.PixelCount());
    std::vector<Rgb> palette;
    palette.reserve(kMaxPaletteSize);
    const bool exact = IndexExactColors(bitmap, palette, indices);
    if (!exact) {
      palette = QuantizeColors(bitmap, indices);
      // Nothing can fail from here on, so the bitmap changes only now.
      std::uint8_t* pixel = bitmap.pixels.data();
      for (const std::uint8_t index : indices) {
        const Rgb& color = palette[index];
        pixel[0] = color.red;
        pixel[1] = color.green;
        pixel[2] = color.blue;
        pixel += 3;
      }
    }
    bitmap.palette = std::move(palette);
    bitmap.indices = std::move(indices);
    bitmap.depth = ColorDepth::kPalette8;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void RestoreDepth(Bitmap& bitmap, ColorDepth depth, bool rleCompression) {
  switch (depth) {
    case ColorDepth::kTrue24:
      ExpandTo24(bitmap);
      bitmap.rleCompression = rleCompression;
      break;
    case ColorDepth::kHigh16:
      ReduceTo16(bitmap);
      bitmap.rleCompression = rleCompression;
      break;
    case ColorDepth::kPalette8:
      // Should memory run out, a plain 24-bit bitmap is still consistent, whereas palette and
      // indices left from before the edit might no longer fit its pixels.
      if (ReduceTo8(bitmap)) {
        bitmap.rleCompression = rleCompression;
      } else {
        ExpandTo24(bitmap);
      }
      break;
  }
}

}  // namespace imaging
