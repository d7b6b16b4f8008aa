// Text files as the program writes and reads them: a line feed is stored as CR LF; reading accepts
// CR LF and a lone LF alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Appends text to `out`, each "\n" becoming "\r\n".
void AppendWithCrLf(std::string& out, std::string_view text);

// Writes text to a file through a temporary file (see AtomicFileWriter), "\n" stored as "\r\n".
// True when the file now holds exactly that text.
bool WriteTextFile(const std::string& path, std::string_view text);

// The content of a text file with every "\r\n" turned into "\n", at most maxBytes of it; nothing
// when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path,
                                        std::uint64_t maxBytes = 16u << 20);

// Reads text like the standard buffered text functions: white-space-delimited tokens, skipping
// white space, and the rest of a line.
class TextScanner {
 public:
  explicit TextScanner(std::string text) : text_(std::move(text)) {}

  bool AtEnd() const { return position_ >= text_.size(); }
  // Skips blanks, tabs, line feeds and the other white-space characters.
  void SkipWhiteSpace();
  // Skips white space, then returns the characters up to the next white space (empty at the end).
  std::string ReadToken();
  // The characters up to the end of the current line, without the line feed, which is consumed.
  std::string ReadRestOfLine();

 private:
  std::string text_;
  std::size_t position_ = 0;
};

}  // namespace platform
