// libFuzzer entry point of one fuzzer: each is built from this file with its target body named by
// TESSELLARION_FUZZ_TARGET (fuzz/CMakeLists.txt); fuzz/FuzzTargets.h says what each one checks.
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::TESSELLARION_FUZZ_TARGET({data, size})) std::abort();
  return 0;
}
