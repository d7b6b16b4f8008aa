#include "imaging/ColorDepth.h"

namespace imaging {
void ExpandTo24(Bitmap&) {}
void ReduceTo16(Bitmap&) {}
bool ReduceTo8(Bitmap&) { return false; }
void RestoreDepth(Bitmap&, ColorDepth, bool) {}
}  // namespace imaging
