#include "imaging/HandleTable.h"

#include <unordered_map>
#include <utility>

#include "imaging/FileMemory.h"

namespace imaging {
namespace {

struct HandleTableState {
  std::unordered_map<ImageHandle, std::unique_ptr<Image>> images;
  ImageHandle lastHandle = 0;
  // The last lookup; the map's elements never move, so the pointer stays valid until erased.
  ImageHandle foundHandle = 0;
  Image* found = nullptr;
};

HandleTableState& State() {
  static HandleTableState state;
  return state;
}

}  // namespace

ImageHandle RegisterImage(Image image) {
  HandleTableState& state = State();
  ImageHandle handle = state.lastHandle;
  do {
    ++handle;
  } while (handle == 0 || state.images.contains(handle));
  state.lastHandle = handle;
  state.images.emplace(handle, std::make_unique<Image>(std::move(image)));
  return handle;
}

ImageHandle RegisterBitmap(Bitmap bitmap) { return RegisterImage(Image(std::move(bitmap))); }

Image* FindImage(ImageHandle handle) {
  HandleTableState& state = State();
  if (handle == 0) return nullptr;
  if (handle == state.foundHandle) return state.found;
  auto found = state.images.find(handle);
  if (found == state.images.end()) return nullptr;
  state.foundHandle = handle;
  state.found = found->second.get();
  return state.found;
}

std::unique_ptr<Image> TakeImage(ImageHandle handle) {
  HandleTableState& state = State();
  if (handle == 0) return nullptr;
  auto found = state.images.find(handle);
  if (found == state.images.end()) return nullptr;
  if (state.foundHandle == handle) {
    state.foundHandle = 0;
    state.found = nullptr;
  }
  std::unique_ptr<Image> image = std::move(found->second);
  state.images.erase(found);
  return image;
}

std::size_t LiveImageCount() { return State().images.size(); }

void ResetHandleTable() {
  HandleTableState& state = State();
  state.images.clear();
  state.lastHandle = 0;
  state.foundHandle = 0;
  state.found = nullptr;
  ForgetFiles();
  ReleaseBuffers();
}

}  // namespace imaging
