#include "imaging/FileMemory.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "imaging/Imaging.h"
#include "platform/FileSystem.h"

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

struct Memory {
  std::vector<GoodFile> goodFiles;
  std::unique_ptr<Image> released;
  std::optional<BmpSave> lastBmpSave;
};

Memory& State() {
  static Memory memory;
  return memory;
}

void Remember(GoodFile file) {
  std::vector<GoodFile>& files = State().goodFiles;
  const auto same = std::find_if(files.begin(), files.end(), [&](const GoodFile& known) {
    return known.length == file.length && known.hash == file.hash && known.kind == file.kind;
  });
  if (same != files.end()) files.erase(same);
  if (files.size() == kGoodFiles) files.erase(files.begin());
  files.push_back(file);
}

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
  // A pooled buffer with room for the file as it is now, so that reading it never has to move
  // what has been read into a larger one; a file that grows meanwhile is still read whole.
  const std::optional<std::uint64_t> size = platform::FileSize(path);
  if (!size || *size > kMaxImageFileBytes) return nullptr;
  // A kept image whose file has another size cannot be taken back: its memory serves this file.
  std::unique_ptr<Image>& released = State().released;
  if (released != nullptr && released->Source()->size() != *size) released.reset();
  std::vector<std::uint8_t> buffer = TakeBufferWithRoom(static_cast<std::size_t>(*size));
  if (!platform::ReadFileInto(path, buffer, kMaxImageFileBytes)) {
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

bool IsGoodFile(std::span<const std::uint8_t> bytes, std::int32_t kind) {
  const std::vector<GoodFile>& files = State().goodFiles;
  // The hash is only worked out when a known file has the same length and kind.
  const bool candidate = std::any_of(files.begin(), files.end(), [&](const GoodFile& known) {
    return known.length == bytes.size() && known.kind == kind;
  });
  if (!candidate) return false;
  const std::array<std::uint64_t, 2> hash = ContentHash::Of(bytes);
  return std::any_of(files.begin(), files.end(), [&](const GoodFile& known) {
    return known.length == bytes.size() && known.kind == kind && known.hash == hash;
  });
}

void KeepReleasedImage(std::unique_ptr<Image> image) {
  State().released.reset();
  if (image != nullptr && image->AsLoaded() && image->Source() != nullptr) {
    State().released = std::move(image);
  }
}

std::unique_ptr<Image> TakeReleasedImage(std::span<const std::uint8_t> bytes, std::int32_t kind) {
  std::unique_ptr<Image> kept = std::move(State().released);
  if (kept == nullptr || kept->SourceKind() != kind) return nullptr;
  const std::vector<std::uint8_t>& source = *kept->Source();
  if (source.size() != bytes.size() ||
      (!bytes.empty() && std::memcmp(source.data(), bytes.data(), bytes.size()) != 0)) {
    return nullptr;
  }
  return kept;
}

void RememberBmpSave(const std::string& path, std::uint64_t stamp) {
  const std::optional<FileIdentity> identity = IdentityOf(path);
  State().lastBmpSave.reset();
  if (identity) State().lastBmpSave = BmpSave{path, stamp, *identity};
}

bool SavedAsBmp(const std::string& path, std::uint64_t stamp) {
  const std::optional<BmpSave>& save = State().lastBmpSave;
  if (!save || save->stamp != stamp || save->path != path) return false;
  const std::optional<FileIdentity> identity = IdentityOf(path);
  return identity && *identity == save->identity;
}

void ForgetFiles() {
  Memory& memory = State();
  memory.goodFiles.clear();
  memory.released.reset();
  memory.lastBmpSave.reset();
}

}  // namespace imaging
