// libFuzzer entry point: any bytes probed as a file for their kind.
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::ProbeFileKind({data, size})) std::abort();
  return 0;
}
