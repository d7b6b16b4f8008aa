// WebP through libwebp's demuxer (the canvas, the first frame and the metadata chunks) and its
// decoder, which decodes on the calling thread straight into the bitmap when nothing is to be
// composited.
#include "imaging/WebpCodec.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "imaging/AlphaComposite.h"
#include "imaging/Imaging.h"

namespace imaging::webp {
namespace {

struct DemuxDeleter {
  void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};

// The payload of the first chunk of the type, empty when there is none.
std::vector<std::uint8_t> Chunk(const WebPDemuxer* demuxer, const char* type) {
  WebPChunkIterator chunk{};
  std::vector<std::uint8_t> payload;
  if (WebPDemuxGetChunk(demuxer, type, 1, &chunk) != 0) {
    payload.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
  }
  WebPDemuxReleaseChunkIterator(&chunk);
  return payload;
}

void ReadMetadata(const WebPDemuxer* demuxer, PhotoMetadata& metadata) {
  metadata.exif = Chunk(demuxer, "EXIF");
  constexpr std::string_view kExifPrefix("Exif\0\0", kExifPrefixSize);
  if (std::string_view(reinterpret_cast<const char*>(metadata.exif.data()), metadata.exif.size())
          .starts_with(kExifPrefix)) {
    metadata.exif.erase(metadata.exif.begin(), metadata.exif.begin() + kExifPrefixSize);
  }
  metadata.xmp = Chunk(demuxer, "XMP ");
  metadata.icc = Chunk(demuxer, "ICCP");
  if (metadata.icc.size() > kMaxProfileBytes) metadata.icc.clear();
}

// Decodes the frame's bitstream into `pixels` (rows of `stride` bytes) as RGB or RGBA.
bool DecodeFrame(const WebPIterator& frame, bool alpha, std::uint8_t* pixels, std::size_t stride,
                 std::size_t size) {
  WebPDecoderConfig config;
  if (WebPInitDecoderConfig(&config) == 0) return false;
  config.options.use_threads = 0;
  config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = pixels;
  config.output.u.RGBA.stride = static_cast<int>(stride);
  config.output.u.RGBA.size = size;
  const bool decoded =
      WebPDecode(frame.fragment.bytes, frame.fragment.size, &config) == VP8_STATUS_OK &&
      config.output.width == frame.width && config.output.height == frame.height;
  WebPFreeDecBuffer(&config.output);
  return decoded;
}

}  // namespace

bool Sniff(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSniffBytes) return false;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), kSniffBytes);
  const std::string_view chunk = text.substr(kRiffHeaderSize);
  return text.starts_with("RIFF") && text.substr(8, 4) == "WEBP" &&
         (chunk == "VP8 " || chunk == "VP8L" || chunk == "VP8X");
}

std::optional<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> leadingBytes) {
  const WebPData data{leadingBytes.data(), leadingBytes.size()};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demuxer(WebPDemuxPartial(&data, &state));
  if (demuxer == nullptr || state < WEBP_DEMUX_PARSED_HEADER) return std::nullopt;
  const auto width = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH));
  const auto height = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT));
  if (!SizeWithinLimits(width, height)) return std::nullopt;
  return std::pair{width, height};
}

std::optional<Bitmap> Decode(std::span<const std::uint8_t> bytes, PhotoMetadata* metadata) {
  if (bytes.size() > kMaxImageFileBytes) return std::nullopt;
  const WebPData data{bytes.data(), bytes.size()};
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demuxer(WebPDemux(&data));
  if (demuxer == nullptr) return std::nullopt;
  const auto canvasWidth = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_WIDTH));
  const auto canvasHeight = static_cast<int>(WebPDemuxGetI(demuxer.get(), WEBP_FF_CANVAS_HEIGHT));
  if (!SizeWithinLimits(canvasWidth, canvasHeight)) return std::nullopt;
  WebPIterator frame{};
  const bool found = WebPDemuxGetFrame(demuxer.get(), 1, &frame) != 0;
  const std::unique_ptr<WebPIterator, decltype(&WebPDemuxReleaseIterator)> release(
      &frame, WebPDemuxReleaseIterator);
  if (!found || frame.complete == 0 || frame.x_offset < 0 || frame.y_offset < 0 ||
      frame.width < 1 || frame.height < 1 || frame.x_offset + frame.width > canvasWidth ||
      frame.y_offset + frame.height > canvasHeight) {
    return std::nullopt;
  }
  std::optional<Bitmap> bitmap = MakeBitmapToFill(canvasWidth, canvasHeight);
  if (!bitmap) return std::nullopt;
  const bool covers = frame.width == canvasWidth && frame.height == canvasHeight;
  if (covers && frame.has_alpha == 0) {
    if (!DecodeFrame(frame, false, bitmap->pixels.data(), bitmap->RowBytes(),
                     bitmap->pixels.size())) {
      return std::nullopt;
    }
  } else {
    // The canvas of an animation starts transparent, which shows as white.
    std::fill(bitmap->pixels.begin(), bitmap->pixels.end(), std::uint8_t{255});
    const std::size_t frameStride = static_cast<std::size_t>(frame.width) * 4;
    std::vector<std::uint8_t> rgba(frameStride * static_cast<std::size_t>(frame.height));
    if (!DecodeFrame(frame, true, rgba.data(), frameStride, rgba.size())) return std::nullopt;
    for (int y = 0; y < frame.height; ++y) {
      CompositeOntoWhite(
          rgba.data() + static_cast<std::size_t>(y) * frameStride,
          bitmap->Row(frame.y_offset + y) + static_cast<std::size_t>(frame.x_offset) * 3,
          static_cast<std::size_t>(frame.width));
    }
  }
  if (metadata != nullptr) ReadMetadata(demuxer.get(), *metadata);
  return bitmap;
}

}  // namespace imaging::webp
