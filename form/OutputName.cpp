// What a custom name may be: the start of a file name in the output folder.
#include <string>

#include "form/MainForm.h"

namespace form {

bool IsUsableCustomName(const std::string& name) {
  return name.find('/') == std::string::npos && name != "." && name != "..";
}

}  // namespace form
