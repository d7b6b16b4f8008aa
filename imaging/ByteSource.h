// Where a decoder reads its file from: bytes already in memory, or an open file read piece by
// piece. A BMP or PNG read from its file needs no copy of the whole file beside the pixels it
// decodes to, which keeps a conversion's memory close to the size of its image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imaging/EncodedOutput.h"
#include "imaging/Failure.h"
#include "platform/FileSystem.h"

namespace imaging {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Copies out.size() bytes from `offset` on; false when they are not all there.
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;

  // The first `count` bytes, or every byte when there are fewer; empty when they cannot be read.
  std::vector<std::uint8_t> Prefix(std::size_t count) const;
  // The hash of the whole content, read in blocks; nothing when it cannot be read.
  std::optional<ContentHash> Hash() const;
};

// Bytes in memory, which must outlive the source.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// A regular file of at most kMaxImageFileBytes, kept open for as long as the source lives.
class FileSource final : public ByteSource {
 public:
  // A failure when the path is not a regular file that can be opened, or the file is too large.
  static Result<std::shared_ptr<const FileSource>> Open(const std::string& path);
  explicit FileSource(const std::string& path) : file_(path) {}

  std::uint64_t Size() const override { return file_.Size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;
  // Nothing has written to the file since it was opened.
  bool Unchanged() const { return file_.Unchanged(); }

 private:
  platform::ReadOnlyFile file_;
};

// Reads a source from its start in pieces of any size, through a buffer, for a decoder that asks
// for a few bytes at a time (libpng reads chunk headers eight bytes at once).
class SourceReader {
 public:
  explicit SourceReader(const ByteSource& source) : source_(source) {}
  // Copies the next `count` bytes; false when the source ends before them.
  bool Read(std::uint8_t* out, std::size_t count);

 private:
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

  const ByteSource& source_;
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;           // bytes of the buffer already handed out
  std::uint64_t bufferStart_ = 0;  // where the buffer's bytes start in the source
};

}  // namespace imaging
