#include "imaging/FileMemory.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "imaging/Imaging.h"

namespace imaging {
namespace {

// A file known to decode.
struct GoodFile {
  std::uint64_t length = 0;
  std::array<std::uint64_t, 2> hash{};
  std::int32_t kind = 0;
};

// What identifies a file on disk without reading it. A file replaced, rewritten or touched gets a
// different identity: a new inode, size or change time.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  friend bool operator==(const FileIdentity& first, const FileIdentity& second) {
    const auto same = [](const timespec& a, const timespec& b) {
      return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return first.device == second.device && first.inode == second.inode &&
           first.size == second.size && same(first.modified, second.modified) &&
           same(first.changed, second.changed);
  }
};

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

struct BmpSave {
  std::string path;
  std::uint64_t stamp = 0;
  FileIdentity identity;
};

// Enough for the files of a preview and its neighbours; the oldest is forgotten first.
constexpr std::size_t kGoodFiles = 16;

// Shared by every thread that converts; hashing and file reads happen outside the lock.
struct Memory {
  std::mutex mutex;
  std::vector<GoodFile> goodFiles;
  std::unique_ptr<Image> released;
  ContentHash releasedHash;
};

Memory& State() {
  static Memory memory;
  return memory;
}

// The BMP save belongs to one conversion, which runs on one thread from its first save to its
// second: each thread remembers its own, so conversions running side by side do not push each
// other's out.
thread_local std::optional<BmpSave> lastBmpSave;

void Remember(GoodFile file) {
  const std::lock_guard lock(State().mutex);
  std::vector<GoodFile>& files = State().goodFiles;
  const auto same = std::find_if(files.begin(), files.end(), [&](const GoodFile& known) {
    return known.length == file.length && known.hash == file.hash && known.kind == file.kind;
  });
  if (same != files.end()) files.erase(same);
  if (files.size() == kGoodFiles) files.erase(files.begin());
  files.push_back(file);
}

}  // namespace

FileBytes ReadWholeFile(const ByteSource& file) {
  std::vector<std::uint8_t> buffer = TakeBuffer(static_cast<std::size_t>(file.Size()));
  if (!file.ReadAt(0, buffer)) {
    ReturnBuffer(std::move(buffer));
    return nullptr;
  }
  // The buffer goes back to the pool when the last user lets go of the bytes.
  return FileBytes(new std::vector<std::uint8_t>(std::move(buffer)),
                   [](const std::vector<std::uint8_t>* bytes) {
                     ReturnBuffer(std::move(*const_cast<std::vector<std::uint8_t>*>(bytes)));
                     delete bytes;
                   });
}

void RememberGoodFile(std::span<const std::uint8_t> bytes, std::int32_t kind) {
  Remember({bytes.size(), ContentHash::Of(bytes), kind});
}

void RememberGoodFile(const ContentHash& hash, std::int32_t kind) {
  Remember({hash.Length(), hash.Value(), kind});
}

bool IsGoodFile(const ByteSource& file, std::int32_t kind) {
  std::vector<GoodFile> files;
  {
    const std::lock_guard lock(State().mutex);
    files = State().goodFiles;
  }
  const bool candidate = std::any_of(files.begin(), files.end(), [&](const GoodFile& known) {
    return known.length == file.Size() && known.kind == kind;
  });
  if (!candidate) return false;
  const std::optional<ContentHash> hash = file.Hash();
  return hash && std::any_of(files.begin(), files.end(), [&](const GoodFile& known) {
           return known.length == hash->Length() && known.kind == kind &&
                  known.hash == hash->Value();
         });
}

void KeepReleasedImage(std::unique_ptr<Image> image) {
  Memory& memory = State();
  std::unique_ptr<Image> dropped;
  const std::optional<ContentHash> hash =
      image != nullptr ? image->SourceHash() : std::optional<ContentHash>();
  const std::lock_guard lock(memory.mutex);
  dropped = std::move(memory.released);
  if (!hash) return;
  memory.released = std::move(image);
  memory.releasedHash = *hash;
}

std::unique_ptr<Image> TakeReleasedImage(const ByteSource& file, std::int32_t kind) {
  Memory& memory = State();
  std::unique_ptr<Image> kept;
  ContentHash keptHash;
  {
    const std::lock_guard lock(memory.mutex);
    kept = std::move(memory.released);
    keptHash = memory.releasedHash;
  }
  if (kept == nullptr || kept->SourceKind() != kind || keptHash.Length() != file.Size()) {
    return nullptr;
  }
  const std::optional<ContentHash> hash = file.Hash();
  if (!hash || hash->Value() != keptHash.Value()) return nullptr;
  return kept;
}

void RememberBmpSave(const std::string& path, std::uint64_t stamp) {
  const std::optional<FileIdentity> identity = IdentityOf(path);
  lastBmpSave.reset();
  if (identity) lastBmpSave = BmpSave{path, stamp, *identity};
}

bool SavedAsBmp(const std::string& path, std::uint64_t stamp) {
  const std::optional<BmpSave>& save = lastBmpSave;
  if (!save || save->stamp != stamp || save->path != path) return false;
  const std::optional<FileIdentity> identity = IdentityOf(path);
  return identity && *identity == save->identity;
}

void ForgetFiles() {
  Memory& memory = State();
  std::unique_ptr<Image> released;
  {
    const std::lock_guard lock(memory.mutex);
    memory.goodFiles.clear();
    released = std::move(memory.released);
  }
  lastBmpSave.reset();
}

}  // namespace imaging
