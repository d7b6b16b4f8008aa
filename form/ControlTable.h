// The main form's controls as data: id, kind, caption, style and place in dialog units. Both the
// headless and the Qt backend build the form from this one table.
#pragma once

#include <vector>

#include "platform/Controls.h"

namespace form {

// Size of the form in dialog units.
inline constexpr int kFormWidth = 419;
inline constexpr int kFormHeight = 288;

// Every control of the main form, group boxes and labels included, in tab order.
const std::vector<platform::ControlDefinition>& MainFormControls();

}  // namespace form
