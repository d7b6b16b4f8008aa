// File helpers: reading whole files, querying sizes, folders, and the executable's own folder.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A regular file opened for reading, closed when the object goes. Anything else (a folder, a
// named pipe, a device) does not open. The file is opened without blocking: opening a named pipe
// for reading would otherwise wait for a writer forever, before the check that refuses anything
// but a regular file could run; on a regular file the flag changes nothing.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool IsOpen() const { return descriptor_ >= 0; }
  // The size when the file was opened.
  std::uint64_t Size() const { return size_; }
  // Reads up to `count` bytes from where the last read ended; returns how many were read (short
  // only at the end of the file), or nothing on a read error.
  std::optional<std::size_t> ReadUpTo(std::uint8_t* buffer, std::size_t count);
  // The same from `offset` on, leaving the position of ReadUpTo alone.
  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::uint8_t* buffer,
                                    std::size_t count) const;
  // True while the file has the size and modification time it had when it was opened: nothing has
  // written to it since (as far as the file system's clock can tell). Renaming or deleting the
  // file changes neither: the open file is still the one that was opened.
  bool Unchanged() const;

 private:
  int descriptor_ = -1;
  std::uint64_t size_ = 0;
  timespec modified_{};
};

// The whole content of a regular file, or nothing when it cannot be opened or read, is not a
// regular file, or is larger than maxBytes.
std::optional<std::vector<std::uint8_t>> ReadFileBytes(const std::string& path,
                                                       std::uint64_t maxBytes = UINT64_MAX);
// The same, read into `bytes` (resized to the content, its capacity reused); false when
// ReadFileBytes would give nothing.
bool ReadFileInto(const std::string& path, std::vector<std::uint8_t>& bytes,
                  std::uint64_t maxBytes = UINT64_MAX);

// Up to `count` leading bytes of a regular file; empty when it cannot be read.
std::vector<std::uint8_t> ReadFilePrefix(const std::string& path, std::size_t count);

// The folder of the running executable (from /proc/self/exe), ending in "/". Empty when it cannot
// be found.
std::string ExecutableFolder();

// The size of a regular file in bytes, asked of the file system without reading the file; nothing
// when the file does not exist, is not a regular file or cannot be queried.
std::optional<std::uint64_t> FileSize(const std::string& path);

// The size as the information fields show it: the low 32 bits of FileSize taken as a signed number,
// or −1 when the size cannot be queried.
std::int32_t FileSizeField(const std::string& path);

// Creates one folder (its parent must exist). True when it was created; an existing folder or any
// other failure gives false, which callers are free to ignore.
bool CreateFolder(const std::string& path);

// Removes a file. False when there was nothing to remove or it could not be removed.
bool DeleteFile(const std::string& path);

// The process's current folder, without a trailing "/" (except for the root); empty on failure.
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& path);
// A name as seen from the current folder: absolute names unchanged, relative ones joined to the
// current folder (unchanged when that is unknown).
std::string InCurrentFolder(const std::string& name);

// A short text for a file operation's error number (errno), as a failed conversion reports it:
// "disk full", "permission denied", or the system's own text for the rarer ones.
std::string FileErrorText(int error);

// Creates an empty file when there is none, leaving an existing file untouched (like opening it for
// appending and closing it at once). False when the file cannot be opened, and for a symbolic link
// under the name: a link is never followed, so a dangling one cannot make a file where it points.
bool TouchFile(const std::string& path);

}  // namespace platform
