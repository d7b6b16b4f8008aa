// WebP through libwebp's demuxer (the canvas, the first frame and the metadata chunks) and its
// decoder, which decodes on the calling thread straight into the bitmap when nothing is to be
// composited.
#include "imaging/WebpCodec.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "imaging/AlphaComposite.h"
#include "imaging/Limits.h"

namespace imaging::webp {
namespace {

// The RIFF structure or the chunk headers the canvas is read from are damaged or missing.
constexpr const char* kHeadersDoNotRead = "WebP: the file's headers do not read";
constexpr const char* kDataEnds = "WebP: data ends in the middle of the image";

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

// Why libwebp refused a frame's bitstream.
const char* StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
      return kOutOfMemory;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      return "WebP: the image uses a feature the decoder does not support";
    case VP8_STATUS_NOT_ENOUGH_DATA:
      return kDataEnds;
    default:
      return "WebP: the image data is damaged";
  }
}

// Decodes the frame's bitstream into `pixels` (rows of `stride` bytes) as RGB or RGBA.
Result<void> DecodeFrame(const WebPIterator& frame, bool alpha, std::uint8_t* pixels,
                         std::size_t stride, std::size_t size) {
  WebPDecoderConfig config;
  if (WebPInitDecoderConfig(&config) == 0) return Refused("WebP: the decoder could not be set up");
  config.options.use_threads = 0;
  config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = pixels;
  config.output.u.RGBA.stride = static_cast<int>(stride);
  config.output.u.RGBA.size = size;
  const VP8StatusCode status = WebPDecode(frame.fragment.bytes, frame.fragment.size, &config);
  const bool sizeAsTold = config.output.width == frame.width && config.output.height == frame.height;
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) return Refused(StatusText(status));
  if (!sizeAsTold) return Refused("WebP: the frame's image is not the size its header gives");
  return {};
}

// Why the demuxer refused the whole file: its headers read as the start of a longer file, or not.
Failure DemuxRefusal(const WebPData& data) {
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> partial(WebPDemuxPartial(&data, &state));
  return Refused(partial != nullptr && state != WEBP_DEMUX_DONE ? kDataEnds : kHeadersDoNotRead);
}

// The canvas size the demuxer read, refused beyond the size limits.
Result<std::pair<int, int>> CanvasSize(const WebPDemuxer* demuxer) {
  const auto width = static_cast<int>(WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_WIDTH));
  const auto height = static_cast<int>(WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_HEIGHT));
  if (!SizeWithinLimits(width, height)) return RefusedSize("WebP", width, height);
  return std::pair{width, height};
}

}  // namespace

bool Sniff(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSniffBytes) return false;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), kSniffBytes);
  const std::string_view chunk = text.substr(kRiffHeaderSize);
  return text.starts_with("RIFF") && text.substr(8, 4) == "WEBP" &&
         (chunk == "VP8 " || chunk == "VP8L" || chunk == "VP8X");
}

Result<std::pair<int, int>> ReadSize(std::span<const std::uint8_t> leadingBytes) {
  const WebPData data{leadingBytes.data(), leadingBytes.size()};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demuxer(WebPDemuxPartial(&data, &state));
  if (demuxer == nullptr || state < WEBP_DEMUX_PARSED_HEADER) return Refused(kHeadersDoNotRead);
  return CanvasSize(demuxer.get());
}

Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, PhotoMetadata* metadata) {
  if (bytes.size() > kMaxImageFileBytes) return Refused(kFileTooLargeReason);
  const WebPData data{bytes.data(), bytes.size()};
  const std::unique_ptr<WebPDemuxer, DemuxDeleter> demuxer(WebPDemux(&data));
  if (demuxer == nullptr) return DemuxRefusal(data);
  const Result<std::pair<int, int>> canvas = CanvasSize(demuxer.get());
  if (!canvas) return Refused(canvas.Reason());
  const auto [canvasWidth, canvasHeight] = *canvas;
  WebPIterator frame{};
  const bool found = WebPDemuxGetFrame(demuxer.get(), 1, &frame) != 0;
  const std::unique_ptr<WebPIterator, decltype(&WebPDemuxReleaseIterator)> release(
      &frame, WebPDemuxReleaseIterator);
  if (!found || frame.complete == 0) return Refused("WebP: the file holds no whole frame");
  if (frame.x_offset < 0 || frame.y_offset < 0 || frame.width < 1 || frame.height < 1 ||
      frame.x_offset + frame.width > canvasWidth || frame.y_offset + frame.height > canvasHeight) {
    return Refused("WebP: the first frame lies outside the canvas");
  }
  std::optional<Bitmap> bitmap = MakeBitmapToFill(canvasWidth, canvasHeight);
  if (!bitmap) return Refused(kOutOfMemory);
  const bool covers = frame.width == canvasWidth && frame.height == canvasHeight;
  if (covers && frame.has_alpha == 0) {
    Result<void> decoded =
        DecodeFrame(frame, false, bitmap->pixels.data(), bitmap->RowBytes(), bitmap->pixels.size());
    if (!decoded) return decoded.TakeFailure();
  } else {
    // The canvas of an animation starts transparent, which shows as white.
    std::fill(bitmap->pixels.begin(), bitmap->pixels.end(), std::uint8_t{255});
    const std::size_t frameStride = static_cast<std::size_t>(frame.width) * 4;
    std::vector<std::uint8_t> rgba(frameStride * static_cast<std::size_t>(frame.height));
    Result<void> decoded = DecodeFrame(frame, true, rgba.data(), frameStride, rgba.size());
    if (!decoded) return decoded.TakeFailure();
    for (int y = 0; y < frame.height; ++y) {
      CompositeOntoWhite(
          rgba.data() + static_cast<std::size_t>(y) * frameStride,
          bitmap->Row(frame.y_offset + y) + static_cast<std::size_t>(frame.x_offset) * 3,
          static_cast<std::size_t>(frame.width));
    }
  }
  if (metadata != nullptr) ReadMetadata(demuxer.get(), *metadata);
  return std::move(*bitmap);
}

}  // namespace imaging::webp
