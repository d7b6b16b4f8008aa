// A libheif.so.1 with only heif_init: a library of the right name that lacks what the codec calls.
#include <libheif/heif.h>

extern "C" __attribute__((visibility("default"))) heif_error heif_init(heif_init_params*) {
  return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}
