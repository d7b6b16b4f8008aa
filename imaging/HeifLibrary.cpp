#include "imaging/HeifLibrary.h"

#include <dlfcn.h>

#include <string>

namespace imaging::heif {
namespace {

Result<const Library*> Load() {
  // RTLD_LOCAL: libheif's symbols stay out of the way of anything loaded later.
  void* handle = dlopen(kLibraryFile, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    return Refused(std::string("HEIF: the library could not be loaded (") +
                   (error != nullptr ? error : kLibraryFile) + ")");
  }
  // Never closed: the library keeps the decoders registered with it for the rest of the process.
  static Library library;
  std::string missing;
#define IMAGING_HEIF_RESOLVE(name)                                                       \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, "heif_" #name)); \
  if (library.name == nullptr && missing.empty()) missing = "heif_" #name;
  IMAGING_HEIF_FUNCTIONS(IMAGING_HEIF_RESOLVE)
#undef IMAGING_HEIF_RESOLVE
  if (!missing.empty()) {
    return Refused(std::string("HEIF: the library ") + kLibraryFile + " lacks " + missing);
  }
  return &library;
}

}  // namespace

const Result<const Library*>& LoadedLibrary() {
  static const Result<const Library*> loaded = Load();
  return loaded;
}

}  // namespace imaging::heif
