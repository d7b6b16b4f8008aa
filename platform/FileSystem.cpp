#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <system_error>

namespace platform {

ReadOnlyFile::ReadOnlyFile(const std::string& path)
    : descriptor_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
  struct stat status {};
  if (descriptor_ >= 0 && (fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode))) {
    close(descriptor_);
    descriptor_ = -1;
  }
  if (descriptor_ < 0) return;
  size_ = static_cast<std::uint64_t>(status.st_size);
  modified_ = status.st_mtim;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (descriptor_ >= 0) close(descriptor_);
}

std::optional<std::size_t> ReadOnlyFile::ReadUpTo(std::uint8_t* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = read(descriptor_, buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::optional<std::size_t> ReadOnlyFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer,
                                                std::size_t count) const {
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t at = offset + done;
    if (at > static_cast<std::uint64_t>(INT64_MAX)) break;
    const ssize_t got = pread(descriptor_, buffer + done, count - done, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool ReadOnlyFile::Unchanged() const {
  struct stat status {};
  return descriptor_ >= 0 && fstat(descriptor_, &status) == 0 &&
         static_cast<std::uint64_t>(status.st_size) == size_ &&
         status.st_mtim.tv_sec == modified_.tv_sec && status.st_mtim.tv_nsec == modified_.tv_nsec;
}

bool ReadFileInto(const std::string& path, std::vector<std::uint8_t>& bytes,
                  std::uint64_t maxBytes) {
  ReadOnlyFile file(path);
  if (!file.IsOpen() || file.Size() > maxBytes || file.Size() > SIZE_MAX / 2) return false;
  try {
    bytes.resize(static_cast<std::size_t>(file.Size()));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::optional<std::size_t> got = file.ReadUpTo(bytes.data(), bytes.size());
  if (!got) return false;
  // A file that shrank while it was read is taken as it now is.
  bytes.resize(*got);
  return true;
}

std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path,
                                                       std::uint64_t maxBytes) {
  std::vector<std::uint8_t> bytes;
  if (!ReadFileInto(path, bytes, maxBytes)) return std::nullopt;
  return bytes;
}

std::vector<std::uint8_t> ReadFilePrefix(const std::string& path, std::size_t count) {
  ReadOnlyFile file(path);
  if (!file.IsOpen()) return {};
  std::vector<std::uint8_t> bytes(count);
  const std::optional<std::size_t> got = file.ReadUpTo(bytes.data(), count);
  if (!got) return {};
  bytes.resize(*got);
  return bytes;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(256);
  while (true) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(length));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

std::int32_t FileSizeField(const std::string& path) {
  const std::optional<std::uint64_t> size = FileSize(path);
  if (!size) return -1;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*size & 0xFFFFFFFFu));
}

bool CreateFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

std::string CurrentFolder() {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

bool SetCurrentFolder(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string InCurrentFolder(const std::string& name) {
  if (name.starts_with('/')) return name;
  const std::string current = CurrentFolder();
  if (current.empty()) return name;
  return (current == "/" ? current : current + "/") + name;
}

bool TouchFile(const std::string& path) {
  // Without blocking, so that a named pipe in the file's place fails at once instead of waiting
  // for a reader; without following a link, whose target may lie anywhere.
  const int descriptor =
      open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666);
  if (descriptor < 0) return false;
  close(descriptor);
  return true;
}

std::string FileErrorText(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return "disk full";
    case EFBIG:
      return "file too large";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EROFS:
      return "read-only file system";
    case ENOENT:
    case ENOTDIR:
      return "no such file or folder";
    case ENAMETOOLONG:
      return "name too long";
    case EISDIR:
      return "a folder has that name";
    case 0:  // a step that failed without an error number
    case EIO:
      return "input/output error";
    default:
      // The thread-safe form of strerror.
      return std::generic_category().message(error);
  }
}

}  // namespace platform
