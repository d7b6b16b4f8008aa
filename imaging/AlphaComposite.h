// Pixels with transparency or more than eight bits a sample, brought to the 24-bit colour every
// decoder gives: alpha composited onto white, deeper samples rounded to eight bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imaging {

// Composites the RGBA pixels from `first` on, every `step`-th, onto white:
// out = (c × a + 255 × (255 − a)) / 255, rounded.
void CompositeOntoWhite(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t width,
                        std::size_t first = 0, std::size_t step = 1);

// A sample of `bits` bits (9 to 16) as the nearest 8-bit value: v × 255 / (2^bits − 1), rounded.
inline std::uint8_t RoundTo8Bits(unsigned value, int bits) {
  const unsigned maximum = (1U << bits) - 1;
  return static_cast<std::uint8_t>((value * 255 + maximum / 2) / maximum);
}

}  // namespace imaging
