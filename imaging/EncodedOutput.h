// The bytes an encoder writes: buffered in large blocks on their way to a stdio stream, and
// hashed, so the library can later recognise a file it wrote itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace imaging {

// A 128-bit hash of a byte sequence, computed in one go or piece by piece with the same result.
// Not cryptographic: it tells files apart, it does not defend against forgery.
class ContentHash {
 public:
  ContentHash();
  void Add(std::span<const std::uint8_t> bytes);
  // The hash of everything added so far, with the total length folded in.
  std::array<std::uint64_t, 2> Value() const;
  std::uint64_t Length() const { return length_; }

  static std::array<std::uint64_t, 2> Of(std::span<const std::uint8_t> bytes);

 private:
  void AddStripe(const std::uint8_t* stripe);

  std::array<std::uint64_t, 4> lanes_;
  std::array<std::uint8_t, 32> pending_{};
  std::size_t pendingLength_ = 0;
  std::uint64_t length_ = 0;
};

class EncodedOutput {
 public:
  // A block of this size is handed to the stream at once; the stream's own buffer is skipped for
  // such writes.
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 17;

  explicit EncodedOutput(std::FILE* stream);

  // False once any write to the stream failed; later writes are then dropped.
  bool Write(const void* data, std::size_t size);
  // Hands what is buffered to the stream and flushes it. False when anything failed.
  bool Finish();
  bool Failed() const { return failed_; }
  const ContentHash& Hash() const { return hash_; }

 private:
  bool Drain();

  std::FILE* stream_;
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
  ContentHash hash_;
};

}  // namespace imaging
