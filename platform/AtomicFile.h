// Writing a file so that the target is replaced only by complete new content.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Prefix of the temporary files written beside a target; a leftover one (after a crash or a kill)
// can be recognised and removed by this name.
inline constexpr const char* kTemporaryFilePrefix = ".tessellarion-";

// Opens a temporary file in the target's folder. Write to Stream(), then Commit() flushes, closes
// and renames the temporary over the target. Until Commit succeeds the target is untouched; a
// writer destroyed without a successful Commit removes its temporary.
//
// A target that is a symbolic link is replaced by the new file: the link goes, and the file it
// pointed at stays as it was. Writing through the link would change a file outside the target's
// folder, possibly the very input being converted, and the rename that makes the replacement
// complete at once works on the link's own name.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string targetPath);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // The stream to write to; nullptr when the temporary could not be created (for example the
  // folder does not exist or cannot be written).
  std::FILE* Stream() const { return stream_; }

  // True when every byte reached the disk and the temporary now stands under the target's name.
  bool Commit();

 private:
  void Discard();

  std::string targetPath_;
  std::string temporaryPath_;
  std::FILE* stream_ = nullptr;
};

}  // namespace platform
