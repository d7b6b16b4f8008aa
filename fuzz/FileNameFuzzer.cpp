// libFuzzer entry point: any bytes as a path split into its file name and extension.
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::FileNameParts({data, size})) std::abort();
  return 0;
}
