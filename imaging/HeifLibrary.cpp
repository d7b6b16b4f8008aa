#include "imaging/HeifLibrary.h"

#include <dlfcn.h>

#include <string>

namespace imaging::heif {

Result<Library> LoadLibrary(const char* file) {
  // RTLD_LOCAL: libheif's symbols stay out of the way of anything loaded later.
  void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    return Refused(std::string("HEIF: the library could not be loaded (") +
                   (error != nullptr ? error : file) + ")");
  }
  Library library;
  std::string missing;
#define IMAGING_HEIF_RESOLVE(name)                                                         \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, "heif_" #name)); \
  if (library.name == nullptr && missing.empty()) missing = "heif_" #name;
  IMAGING_HEIF_FUNCTIONS(IMAGING_HEIF_RESOLVE)
#undef IMAGING_HEIF_RESOLVE
  if (!missing.empty()) {
    dlclose(handle);
    return Refused(std::string("HEIF: the library ") + file + " lacks " + missing);
  }
  // Never closed once complete: the library keeps the decoders registered with it for the rest of
  // the process.
  return library;
}

const Result<Library>& LoadedLibrary() {
  static const Result<Library> loaded = LoadLibrary(kLibraryFile);
  return loaded;
}

}  // namespace imaging::heif
