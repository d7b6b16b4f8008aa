// libFuzzer entry point: any bytes loaded as an image file, told apart by content.
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::LoadImage({data, size})) std::abort();
  return 0;
}
