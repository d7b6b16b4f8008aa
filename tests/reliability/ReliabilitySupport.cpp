#include "tests/reliability/ReliabilitySupport.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "platform/FileSystem.h"

namespace reliability {
namespace {

// A "Name:   1234 kB" line of /proc/self/status, in bytes; 0 when it is missing.
std::uint64_t StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) != 0) continue;
    std::istringstream fields(line.substr(name.size() + 1));
    std::uint64_t kilobytes = 0;
    fields >> kilobytes;
    return kilobytes * 1024;
  }
  return 0;
}

}  // namespace

Watchdog::Watchdog(unsigned seconds) { alarm(seconds); }
Watchdog::~Watchdog() { alarm(0); }

std::uint64_t ResidentMemory() { return StatusField("VmRSS"); }
std::uint64_t PeakMemory() { return StatusField("VmHWM"); }

void ResetPeakMemory() {
  // Writing 5 to clear_refs sets the peak back to the current resident size.
  std::ofstream("/proc/self/clear_refs") << "5";
}

const std::vector<OutputFormat> kOutputFormats = {{engine::kFormatBmpRadio, "bmp"},
                                                  {engine::kFormatJpegRadio, "jpg"},
                                                  {engine::kFormatPngRadio, "png"},
                                                  {engine::kFormatHtmRadio, "htm"}};

void PrintTo(const OutputFormat& format, std::ostream* out) { *out << format.extension; }

BatchFixture::BatchFixture() {
  form->InitialUpdate();
  shell.messages.clear();
  outFolder = folder.File("out/");
  platform::CreateFolder(outFolder);
  engine::Settings().OutputFolder = outFolder;
}

void BatchFixture::Select(platform::ControlId radio, platform::ControlId first, int count) {
  for (platform::ControlId id = first; id < first + count; ++id) {
    controls.SetChecked(id, id == radio);
  }
}

void BatchFixture::SelectFormat(const OutputFormat& format) {
  Select(format.radio, engine::kFormatBmpRadio, 4);
}

void BatchFixture::List(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) controls.AppendListEntry(engine::kInputList, path);
  engine::Flags().InputPresent = 1;
}

std::vector<std::string> BatchFixture::Outputs() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(outFolder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void BatchFixture::ClearOutputs() {
  for (const auto& entry : std::filesystem::directory_iterator(outFolder)) {
    std::filesystem::remove_all(entry.path());
  }
}

void BatchFixture::Clear() {
  form->DeleteAllEntries();
  ClearOutputs();
  shell.messages.clear();
}

std::vector<std::string> BatchFixture::ClosingMessages() const {
  const std::size_t count = std::min<std::size_t>(shell.messages.size(), 2);
  return std::vector<std::string>(shell.messages.end() - static_cast<std::ptrdiff_t>(count),
                                  shell.messages.end());
}

}  // namespace reliability
