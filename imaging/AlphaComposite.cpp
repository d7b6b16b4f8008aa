#include "imaging/AlphaComposite.h"

namespace imaging {

void CompositeOntoWhite(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t width,
                        std::size_t first, std::size_t step) {
  for (std::size_t x = first; x < width; x += step) {
    const std::uint8_t* source = rgba + x * 4;
    std::uint8_t* target = rgb + x * 3;
    const unsigned alpha = source[3];
    for (int channel = 0; channel < 3; ++channel) {
      target[channel] =
          static_cast<std::uint8_t>((source[channel] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
  }
}

}  // namespace imaging
