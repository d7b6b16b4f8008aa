// libFuzzer entry point: BMP decode, 24-bit re-encode, decode again, compare.
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::BmpRoundTrip({data, size})) std::abort();
  return 0;
}
