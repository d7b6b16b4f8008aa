#include "imaging/EncodedOutput.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace imaging {
namespace {

// The hash works on 32-byte stripes, one 64-bit word per lane, each lane multiplied and rotated
// like the rounds of the xxHash family; the lanes are mixed into two words at the end.
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ull;

std::uint64_t Word(const std::uint8_t* bytes) {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t word) {
  lane += word * kPrime2;
  lane = std::rotl(lane, 31);
  return lane * kPrime1;
}

std::uint64_t Avalanche(std::uint64_t value) {
  value ^= value >> 33;
  value *= kPrime2;
  value ^= value >> 29;
  value *= kPrime3;
  value ^= value >> 32;
  return value;
}

}  // namespace

ContentHash::ContentHash() : lanes_{kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1} {}

void ContentHash::AddStripe(const std::uint8_t* stripe) {
  for (std::size_t lane = 0; lane < 4; ++lane)
    lanes_[lane] = Round(lanes_[lane], Word(stripe + 8 * lane));
}

void ContentHash::Add(std::span<const std::uint8_t> bytes) {
  // An empty span may have no data pointer at all, which memcpy must not be given.
  if (bytes.empty()) return;
  length_ += bytes.size();
  const std::uint8_t* data = bytes.data();
  std::size_t size = bytes.size();
  if (pendingLength_ > 0) {
    const std::size_t taken = std::min(size, pending_.size() - pendingLength_);
    std::memcpy(pending_.data() + pendingLength_, data, taken);
    pendingLength_ += taken;
    data += taken;
    size -= taken;
    if (pendingLength_ < pending_.size()) return;
    AddStripe(pending_.data());
    pendingLength_ = 0;
  }
  for (; size >= 32; data += 32, size -= 32) AddStripe(data);
  std::memcpy(pending_.data(), data, size);
  pendingLength_ = size;
}

std::array<std::uint64_t, 2> ContentHash::Value() const {
  std::array<std::uint64_t, 4> lanes = lanes_;
  // The unfinished stripe, zero-padded; the length below tells apart inputs that differ only in
  // trailing zeros.
  std::array<std::uint8_t, 32> tail{};
  std::memcpy(tail.data(), pending_.data(), pendingLength_);
  for (std::size_t lane = 0; lane < 4; ++lane)
    lanes[lane] = Round(lanes[lane], Word(tail.data() + 8 * lane));
  const std::uint64_t first =
      Avalanche(std::rotl(lanes[0], 1) + std::rotl(lanes[1], 7) + std::rotl(lanes[2], 12) +
                std::rotl(lanes[3], 18) + length_ * kPrime3);
  const std::uint64_t second = Avalanche((lanes[0] ^ std::rotl(lanes[2], 29)) * kPrime3 +
                                         (lanes[1] ^ std::rotl(lanes[3], 17)) + length_);
  return {first, second ^ Avalanche(first)};
}

std::array<std::uint64_t, 2> ContentHash::Of(std::span<const std::uint8_t> bytes) {
  ContentHash hash;
  hash.Add(bytes);
  return hash.Value();
}

EncodedOutput::EncodedOutput(std::FILE* stream) : stream_(stream), buffer_(kBlockBytes) {}

bool EncodedOutput::Drain() {
  if (used_ == 0 || failed_) return !failed_;
  if (std::fwrite(buffer_.data(), 1, used_, stream_) != used_) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool EncodedOutput::Write(const void* data, std::size_t size) {
  if (failed_ || size == 0) return !failed_;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  hash_.Add({bytes, size});
  while (size > 0) {
    const std::size_t taken = std::min(size, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, bytes, taken);
    used_ += taken;
    bytes += taken;
    size -= taken;
    if (used_ == buffer_.size() && !Drain()) return false;
  }
  return true;
}

bool EncodedOutput::Finish() {
  return Drain() && std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
}

}  // namespace imaging
