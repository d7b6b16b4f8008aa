// The icons compiled into the program.
#pragma once

#include <QIcon>

namespace app {

// The application's icon, 32 × 32 and 16 × 16.
QIcon ApplicationIcon();
// The icon of the program's documents, 32 × 32 and 16 × 16.
QIcon DocumentIcon();

}  // namespace app
