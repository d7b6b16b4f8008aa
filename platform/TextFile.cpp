#include "platform/TextFile.h"

#include <cstring>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"

namespace platform {
namespace {

bool IsWhiteSpace(char character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\r' ||
         character == '\v' || character == '\f';
}

}  // namespace

void AppendWithCrLf(std::string& out, std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t lineFeed = text.find('\n', start);
    if (lineFeed == std::string_view::npos) {
      out.append(text.substr(start));
      return;
    }
    out.append(text.substr(start, lineFeed - start));
    out.append("\r\n");
    start = lineFeed + 1;
  }
}

bool WriteTextFile(const std::string& path, std::string_view text) {
  AtomicFileWriter writer(path);
  if (writer.Stream() == nullptr) return false;
  std::string bytes;
  bytes.reserve(text.size() + text.size() / 8);
  AppendWithCrLf(bytes, text);
  if (std::fwrite(bytes.data(), 1, bytes.size(), writer.Stream()) != bytes.size()) return false;
  return writer.Commit();
}

std::optional<std::string> ReadTextFile(const std::string& path, std::uint64_t maxBytes) {
  // Only the first maxBytes are ever read, so a huge (or sparse) file costs no more memory than
  // that.
  const std::optional<std::uint64_t> size = FileSize(path);
  if (!size) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> bytes =
      *size > maxBytes ? ReadFilePrefix(path, static_cast<std::size_t>(maxBytes))
                       : ReadFileBytes(path, maxBytes);
  if (!bytes) return std::nullopt;
  std::string text;
  text.reserve(bytes->size());
  for (std::size_t i = 0; i < bytes->size(); ++i) {
    const char character = static_cast<char>((*bytes)[i]);
    if (character == '\r' && i + 1 < bytes->size() && (*bytes)[i + 1] == '\n') continue;
    text.push_back(character);
  }
  return text;
}

void TextScanner::SkipWhiteSpace() {
  while (position_ < text_.size() && IsWhiteSpace(text_[position_])) ++position_;
}

std::string TextScanner::ReadToken() {
  SkipWhiteSpace();
  const std::size_t start = position_;
  while (position_ < text_.size() && !IsWhiteSpace(text_[position_])) ++position_;
  return text_.substr(start, position_ - start);
}

std::string TextScanner::ReadRestOfLine() {
  const std::size_t start = position_;
  const std::size_t lineFeed = text_.find('\n', start);
  const std::size_t end = lineFeed == std::string::npos ? text_.size() : lineFeed;
  position_ = lineFeed == std::string::npos ? text_.size() : lineFeed + 1;
  return text_.substr(start, end - start);
}

}  // namespace platform
