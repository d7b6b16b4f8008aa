// Pieces of the table-art page and the colour text of one cell.
#pragma once

#include <array>
#include <cstdint>

namespace engine {

// The six characters a cell's bgcolor holds for a pixel value 0x00BBGGRR: the value in lower-case
// hexadecimal without leading zeros, padded on the left with '0' to 6 digits or cut to its first
// 6, then with characters 1 and 5 and characters 2 and 6 exchanged, so that it reads red, green,
// blue.
std::array<char, 6> CellColorText(std::uint32_t pixelValue);

}  // namespace engine
