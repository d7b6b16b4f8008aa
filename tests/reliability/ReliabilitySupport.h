// Shared pieces of the reliability suite: the process's memory figures, the output formats, and a
// headless main form ready for batch runs into an empty output folder.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
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

// An output format as the form offers it, and the extension of the files a batch writes in it.
struct OutputFormat {
  platform::ControlId radio;
  std::string extension;
};
inline const std::vector<OutputFormat> kOutputFormats = {{engine::kFormatBmpRadio, "bmp"},
                                                         {engine::kFormatJpegRadio, "jpg"},
                                                         {engine::kFormatPngRadio, "png"},
                                                         {engine::kFormatHtmRadio, "htm"}};

// The main form after its start, with an empty output folder `out/` chosen. A hang ends the test
// process with SIGALRM after ten minutes, far beyond any test's time, so it fails the test instead
// of stalling the suite.
class BatchFixture : public testsupport::FormFixture {
 protected:
  BatchFixture() {
    alarm(600);
    form->InitialUpdate();
    std::filesystem::create_directory(outFolder);
    engine::Settings().OutputFolder = outFolder;
  }

  // Checks the format's radio button and clears the other three, as a click does.
  void SelectFormat(const OutputFormat& format) {
    for (const OutputFormat& other : kOutputFormats) {
      controls.SetChecked(other.radio, other.radio == format.radio);
    }
  }

  // Empties the output folder, forgets the messages and puts the paths on the list as they are,
  // without the checks of a drop.
  void List(const std::vector<std::string>& paths) {
    for (const auto& entry : std::filesystem::directory_iterator(outFolder)) {
      std::filesystem::remove_all(entry.path());
    }
    form->DeleteAllEntries();
    shell.messages.clear();
    for (const std::string& path : paths) controls.AppendListEntry(engine::kInputList, path);
    engine::Flags().InputPresent = 1;
  }

  std::vector<std::string> Outputs() const { return testsupport::FolderEntries(outFolder); }

  std::string outFolder = folder.File("out/");
};

}  // namespace reliability
