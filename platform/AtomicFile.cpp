#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <utility>

#include "platform/FileSystem.h"

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

// Gives the new file the mode of the file it replaces, or that of a new file. The owner and group
// go first, since a change of owner clears the set-user-ID and set-group-ID bits: only root may
// give the file to another owner, and anyone may keep a group they belong to; what cannot be kept
// stays the writer's.
void KeepAttributes(int descriptor, const struct stat* replaced) {
  if (replaced == nullptr) {
    fchmod(descriptor, DefaultFileMode());
    return;
  }
  if (fchown(descriptor, replaced->st_uid, replaced->st_gid) != 0) {
    [[maybe_unused]] const int groupKept =
        fchown(descriptor, static_cast<uid_t>(-1), replaced->st_gid);
  }
  fchmod(descriptor, static_cast<mode_t>(replaced->st_mode & 07777));
}

bool WriteAll(int descriptor, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(descriptor, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

// Copies the whole of `spool` over the regular file at `target`, cuts it to that length and syncs
// it. The old content stays until the first new bytes reach the file; the file keeps its inode,
// and with it its mode, owner and other links. A link or anything but a regular file under the
// name is left alone.
bool RewriteInPlace(std::FILE* spool, const std::string& target) {
  const int out = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (out < 0) return false;
  struct stat status {};
  bool done = fstat(out, &status) == 0 && S_ISREG(status.st_mode);
  const int in = fileno(spool);
  done = done && lseek(in, 0, SEEK_SET) == 0;
  std::array<char, 1 << 16> buffer;
  off_t length = 0;
  while (done) {
    const ssize_t got = read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      done = got == 0;
      break;
    }
    done = WriteAll(out, buffer.data(), static_cast<std::size_t>(got));
    length += got;
  }
  done = done && ftruncate(out, length) == 0 && fsync(out) == 0;
  return close(out) == 0 && done;
}

// The file this thread last wrote as a new file, unsynced. A BMP is written twice, the second
// write replacing the first: when the first made a new file, no earlier file of the user's is at
// stake and the second needs no sync either. A file is known by its name and its inode.
struct WrittenFile {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
};
thread_local std::optional<WrittenFile> lastNewFile;

bool IsLastNewFile(const std::string& path, const struct stat& named) {
  return lastNewFile && lastNewFile->path == path && lastNewFile->device == named.st_dev &&
         lastNewFile->inode == named.st_ino;
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : targetPath_(std::move(targetPath)) {
  // What stands under the name itself, and the file it names (through a link).
  struct stat named {};
  const bool nameTaken = lstat(targetPath_.c_str(), &named) == 0;
  struct stat existing {};
  const bool exists = stat(targetPath_.c_str(), &existing) == 0;
  if (exists && faccessat(AT_FDCWD, targetPath_.c_str(), W_OK, AT_EACCESS) != 0) {
    Failed("write-protected file");
    return;
  }
  // A folder under the name is never replaced: the rename fails, and nothing needs syncing.
  replacing_ = nameTaken && !S_ISDIR(named.st_mode) && !IsLastNewFile(targetPath_, named);

  temporary_.emplace(FolderOf(targetPath_) + kTemporaryFilePrefix);
  const int descriptor = temporary_->Descriptor();
  if (descriptor < 0) {
    const int error = errno;
    temporary_.reset();
    // The folder takes no new file; a regular file already there may still be rewritten.
    if (nameTaken && S_ISREG(named.st_mode)) {
      stream_ = std::tmpfile();
      inPlace_ = stream_ != nullptr;
      if (!inPlace_) Failed(FileErrorText(errno));
    } else if (error == EACCES || error == EPERM) {
      Failed("write-protected folder");
    } else {
      Failed(error == ENOENT || error == ENOTDIR ? "the folder does not exist"
                                                 : FileErrorText(error));
    }
    return;
  }
  KeepAttributes(descriptor, exists && S_ISREG(existing.st_mode) ? &existing : nullptr);

  stream_ = fdopen(descriptor, "wb");
  if (stream_ == nullptr) {
    Failed(FileErrorText(errno));
    close(descriptor);
    unlink(temporary_->Path().c_str());
    temporary_.reset();
  }
}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

void AtomicFileWriter::Failed(std::string reason) {
  if (failureReason_.empty()) failureReason_ = std::move(reason);
}

bool AtomicFileWriter::Commit() {
  if (stream_ == nullptr) return false;
  // Each step's error number is taken at once, before anything else can change it.
  const auto step = [this](bool done) {
    if (!done) Failed(FileErrorText(errno));
    return done;
  };
  bool done = step(std::fflush(stream_) == 0 && std::ferror(stream_) == 0);
  if (inPlace_) {
    done = done && step(RewriteInPlace(stream_, targetPath_));
  } else if (replacing_) {
    // The new data reach the disk before the name moves to them.
    done = done && step(fsync(fileno(stream_)) == 0);
  }
  struct stat written {};
  const bool known = fstat(fileno(stream_), &written) == 0;
  done = step(std::fclose(stream_) == 0) && done;
  stream_ = nullptr;
  if (inPlace_) return done;
  done = done && step(std::rename(temporary_->Path().c_str(), targetPath_.c_str()) == 0);
  if (!done) unlink(temporary_->Path().c_str());
  temporary_.reset();
  lastNewFile.reset();
  if (done && !replacing_ && known) {
    lastNewFile = WrittenFile{targetPath_, written.st_dev, written.st_ino};
  }
  return done;
}

void AtomicFileWriter::Discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (temporary_) {
    unlink(temporary_->Path().c_str());
    temporary_.reset();
  }
}

}  // namespace platform
