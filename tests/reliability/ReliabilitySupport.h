// Shared pieces of the reliability suite: the process's memory figures, and the form started for
// batch runs (tests/support/FormFixture.h).
#pragma once

#include <sys/resource.h>

#include <cstdint>

#include "tests/support/FormFixture.h"

namespace reliability {

// True in the sanitizer build, whose allocator keeps freed memory in quarantine, so memory figures
// say little there; leaks are LeakSanitizer's to find in that build.
inline constexpr bool kSanitized = TESSELLARION_SANITIZED;

// The process's peak resident memory in bytes. ctest runs each test in a process of its own, so
// this is the peak of the test and what its fixture set up.
inline std::uint64_t PeakMemory() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

}  // namespace reliability
