#include "imaging/ColorEffects.h"

namespace imaging {
void MakeGreyscale(Bitmap&, int) {}
void TintRgb(Bitmap&, int, int, int) {}
void ScaleRgb(Bitmap&, int, int, int) {}
void AdjustClarityRgb(Bitmap&, int, int, int) {}
void ApplyLookupTables(Bitmap&, const std::uint8_t*) {}
}  // namespace imaging
