#include "imaging/DctMirror.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace imaging::dct {
namespace {

// The maps every axis uses, worked out once: identity, plain mirror, and for each count r of
// samples in a partial last block the maps of the earlier and the later source block, and the
// map of the last output block, whose one source is reflected to fill the padding.
struct AxisMatrices {
  AxisMatrix identity;
  AxisMatrix mirror;
  std::array<AxisMatrix, kBlockSide> earlier;
  std::array<AxisMatrix, kBlockSide> later;
  std::array<AxisMatrix, kBlockSide> edge;
};

// The orthonormal 8-point DCT-II basis: sample x of frequency u.
double Basis(int frequency, int sample) {
  const double scale = frequency == 0 ? std::sqrt(0.125) : 0.5;
  return scale * std::cos((2 * sample + 1) * frequency * std::numbers::pi / 16.0);
}

// The map of coefficients taking output sample x from source sample from[x] (none when −1):
// D · P · Dᵀ. Entries within rounding of zero are made exactly zero, as they are in exact
// arithmetic.
AxisMatrix SelectionMatrix(const std::array<int, kBlockSide>& from) {
  AxisMatrix matrix;
  for (int source = 0; source < kBlockSide; ++source) {
    for (int output = 0; output < kBlockSide; ++output) {
      double sum = 0.0;
      for (int x = 0; x < kBlockSide; ++x) {
        const int at = from[static_cast<std::size_t>(x)];
        if (at >= 0) sum += Basis(output, x) * Basis(source, at);
      }
      matrix.columns[static_cast<std::size_t>(source)][static_cast<std::size_t>(output)] =
          std::abs(sum) < 1e-9 ? 0.0f : static_cast<float>(sum);
    }
  }
  return matrix;
}

AxisMatrices MakeAxisMatrices() {
  AxisMatrices matrices;
  for (std::size_t k = 0; k < kBlockSide; ++k) {
    matrices.identity.columns[k][k] = 1.0f;
    matrices.mirror.columns[k][k] = k % 2 == 0 ? 1.0f : -1.0f;
  }
  matrices.identity.diagonal = matrices.mirror.diagonal = true;
  for (int valid = 1; valid < kBlockSide; ++valid) {
    std::array<int, kBlockSide> earlier{};
    std::array<int, kBlockSide> later{};
    std::array<int, kBlockSide> edge{};
    for (int x = 0; x < kBlockSide; ++x) {
      const auto at = static_cast<std::size_t>(x);
      // Output samples before `valid` are the later block's first samples, reversed; the rest
      // are the earlier block's last ones, reversed; at the edge the rest reflect the first part.
      later[at] = x < valid ? valid - 1 - x : -1;
      earlier[at] = x < valid ? -1 : kBlockSide - 1 + valid - x;
      edge[at] = x < valid ? valid - 1 - x : x - valid;
    }
    const auto index = static_cast<std::size_t>(valid);
    matrices.earlier[index] = SelectionMatrix(earlier);
    matrices.later[index] = SelectionMatrix(later);
    matrices.edge[index] = SelectionMatrix(edge);
  }
  return matrices;
}

const AxisMatrices& Matrices() {
  static const AxisMatrices matrices = MakeAxisMatrices();
  return matrices;
}

// sums += scale × values, eight at a time: the two never overlap, so the loop goes in vectors.
inline void AddScaled(float* __restrict sums, const float* __restrict values, float scale) {
  for (std::size_t k = 0; k < kBlockSide; ++k) sums[k] += scale * values[k];
}

// The top bit of every 16-bit lane that is not zero, of four coefficients read as one word.
constexpr std::uint64_t NonzeroLanes(std::uint64_t lanes) {
  constexpr std::uint64_t kLow = 0x7FFF7FFF7FFF7FFFu;
  return (((lanes & kLow) + kLow) | lanes) & ~kLow;
}

}  // namespace

AxisMirror::AxisMirror(std::uint32_t samples, bool mirrored)
    : blocks_((samples + kBlockSide - 1) / kBlockSide),
      valid_(static_cast<int>(samples - (blocks_ - 1) * kBlockSide)),
      mirrored_(mirrored) {
  Matrices();
}

int AxisMirror::Sources(std::uint32_t index, std::array<AxisSource, 2>& sources) const {
  const AxisMatrices& matrices = Matrices();
  if (!mirrored_) {
    sources[0] = {index, &matrices.identity};
    return 1;
  }
  const std::uint32_t later = blocks_ - 1 - index;
  const auto valid = static_cast<std::size_t>(valid_);
  if (valid_ == kBlockSide) {
    sources[0] = {later, &matrices.mirror};
    return 1;
  }
  if (later == 0) {
    sources[0] = {0, &matrices.edge[valid]};
    return 1;
  }
  sources[0] = {later - 1, &matrices.earlier[valid]};
  sources[1] = {later, &matrices.later[valid]};
  return 2;
}

