#include "imaging/Bitmap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

#include "imaging/Imaging.h"

namespace imaging {

bool SizeWithinLimits(std::int64_t width, std::int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

std::optional<Bitmap> MakeBitmap(std::int64_t width, std::int64_t height) {
  if (!SizeWithinLimits(width, height)) return std::nullopt;
  Bitmap bitmap;
  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  try {
    bitmap.pixels.assign(bitmap.PixelCount() * 3, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return bitmap;
}

std::optional<Bitmap> MakeBitmapToFill(std::int64_t width, std::int64_t height) {
  if (!SizeWithinLimits(width, height)) return std::nullopt;
  Bitmap bitmap;
  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  try {
    bitmap.pixels = TakeBuffer(bitmap.PixelCount() * 3);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return bitmap;
}

namespace {

// Buffers below this are cheap to allocate afresh and not worth keeping.
constexpr std::size_t kPooledBytes = std::size_t{1} << 16;
constexpr std::size_t kPooledBuffers = 2;
// Buffers from this size on are asked to be backed by huge pages.
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

std::vector<std::vector<std::uint8_t>>& Pool() {
  // Never destroyed: images released while the program ends may still hand buffers back.
  static auto* pool = new std::vector<std::vector<std::uint8_t>>();
  return *pool;
}

// Fresh memory costs a page fault for every page the first time it is written, and on this
// kind of machine those faults take longer than the work done in the page (a turned 24 MP photo
// spent most of its time in them). Huge pages fault once per 2 MB; the kernel gives them to a
// range asked for them when its mode is "madvise", the default of most distributions. Asked
// before the buffer is cleared, so the clearing faults in huge pages already. A refusal (no
// transparent huge pages) leaves the buffer as it is.
void AskForHugePages(std::uint8_t* data, std::size_t size) {
  if (size < kHugePageBytes) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) / page * page;
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

// The pooled buffer with the least room of those with room for `size`, or the pool's end.
std::vector<std::vector<std::uint8_t>>::iterator FindRoom(std::size_t size) {
  std::vector<std::vector<std::uint8_t>>& pool = Pool();
  auto best = pool.end();
  for (auto buffer = pool.begin(); buffer != pool.end(); ++buffer) {
    if (buffer->capacity() >= size &&
        (best == pool.end() || buffer->capacity() < best->capacity())) {
      best = buffer;
    }
  }
  return best;
}

std::vector<std::uint8_t> TakeBuffer(std::size_t size) {
  std::vector<std::uint8_t> taken = TakeBufferWithRoom(size);
  taken.resize(size);
  return taken;
}

std::vector<std::uint8_t> TakeBufferWithRoom(std::size_t size) {
  const auto found = FindRoom(size);
  if (found == Pool().end()) {
    std::vector<std::uint8_t> fresh;
    fresh.reserve(size + size / 8);
    AskForHugePages(fresh.data(), fresh.capacity());
    return fresh;
  }
  std::vector<std::uint8_t> taken = std::move(*found);
  Pool().erase(found);
  return taken;
}

void ReturnBuffer(std::vector<std::uint8_t>&& buffer) {
  if (buffer.capacity() < kPooledBytes) return;
  std::vector<std::vector<std::uint8_t>>& pool = Pool();
  try {
    pool.push_back(std::move(buffer));
  } catch (const std::bad_alloc&) {
    return;
  }
  if (pool.size() > kPooledBuffers) {
    // The smallest goes: the larger ones serve any file the smaller one would.
    pool.erase(
        std::min_element(pool.begin(), pool.end(), [](const auto& first, const auto& second) {
          return first.capacity() < second.capacity();
        }));
  }
}

void ReleaseBuffers() { Pool().clear(); }

}  // namespace imaging
