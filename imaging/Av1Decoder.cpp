// dav1d behind libheif's decoder plugin interface, set to decode on the thread that asks: one
// thread, no frame delay, no log on the terminal, no frame beyond the pixel limit. The picture is
// handed back as YCbCr planes with the colour description of its sequence header, as libheif's own
// dav1d glue hands it, so libheif converts it to RGB the same way.
#include "imaging/Av1Decoder.h"

#include <dav1d/dav1d.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/HeifLibrary.h"
#include "imaging/Limits.h"

namespace imaging::heif {
namespace {

// Above the priority of the decoders libheif is built with (dav1d 150, libaom 100), so this one
// takes every AV1 image.
constexpr int kPriority = 200;
constexpr int kPluginApiVersion = 3;

struct Decoder {
  Dav1dContext* context = nullptr;
  std::vector<std::uint8_t> data;
};

heif_error Success() { return {heif_error_Ok, heif_suberror_Unspecified, "Success"}; }

heif_error DecoderError(const char* message) {
  return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message};
}

// dav1d's failures are negative errno values; the reason for each, in words that live as long as
// the process (libheif keeps the pointer).
heif_error Dav1dError(int status) {
  if (status == DAV1D_ERR(ENOMEM)) {
    return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
  }
  if (status == DAV1D_ERR(ENOPROTOOPT)) {
    return DecoderError("its AV1 data use a feature the decoder does not support");
  }
  return DecoderError("its AV1 data are damaged");
}

const char* Name() { return "dav1d on the calling thread"; }

int SupportsFormat(heif_compression_format format) {
  return format == heif_compression_AV1 ? kPriority : 0;
}

heif_error NewDecoder(void** result) {
  auto* decoder = new (std::nothrow) Decoder;
  if (decoder == nullptr) return Dav1dError(DAV1D_ERR(ENOMEM));
  Dav1dSettings settings;
  dav1d_default_settings(&settings);
  settings.n_threads = 1;
  settings.max_frame_delay = 1;
  settings.all_layers = 0;
  settings.frame_size_limit = static_cast<unsigned>(kMaxImagePixels);
  // The failure goes back to the caller with its reason; nothing is printed.
  settings.logger.callback = nullptr;
  if (const int status = dav1d_open(&decoder->context, &settings); status < 0) {
    delete decoder;
    return Dav1dError(status);
  }
  *result = decoder;
  return Success();
}

void FreeDecoder(void* opaque) {
  auto* decoder = static_cast<Decoder*>(opaque);
  if (decoder == nullptr) return;
  dav1d_close(&decoder->context);
  delete decoder;
}

heif_error PushData(void* opaque, const void* data, std::size_t size) {
  auto& decoder = *static_cast<Decoder*>(opaque);
  try {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    decoder.data.insert(decoder.data.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return Dav1dError(DAV1D_ERR(ENOMEM));
  }
  return Success();
}

void SetStrictDecoding(void*, int) {}

struct PictureReference {
  Dav1dPicture picture{};
  ~PictureReference() { dav1d_picture_unref(&picture); }
};
struct DataReference {
  Dav1dData data{};
  ~DataReference() {
    if (data.sz > 0) dav1d_data_unref(&data);
  }
};

// Hands dav1d the whole coded stream and takes the first picture it shows. Each round gives it what
// it has not taken yet and asks for a picture. A round that neither takes data nor gives a picture
// happens once all is given (the next asks dav1d to finish what it holds) or when dav1d will take
// no more; a second such round ends the decode: the stream shows no picture. dav1d reads the
// stream where it is, in the decoder's buffer, which outlives dav1d's context.
heif_error TakePicture(Decoder& decoder, Dav1dPicture& picture) {
  if (decoder.data.empty()) return DecoderError("its AV1 data are empty");
  DataReference pending;
  if (const int wrapped = dav1d_data_wrap(
          &pending.data, decoder.data.data(), decoder.data.size(),
          [](const std::uint8_t*, void*) {}, nullptr);
      wrapped < 0) {
    return Dav1dError(wrapped);
  }
  std::size_t unsent = pending.data.sz;
  bool stalled = false;
  for (;;) {
    if (pending.data.sz > 0) {
      const int sent = dav1d_send_data(decoder.context, &pending.data);
      if (sent < 0 && sent != DAV1D_ERR(EAGAIN)) return Dav1dError(sent);
    }
    const int got = dav1d_get_picture(decoder.context, &picture);
    if (got == 0) return Success();
    if (got != DAV1D_ERR(EAGAIN)) return Dav1dError(got);
    if (pending.data.sz == unsent) {
      if (stalled) return DecoderError("its AV1 data hold no picture");
      stalled = true;
    }
    unsent = pending.data.sz;
  }
}

heif_error DecodeImage(void* opaque, heif_image** result) {
  auto& decoder = *static_cast<Decoder*>(opaque);
  const Result<Library>& loaded = LoadedLibrary();
  if (!loaded) return DecoderError("libheif is not loaded");
  const Library& heif = *loaded;
  PictureReference taken;
  if (const heif_error error = TakePicture(decoder, taken.picture); error.code != heif_error_Ok) {
    return error;
  }
  const Dav1dPicture& picture = taken.picture;
  heif_colorspace colorspace = heif_colorspace_YCbCr;
  heif_chroma chroma = heif_chroma_420;
  switch (picture.p.layout) {
    case DAV1D_PIXEL_LAYOUT_I400:
      colorspace = heif_colorspace_monochrome;
      chroma = heif_chroma_monochrome;
      break;
    case DAV1D_PIXEL_LAYOUT_I420:
      break;
    case DAV1D_PIXEL_LAYOUT_I422:
      chroma = heif_chroma_422;
      break;
    case DAV1D_PIXEL_LAYOUT_I444:
      chroma = heif_chroma_444;
      break;
    default:
      return DecoderError("its AV1 picture has a sample layout the decoder does not know");
  }
  const int width = picture.p.w;
  const int height = picture.p.h;
  heif_image* image = nullptr;
  if (const heif_error error = heif.image_create(width, height, colorspace, chroma, &image);
      error.code != heif_error_Ok) {
    return error;
  }
  // Primaries, transfer and matrix as the sequence header gives them; a value libheif does not
  // know leaves the profile's default.
  if (heif_color_profile_nclx* nclx = heif.nclx_color_profile_alloc(); nclx != nullptr) {
    heif.nclx_color_profile_set_color_primaries(nclx,
                                                static_cast<std::uint16_t>(picture.seq_hdr->pri));
    heif.nclx_color_profile_set_transfer_characteristics(
        nclx, static_cast<std::uint16_t>(picture.seq_hdr->trc));
    heif.nclx_color_profile_set_matrix_coefficients(
        nclx, static_cast<std::uint16_t>(picture.seq_hdr->mtrx));
    nclx->full_range_flag = picture.seq_hdr->color_range != 0 ? 1 : 0;
    heif.image_set_nclx_color_profile(image, nclx);
    heif.nclx_color_profile_free(nclx);
  }
  // Chroma planes are half as wide for 4:2:0 and 4:2:2 and half as high for 4:2:0, an odd side
  // rounded up; dav1d gives every chroma plane the second stride.
  const bool halfWidth = chroma == heif_chroma_420 || chroma == heif_chroma_422;
  const bool halfHeight = chroma == heif_chroma_420;
  const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
  const int planes = colorspace == heif_colorspace_monochrome ? 1 : 3;
  const int bytesPerSample = (picture.p.bpc + 7) / 8;
  for (int plane = 0; plane < planes; ++plane) {
    const int planeWidth = plane > 0 && halfWidth ? (width + 1) / 2 : width;
    const int planeHeight = plane > 0 && halfHeight ? (height + 1) / 2 : height;
    if (const heif_error error =
            heif.image_add_plane(image, channels[plane], planeWidth, planeHeight, picture.p.bpc);
        error.code != heif_error_Ok) {
      heif.image_release(image);
      return error;
    }
    int targetStride = 0;
    std::uint8_t* target = heif.image_get_plane(image, channels[plane], &targetStride);
    const auto* source = static_cast<const std::uint8_t*>(picture.data[plane]);
    const std::ptrdiff_t sourceStride = picture.stride[plane > 0 ? 1 : 0];
    const auto rowBytes =
        static_cast<std::size_t>(planeWidth) * static_cast<std::size_t>(bytesPerSample);
    for (int row = 0; row < planeHeight; ++row) {
      std::memcpy(target + static_cast<std::ptrdiff_t>(row) * targetStride,
                  source + row * sourceStride, rowBytes);
    }
  }
  *result = image;
  return Success();
}

constexpr heif_decoder_plugin kPlugin{
    kPluginApiVersion, Name,     nullptr,     nullptr,           SupportsFormat,    NewDecoder,
    FreeDecoder,       PushData, DecodeImage, SetStrictDecoding, "dav1d-one-thread"};

}  // namespace

const heif_decoder_plugin& OneThreadAv1Decoder() { return kPlugin; }

}  // namespace imaging::heif
