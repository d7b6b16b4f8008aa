// libFuzzer entry point: any bytes read as photo metadata (EXIF data, JPEG APP segments).
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::PhotoMetadata({data, size})) std::abort();
  return 0;
}
