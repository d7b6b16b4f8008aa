// Writing a file so that the target is replaced only by complete new content, and only when this
// user may write it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "platform/TemporaryFiles.h"

namespace platform {

// Prefix of the temporary files written beside a target; a leftover one (after a SIGKILL or a
// crash) can be recognised and removed by this name. Their names are registered
// (RegisteredTemporary), so a handler that ends the process on a signal removes them.
inline constexpr const char* kTemporaryFilePrefix = ".tessellarion-";

// Opens a temporary file in the target's folder. Write to Stream(), then Commit() flushes, closes
// and renames the temporary over the target. Until Commit succeeds the target is untouched; a
// writer destroyed without a successful Commit removes its temporary.
//
// An existing target is replaced only when this user may write it, as opening it for writing
// would require; a write-protected file is left as it is and Stream() is nullptr. The replacement
// keeps the old file's permission bits, and its owner and group as far as the process may set
// them. It is a new file: other hard links to the old one keep the old content. When something is
// replaced, the new data are synced to the disk before the rename, so a power cut leaves the old
// file or the new one; a new file needs no sync.
//
// When the folder takes no new file (it is write-protected) but the existing target may be
// written, the content is gathered in an unnamed temporary file and copied over the target at
// Commit. That rewrite in place cannot be all-or-nothing: a failure or a power cut during the copy
// can leave the target part old, part new.
//
// A target that is a symbolic link is replaced by the new file: the link goes, and the file it
// pointed at stays as it was. Writing through the link would change a file outside the target's
// folder, possibly the very input being converted, and the rename that makes the replacement
// complete at once works on the link's own name. (The permission check follows the link, as
// opening the name for writing would; a link is never rewritten in place.)
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string targetPath);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // The stream to write to; nullptr when the target may not be written, or when neither a
  // temporary nor the rewrite in place is possible (for example the folder does not exist).
  std::FILE* Stream() const { return stream_; }

  // True when every byte reached the file system and the new content now stands under the
  // target's name. False for any failure of this final step (the rename included: a folder under
  // the target's name, a name too long); the temporary is then gone and the target as it was.
  bool Commit();

  // Why Stream() is nullptr or Commit failed: "write-protected file", "write-protected folder",
  // "disk full"... Empty while nothing failed.
  const std::string& FailureReason() const { return failureReason_; }

 private:
  void Discard();
  // Keeps the first failure's reason: a later step fails only because an earlier one did.
  void Failed(std::string reason);

  std::string targetPath_;
  std::optional<RegisteredTemporary> temporary_;
  std::FILE* stream_ = nullptr;
  bool replacing_ = false;
  bool inPlace_ = false;
  std::string failureReason_;
};

}  // namespace platform
