// Mirroring 8 × 8 blocks of DCT coefficients where a side does not end on a block boundary.
//
// A side of n samples whose last block holds only r of its 8 is mirrored block for block plus a
// shift of 8 − r samples: mirrored block j takes the last r samples of source block n − 1 − j,
// reversed, followed by the first 8 − r samples of block n − 2 − j, reversed. Along that axis each
// output block is then S_A · a + S_B · b of the two source blocks' coefficient vectors, with
// S = D · P · Dᵀ for the orthonormal 8-point DCT D and the sample selection P. The last output
// block has no second source and is padded by reflecting its samples, which keeps the padding as
// smooth as the picture. The arithmetic is done on dequantised coefficients, and the result is
// quantised again to the output's steps.
#pragma once

#include <array>
#include <cstdint>

namespace imaging::dct {

constexpr int kBlockSide = 8;
constexpr int kBlockSize = kBlockSide * kBlockSide;

// A linear map of the 8 coefficients along one axis; column v holds the output that coefficient v
// gives alone. A diagonal one (identity, or the sign flips of a plain mirror) touches one output
// per coefficient.
struct AxisMatrix {
  std::array<std::array<float, kBlockSide>, kBlockSide> columns{};
  bool diagonal = false;
};

// One source block of an output block along an axis, with the map applied to it.
struct AxisSource {
  std::uint32_t block = 0;
  const AxisMatrix* matrix = nullptr;
};

// One axis of one component: how many samples it has, whether it is mirrored.
class AxisMirror {
 public:
  AxisMirror(std::uint32_t samples, bool mirrored);

  // True when the mirror mixes neighbouring blocks: mirrored, and the last block is partial.
  bool Shifts() const { return mirrored_ && valid_ != kBlockSide; }

  // The source blocks (one or two, the count returned) whose maps add up to output block `index`.
  int Sources(std::uint32_t index, std::array<AxisSource, 2>& sources) const;

 private:
  std::uint32_t blocks_;
  int valid_;  // samples in the last block, 1 to 8
  bool mirrored_;
};

// Builds one output block from source blocks: each added through a vertical and a horizontal
// axis map, after dequantising it with the source's steps; written quantised with the output's
// steps (nearest level, halfway away from zero, held within what an 8-bit baseline file can
// hold), transposed when asked. Steps and coefficients are in row order, vertical frequency first.
// The maps of an axis that `mixes` are full; those of the other axis must be diagonal.
class BlockMixer {
 public:
  BlockMixer(const std::array<std::uint16_t, kBlockSize>& sourceSteps,
             const std::array<std::uint16_t, kBlockSize>& outputSteps, bool transpose,
             bool mixesDown, bool mixesAcross);

  void Add(const std::int16_t* block, const AxisMatrix& vertical, const AxisMatrix& horizontal);
  // Writes the block added up so far and starts the next one.
  void Write(std::int16_t* out);

 private:
  std::array<float, kBlockSize> sourceSteps_{};
  // The sums are kept column by column when only the vertical axis mixes, so that a coefficient
  // adds to eight sums side by side; row by row otherwise.
  bool byColumns_;
  // The output is written with rows and columns of the sums swapped (a transposed output kept
  // by rows, or one kept by columns that is not transposed).
  bool swapOnWrite_;
  // The output's reciprocal steps, at the position of the sum they divide.
  std::array<float, kBlockSize> reciprocal_{};
  std::array<float, kBlockSize> sum_{};
  // The rows of sum_ anything was added to since the last Write, one bit each: in a photo's
  // chroma most stay zero, and neither cost a division nor need clearing.
  unsigned touched_ = 0;
};

}  // namespace imaging::dct