BlockMixer::BlockMixer(const std::array<std::uint16_t, kBlockSize>& sourceSteps,
                       const std::array<std::uint16_t, kBlockSize>& outputSteps, bool transpose,
                       bool mixesDown, bool mixesAcross)
    : byColumns_(mixesDown && !mixesAcross), swapOnWrite_(transpose != byColumns_) {
  for (std::size_t first = 0; first < kBlockSide; ++first) {
    for (std::size_t second = 0; second < kBlockSide; ++second) {
      const std::size_t kept = first * kBlockSide + second;
      const std::size_t swapped = second * kBlockSide + first;
      sourceSteps_[kept] = static_cast<float>(sourceSteps[kept]);
      const std::uint16_t step = outputSteps[swapOnWrite_ ? swapped : kept];
      reciprocal_[kept] = 1.0f / static_cast<float>(std::max<std::uint16_t>(step, 1));
    }
  }
}

void BlockMixer::Add(const std::int16_t* block, const AxisMatrix& vertical,
                     const AxisMatrix& horizontal) {
  constexpr unsigned kAllRows = (1u << kBlockSide) - 1;
  constexpr std::size_t kLanes = kBlockSide / 2;
  for (std::size_t v = 0; v < kBlockSide; ++v) {
    const std::int16_t* row = block + v * kBlockSide;
    // Most rows of a photo's blocks are all zero: they are skipped eight coefficients at a time,
    // and the others visit only their nonzero coefficients, found four at a time.
    std::uint64_t halves[2];
    std::memcpy(halves, row, sizeof(halves));
    if ((halves[0] | halves[1]) == 0) continue;
    const auto& down = vertical.columns[v];
    if (!byColumns_) touched_ |= vertical.diagonal ? 1u << v : kAllRows;
    for (std::size_t half = 0; half < 2; ++half) {
      for (std::uint64_t lanes = NonzeroLanes(halves[half]); lanes != 0; lanes &= lanes - 1) {
        const std::size_t u =
            half * kLanes + static_cast<std::size_t>(std::countr_zero(lanes)) / 16;
        const float value = static_cast<float>(row[u]) * sourceSteps_[v * kBlockSide + u];
        const auto& across = horizontal.columns[u];
        if (byColumns_) {
          touched_ |= 1u << u;
          AddScaled(&sum_[u * kBlockSide], down.data(), value * across[u]);
        } else if (vertical.diagonal) {
          AddScaled(&sum_[v * kBlockSide], across.data(), value * down[v]);
        } else {
          for (std::size_t k = 0; k < kBlockSide; ++k) {
            AddScaled(&sum_[k * kBlockSide], across.data(), value * down[k]);
          }
        }
      }
    }
  }
}

void BlockMixer::Write(std::int16_t* out) {
  std::array<std::int16_t, kBlockSize> levels{};
  const float dc = sum_[0] * reciprocal_[0];
  for (std::size_t first = 0; first < kBlockSide; ++first) {
    if ((touched_ & (1u << first)) == 0) continue;
    // Truncating after adding a half rounds to the nearest level, halfway away from zero. The
    // loop has no branch, so it goes several sums at a time.
    for (std::size_t second = 0; second < kBlockSide; ++second) {
      const std::size_t at = first * kBlockSide + second;
      const float level = sum_[at] * reciprocal_[at];
      const float rounded = std::clamp(level + std::copysign(0.5f, level), -1023.0f, 1023.0f);
      levels[at] = static_cast<std::int16_t>(rounded);
      sum_[at] = 0.0f;
    }
  }
  // The DC coefficient, first in either order, alone may reach −1024.
  if ((touched_ & 1u) != 0) {
    levels[0] =
        static_cast<std::int16_t>(std::clamp(dc + std::copysign(0.5f, dc), -1024.0f, 1023.0f));
  }
  touched_ = 0;
  if (!swapOnWrite_) {
    std::copy(levels.begin(), levels.end(), out);
    return;
  }
  for (std::size_t first = 0; first < kBlockSide; ++first) {
    for (std::size_t second = 0; second < kBlockSide; ++second) {
      out[second * kBlockSide + first] = levels[first * kBlockSide + second];
    }
  }
}

}  // namespace imaging::dct
