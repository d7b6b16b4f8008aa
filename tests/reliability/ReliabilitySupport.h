// Shared pieces of the reliability suite: a watchdog that turns a hang into a failure, the
// process's memory figures, and a headless main form ready for batch runs into an output folder.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "tests/support/FormFixture.h"

namespace reliability {

// True in the sanitizer build, whose allocator keeps freed memory in quarantine, so resident-memory
// figures say little there; leaks are LeakSanitizer's to find in that build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Ends the test process with SIGALRM when it is still alive after `seconds`, which ctest reports as
// a failure: a hang fails the test instead of stalling the suite. The limits are generous; they
// bound the time, they do not measure it.
class Watchdog {
 public:
  explicit Watchdog(unsigned seconds);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
};

// The process's resident memory now, and its peak since the last ResetPeakMemory (VmRSS and VmHWM
// of /proc/self/status), in bytes.
std::uint64_t ResidentMemory();
std::uint64_t PeakMemory();
void ResetPeakMemory();

// An output format as the form offers it.
struct OutputFormat {
  platform::ControlId radio;
  const char* extension;  // of the files a batch writes, without the dot
};
extern const std::vector<OutputFormat> kOutputFormats;
// Test names and messages show a format by its extension.
void PrintTo(const OutputFormat& format, std::ostream* out);

// The main form after its start, with an empty output folder `out/` chosen and a watchdog.
class BatchFixture : public testsupport::FormFixture {
 protected:
  BatchFixture();

  // Checks one radio button of a group of `count` and clears the others, as a click does.
  void Select(platform::ControlId radio, platform::ControlId first, int count);
  void SelectFormat(const OutputFormat& format);
  // Puts the paths on the list as they are, without the checks of a drop.
  void List(const std::vector<std::string>& paths);
  // Names in the output folder, sorted; temporaries included.
  std::vector<std::string> Outputs() const;
  // Empties the output folder.
  void ClearOutputs();
  // Empties the list and the output folder and forgets the messages.
  void Clear();
  // The last two messages: what a batch run closes with.
  std::vector<std::string> ClosingMessages() const;

  std::string outFolder;

 private:
  Watchdog watchdog_{600};
};

}  // namespace reliability
