#include "imaging/HandleTable.h"

#include <unordered_map>
#include <utility>

namespace imaging {
namespace {

struct HandleTableState {
  std::unordered_map<ImageHandle, std::unique_ptr<Bitmap>> images;
  ImageHandle lastHandle = 0;
};

HandleTableState& State() {
  static HandleTableState state;
  return state;
}

}  // namespace

ImageHandle RegisterBitmap(Bitmap bitmap) {
  HandleTableState& state = State();
  ImageHandle handle = state.lastHandle;
  do {
    ++handle;
  } while (handle == 0 || state.images.contains(handle));
  state.lastHandle = handle;
  state.images.emplace(handle, std::make_unique<Bitmap>(std::move(bitmap)));
  return handle;
}

Bitmap* FindBitmap(ImageHandle handle) {
  if (handle == 0) return nullptr;
  auto found = State().images.find(handle);
  return found == State().images.end() ? nullptr : found->second.get();
}

std::unique_ptr<Bitmap> TakeBitmap(ImageHandle handle) {
  if (handle == 0) return nullptr;
  auto found = State().images.find(handle);
  if (found == State().images.end()) return nullptr;
  std::unique_ptr<Bitmap> bitmap = std::move(found->second);
  State().images.erase(found);
  return bitmap;
}

std::size_t LiveImageCount() { return State().images.size(); }

void ResetHandleTable() {
  State().images.clear();
  State().lastHandle = 0;
}

}  // namespace imaging
