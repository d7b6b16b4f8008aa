#include "imaging/Bitmap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <utility>

#include "imaging/Limits.h"

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
// Each conversion running at once needs two: one for a file's bytes, one for its pixels.
constexpr std::size_t kPooledBuffersPerJob = 2;
std::atomic<std::size_t> pooledBuffers{kPooledBuffersPerJob};
// Buffers from this size on are asked to be backed by huge pages.
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Conversions on several threads take and return buffers; the lock is held only to pick one.
std::mutex& PoolMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

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

// The pooled buffer with the least room of those with room for `size`, or the pool's end.
// Called with the pool's lock held.
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

}  // namespace

std::vector<std::uint8_t> TakeBuffer(std::size_t size) {
  std::vector<std::uint8_t> taken = TakeBufferWithRoom(size);
  taken.resize(size);
  return taken;
}

std::vector<std::uint8_t> TakeBufferWithRoom(std::size_t size) {
  {
    const std::lock_guard lock(PoolMutex());
    const auto found = FindRoom(size);
    if (found != Pool().end()) {
      std::vector<std::uint8_t> taken = std::move(*found);
      Pool().erase(found);
      return taken;
    }
  }
  std::vector<std::uint8_t> fresh;
  fresh.reserve(size + size / 8);
  AskForHugePages(fresh.data(), fresh.capacity());
  return fresh;
}

namespace {

// Keeps the pool within its size, the smallest buffers going first: the larger ones serve any file
// the smaller ones would. Called with the pool's lock held; the buffers dropped are released by
// the caller once the lock is let go.
void TrimPool(std::vector<std::vector<std::uint8_t>>& dropped) {
  std::vector<std::vector<std::uint8_t>>& pool = Pool();
  while (pool.size() > pooledBuffers.load(std::memory_order_relaxed)) {
    const auto smallest = std::min_element(
        pool.begin(), pool.end(),
        [](const auto& first, const auto& second) { return first.capacity() < second.capacity(); });
    dropped.push_back(std::move(*smallest));
    pool.erase(smallest);
  }
}

}  // namespace

void ReturnBuffer(std::vector<std::uint8_t>&& buffer) {
  if (buffer.capacity() < kPooledBytes) return;
  std::vector<std::vector<std::uint8_t>> dropped;
  const std::lock_guard lock(PoolMutex());
  try {
    Pool().push_back(std::move(buffer));
    dropped.reserve(1);
  } catch (const std::bad_alloc&) {
    return;
  }
  TrimPool(dropped);
}

void ReleaseBuffers() {
  std::vector<std::vector<std::uint8_t>> released;
  const std::lock_guard lock(PoolMutex());
  released.swap(Pool());
}

void SetConcurrentJobs(std::int32_t jobs) {
  pooledBuffers.store(kPooledBuffersPerJob * static_cast<std::size_t>(std::max(jobs, 1)),
                      std::memory_order_relaxed);
  std::vector<std::vector<std::uint8_t>> dropped;
  const std::lock_guard lock(PoolMutex());
  try {
    dropped.reserve(Pool().size());
  } catch (const std::bad_alloc&) {
    return;
  }
  TrimPool(dropped);
}

}  // namespace imaging
