#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1);
}

// The permissions a newly created file gets from fopen: 0666 less the process's umask. The umask
// can only be read by setting it, so it is read once: two writers on different threads reading it
// at the same moment would leave the process with a umask of 0.
mode_t DefaultFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : targetPath_(std::move(targetPath)) {
  std::string pattern = FolderOf(targetPath_) + kTemporaryFilePrefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int descriptor = mkostemp(buffer.data(), O_CLOEXEC);
  if (descriptor < 0) return;
  temporaryPath_ = buffer.data();

  // The replacement keeps the permissions of the file it replaces, or gets those of a new file.
  struct stat existing {};
  const mode_t mode = stat(targetPath_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                          ? static_cast<mode_t>(existing.st_mode & 07777)
                          : DefaultFileMode();
  fchmod(descriptor, mode);

  stream_ = fdopen(descriptor, "wb");
  if (stream_ == nullptr) {
    close(descriptor);
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

bool AtomicFileWriter::Commit() {
  if (stream_ == nullptr) return false;
  const bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!written || !closed || std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
    return false;
  }
  temporaryPath_.clear();
  return true;
}

void AtomicFileWriter::Discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporaryPath_.empty()) {
    unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
  }
}

}  // namespace platform
