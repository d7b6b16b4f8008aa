// Conversion of the program's UTF-8 text to Shift_JIS, for the pages that declare that charset.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The text in Shift_JIS (Windows code page 932); nothing when a character has no Shift_JIS form.
std::optional<std::string> Utf8ToShiftJis(std::string_view utf8);

}  // namespace platform
