// libFuzzer entry point: any bytes as LogFile/Log.ini, loaded by a starting main form.
#include <cstdlib>

#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzztargets::LoadSettingsFile({data, size})) std::abort();
  return 0;
}
