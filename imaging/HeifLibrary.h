// libheif, loaded on the first HEIF or AVIF file rather than when the program starts. Linked at
// start, libheif and the encoders and decoders it is built with cost every run about 10 ms and
// 5 MB before its first file, also a run that converts no HEIF or AVIF file at all.
#pragma once

#include <libheif/heif.h>

#include "imaging/Failure.h"

// The libheif functions the codec and its AV1 decoder call, without their "heif_" prefix.
#define IMAGING_HEIF_FUNCTIONS(FUNCTION)                    \
  FUNCTION(init)                                            \
  FUNCTION(register_decoder_plugin)                         \
  FUNCTION(context_alloc)                                   \
  FUNCTION(context_free)                                    \
  FUNCTION(context_set_maximum_image_size_limit)            \
  FUNCTION(context_set_max_decoding_threads)                \
  FUNCTION(context_read_from_reader)                        \
  FUNCTION(context_read_from_memory_without_copy)           \
  FUNCTION(context_get_primary_image_handle)                \
  FUNCTION(image_handle_release)                            \
  FUNCTION(image_handle_get_width)                          \
  FUNCTION(image_handle_get_height)                         \
  FUNCTION(image_handle_get_ispe_width)                     \
  FUNCTION(image_handle_get_ispe_height)                    \
  FUNCTION(image_handle_get_luma_bits_per_pixel)            \
  FUNCTION(image_handle_has_alpha_channel)                  \
  FUNCTION(image_handle_get_list_of_metadata_block_IDs)     \
  FUNCTION(image_handle_get_number_of_metadata_blocks)      \
  FUNCTION(image_handle_get_metadata_size)                  \
  FUNCTION(image_handle_get_metadata)                       \
  FUNCTION(image_handle_get_metadata_content_type)          \
  FUNCTION(image_handle_get_raw_color_profile_size)         \
  FUNCTION(image_handle_get_raw_color_profile)              \
  FUNCTION(decoding_options_alloc)                          \
  FUNCTION(decoding_options_free)                           \
  FUNCTION(decode_image)                                    \
  FUNCTION(image_create)                                    \
  FUNCTION(image_release)                                   \
  FUNCTION(image_add_plane)                                 \
  FUNCTION(image_get_plane)                                 \
  FUNCTION(image_get_plane_readonly)                        \
  FUNCTION(image_get_width)                                 \
  FUNCTION(image_get_height)                                \
  FUNCTION(image_get_bits_per_pixel_range)                  \
  FUNCTION(image_set_nclx_color_profile)                    \
  FUNCTION(nclx_color_profile_alloc)                        \
  FUNCTION(nclx_color_profile_free)                         \
  FUNCTION(nclx_color_profile_set_color_primaries)          \
  FUNCTION(nclx_color_profile_set_transfer_characteristics) \
  FUNCTION(nclx_color_profile_set_matrix_coefficients)

namespace imaging::heif {

// The shared library's file name: the major version the headers were written for.
inline constexpr const char* kLibraryFile = "libheif.so.1";

// The library's functions, each under its name without the prefix (`context_alloc`).
struct Library {
#define IMAGING_HEIF_MEMBER(name) decltype(&::heif_##name) name = nullptr;
  IMAGING_HEIF_FUNCTIONS(IMAGING_HEIF_MEMBER)
#undef IMAGING_HEIF_MEMBER
};

// Loads the shared library `file` and resolves every function. Refused, with the loader's reason,
// when it does not load or lacks one of the functions (it is closed again then).
Result<Library> LoadLibrary(const char* file);

// The library of kLibraryFile, loaded the first time it is asked for, from any thread, and kept
// for the rest of the process; every later call gives the same answer.
const Result<Library>& LoadedLibrary();

}  // namespace imaging::heif
