#include "imaging/ByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/Limits.h"

namespace imaging {
namespace {

// Files are hashed and read in blocks of this size: large enough that the calls cost nothing
// beside the copying, small enough to stay in the processor's cache.
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

}  // namespace

std::vector<std::uint8_t> ByteSource::Prefix(std::size_t count) const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(count, Size())));
  if (!ReadAt(0, bytes)) bytes.clear();
  return bytes;
}

std::optional<ContentHash> ByteSource::Hash() const {
  ContentHash hash;
  std::vector<std::uint8_t> block(kBlockBytes);
  for (std::uint64_t offset = 0; offset < Size(); offset += block.size()) {
    const std::span<std::uint8_t> piece = std::span(block).first(
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), Size() - offset)));
    if (!ReadAt(offset, piece)) return std::nullopt;
    hash.Add(piece);
  }
  return hash;
}

bool MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
}

Result<std::shared_ptr<const FileSource>> FileSource::Open(const std::string& path) {
  // A path that opens but is no regular file is closed again without an error number.
  errno = 0;
  auto source = std::make_shared<FileSource>(path);
  if (!source->file_.IsOpen()) {
    return Refused(errno != 0 ? platform::FileErrorText(errno) : "not a regular file");
  }
  if (source->Size() > kMaxImageFileBytes) return Refused(kFileTooLargeReason);
  return std::shared_ptr<const FileSource>(std::move(source));
}

bool FileSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  const std::optional<std::size_t> got = file_.ReadAt(offset, out.data(), out.size());
  return got && *got == out.size();
}

bool SourceReader::Read(std::uint8_t* out, std::size_t count) {
  while (count > 0) {
    if (used_ == buffer_.size()) {
      // The next block, or what is left of the source when that is less.
      bufferStart_ += buffer_.size();
      if (bufferStart_ >= source_.Size()) return false;
      buffer_.resize(static_cast<std::size_t>(
          std::min<std::uint64_t>(kBufferBytes, source_.Size() - bufferStart_)));
      used_ = 0;
      if (!source_.ReadAt(bufferStart_, buffer_)) return false;
    }
    const std::size_t taken = std::min(count, buffer_.size() - used_);
    std::memcpy(out, buffer_.data() + used_, taken);
    used_ += taken;
    out += taken;
    count -= taken;
  }
  return true;
}

}  // namespace imaging
