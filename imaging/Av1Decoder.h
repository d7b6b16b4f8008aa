// The AV1 decoder libheif uses for AVIF images: dav1d on the calling thread.
#pragma once

struct heif_decoder_plugin;

namespace imaging::heif {

// The decoder's plugin, for heif_register_decoder_plugin. It takes AV1 images before libheif's own
// dav1d glue, which lets dav1d start a thread per core for every image: a batch already converts
// one file per core, and those threads cost each file a quarter to a third more processor time.
const heif_decoder_plugin& OneThreadAv1Decoder();

}  // namespace imaging::heif
