#include "imaging/HandleTable.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "imaging/FileMemory.h"

namespace imaging {
namespace {

// Several threads may load, edit and release images at once, each its own: the table itself is
// guarded, the images behind it belong to whoever holds their handle.
struct HandleTableState {
  std::mutex mutex;
  std::unordered_map<ImageHandle, std::unique_ptr<Image>> images;
  ImageHandle lastHandle = 0;
  // Bumped by every reset, which hands handle values out again from 1: a thread's remembered
  // lookup from before it is stale.
  std::atomic<std::uint64_t> generation{0};
};

HandleTableState& State() {
  static HandleTableState state;
  return state;
}

// Each thread's last lookup; the map's elements never move, so the pointer stays valid until the
// handle is released, which only its holder does. Loops over one image's pixels then look
// nothing up twice and take no lock.
struct FoundImage {
  ImageHandle handle = 0;
  Image* image = nullptr;
  std::uint64_t generation = 0;
};
thread_local FoundImage lastFound;

}  // namespace

ImageHandle RegisterImage(Image image) {
  auto owned = std::make_unique<Image>(std::move(image));
  HandleTableState& state = State();
  const std::lock_guard lock(state.mutex);
  ImageHandle handle = state.lastHandle;
  do {
    ++handle;
  } while (handle == 0 || state.images.contains(handle));
  state.lastHandle = handle;
  state.images.emplace(handle, std::move(owned));
  return handle;
}

ImageHandle RegisterBitmap(Bitmap bitmap) { return RegisterImage(Image(std::move(bitmap))); }

Image* FindImage(ImageHandle handle) {
  if (handle == 0) return nullptr;
  HandleTableState& state = State();
  const std::uint64_t generation = state.generation.load(std::memory_order_acquire);
  if (handle == lastFound.handle && generation == lastFound.generation) return lastFound.image;
  const std::lock_guard lock(state.mutex);
  auto found = state.images.find(handle);
  if (found == state.images.end()) return nullptr;
  lastFound = {handle, found->second.get(), generation};
  return lastFound.image;
}

std::unique_ptr<Image> TakeImage(ImageHandle handle) {
  if (handle == 0) return nullptr;
  if (lastFound.handle == handle) lastFound = {};
  HandleTableState& state = State();
  const std::lock_guard lock(state.mutex);
  auto found = state.images.find(handle);
  if (found == state.images.end()) return nullptr;
  std::unique_ptr<Image> image = std::move(found->second);
  state.images.erase(found);
  return image;
}

std::size_t LiveImageCount() {
  HandleTableState& state = State();
  const std::lock_guard lock(state.mutex);
  return state.images.size();
}

void ResetHandleTable() {
  HandleTableState& state = State();
  {
    std::unordered_map<ImageHandle, std::unique_ptr<Image>> released;
    const std::lock_guard lock(state.mutex);
    released.swap(state.images);
    state.lastHandle = 0;
    state.generation.fetch_add(1, std::memory_order_acq_rel);
  }
  lastFound = {};
  ForgetFiles();
  ReleaseBuffers();
}

}  // namespace imaging
