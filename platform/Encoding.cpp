#include "platform/Encoding.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace platform {

std::optional<std::string> Utf8ToShiftJis(std::string_view utf8) {
  iconv_t converter = iconv_open("CP932", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  // Shift_JIS never needs more bytes than UTF-8 for the same text.
  std::vector<char> input(utf8.begin(), utf8.end());
  std::vector<char> output(utf8.size() + 1);
  char* inputPointer = input.data();
  std::size_t inputLeft = input.size();
  char* outputPointer = output.data();
  std::size_t outputLeft = output.size();
  const std::size_t result = iconv(converter, &inputPointer, &inputLeft, &outputPointer, &outputLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1) || inputLeft != 0) return std::nullopt;
  return std::string(output.data(), output.size() - outputLeft);
}

}  // namespace platform
