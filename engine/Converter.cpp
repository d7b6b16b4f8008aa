#include "engine/Converter.h"

#include <algorithm>
#include <array>

#include "engine/Pipeline.h"
#include "imaging/Imaging.h"

namespace engine {
namespace {

constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::int64_t kThousandthsPerStep = 5000;
constexpr std::int64_t kFullTurn = 360000;

// The negative: every channel value v becomes 255 − v.
std::array<std::uint8_t, 768> NegativeTables() {
  std::array<std::uint8_t, 768> tables{};
  for (std::size_t i = 0; i < tables.size(); ++i) {
    tables[i] = static_cast<std::uint8_t>(255 - i % 256);
  }
  return tables;
}

// Applies the colour effect: 1, or 0 when an edit it takes failed.
int ApplyColorEffect(imaging::ImageHandle image, int effectIndex) {
  switch (effectIndex) {
    case kGreyscaleEffect:
      return imaging::MakeGreyscale(image, 255);
    case 2:  // sepia: grey first, then warm channel weights
      return imaging::MakeGreyscale(image, 255) != 0 ? imaging::ScaleRgb(image, 1400, 1000, 725)
                                                      : 0;
    case 3: {  // negative
      static const std::array<std::uint8_t, 768> tables = NegativeTables();
      return imaging::ApplyLookupTables(image, tables.data());
    }
    case 4:  // crisp
      return imaging::AdjustClarityRgb(image, 100, 100, 100);
    case 5:  // soft
      return imaging::AdjustClarityRgb(image, -100, -100, -100);
    case 6:  // reddish
      return imaging::TintRgb(image, 100, 0, 0);
    case 7:  // greenish
      return imaging::TintRgb(image, 0, 100, 0);
    case 8:  // bluish
      return imaging::TintRgb(image, 0, 0, 100);
    default:
      return 1;
  }
}

// Changes the depth of an image about to be written as BMP, by the depth mode: 1, or 0 when the
// change failed.
int ChangeDepth(imaging::ImageHandle image, int depthMode) {
  switch (depthMode) {
    case 0:
      return imaging::ConvertTo24Bit(image);
    case 1:
      return imaging::ReduceTo16Bit(image, 0, 0);
    case 2:
      return imaging::ReduceTo8Bit(image, 0, 0);
    case 3:
      return imaging::ReduceTo8Bit(image, 0, 0) != 0 ? imaging::EnableRleCompression(image) : 0;
    default:
      return 1;
  }
}

// After an edit that failed (its result would leave the size limits, memory ran out, or the
// deferred decode failed) the image is released: nothing is written from it, where the image
// without that edit would pass for the converted one, and the reason the edit gave stays the
// conversion's. The steps after it pass the handle 0 through harmlessly.
void ReleaseUnlessEdited(int edited, EngineState& state) {
  if (edited != 0 || state.CurrentImage == 0) return;
  imaging::FreeImage(state.CurrentImage);
  state.CurrentImage = 0;
  state.EditFailed = true;
}

// The output formats of the conversion routines.
const OutputFormat* Bmp() { return OutputFormatWriting(imaging::kFileKindBmp); }
const OutputFormat* Jpeg() { return OutputFormatWriting(imaging::kFileKindJpeg); }
const OutputFormat* Png() { return OutputFormatWriting(imaging::kFileKindPng); }

}  // namespace

int Converter::SetResize(std::uint8_t on, int width, int height) {
  options_.ResizeOn = on;
  options_.ResizeWidth = width;
  options_.ResizeHeight = height;
  return 0;
}

void Converter::SetBmpDepth(int index) { options_.DepthMode = index; }

void Converter::SetRotation(int index) { options_.RotationStep = index; }

void Converter::SetColorEffect(int index) { options_.EffectIndex = index; }

void Converter::SetCrop(std::uint8_t on, int left, int top, int width, int height) {
  options_.CropOn = on;
  options_.CropLeft = left;
  options_.CropTop = top;
  options_.CropW = width;
  options_.CropH = height;
}

PixelSize FitWithin(int width, int height, int boxWidth, int boxHeight) {
  if (width < 1 || height < 1 || boxWidth < 1 || boxHeight < 1) return {boxWidth, boxHeight};
  // The box's width limits the scale when boxWidth / width ≤ boxHeight / height. Products of two
  // ints need 62 bits; the remainder of the division stays below the divisor, so doubling it
  // for the rounding cannot overflow either.
  const std::int64_t widthLimited = std::int64_t{boxWidth} * height;
  const std::int64_t heightLimited = std::int64_t{boxHeight} * width;
  auto scaled = [](std::int64_t product, std::int64_t divisor) {
    const std::int64_t rounded = product / divisor + (product % divisor * 2 >= divisor ? 1 : 0);
    return static_cast<int>(std::max<std::int64_t>(rounded, 1));
  };
  if (widthLimited <= heightLimited) return {boxWidth, scaled(widthLimited, width)};
  return {scaled(heightLimited, height), boxHeight};
}

void RunPipelineOn(const ConverterOptions& options, const PhotoOptions& photo, EngineState& state) {
  state.EditFailed = false;
  if (options.CropOn == 1) {
    // The crop takes over the handle it is given; a crop that yields nothing leaves 0, which every
    // later step passes through harmlessly.
    state.CurrentImage = imaging::CropImage(state.CurrentImage, options.CropLeft, options.CropTop,
                                            options.CropW, options.CropH);
  }
  if (options.RotationStep != 0) {
    // A step outside 0..71 still turns by 5° per step; taking the angle modulo a full turn keeps
    // the thousandths within 32 bits.
    const auto angle = static_cast<std::int32_t>(static_cast<std::int64_t>(options.RotationStep) *
                                                 kThousandthsPerStep % kFullTurn);
    ReleaseUnlessEdited(imaging::RotateImage(state.CurrentImage, angle, kWhite), state);
  }
  ReleaseUnlessEdited(ApplyColorEffect(state.CurrentImage, options.EffectIndex), state);
  if (options.ResizeOn == 1) {
    PixelSize target{options.ResizeWidth, options.ResizeHeight};
    if (photo.KeepAspect != 0) {
      imaging::ImageInfoRecord record{};
      imaging::GetImageInfo(state.CurrentImage, record);
      target = FitWithin(record[1], record[2], target.width, target.height);
    }
    ReleaseUnlessEdited(imaging::ResizeImage(state.CurrentImage, target.width, target.height),
                        state);
  }
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(state.CurrentImage, record);
  state.LastOutputWidth = record[1];
  state.LastOutputHeight = record[2];
}

int ConvertImageOn(const ConverterOptions& options, const PhotoOptions& photo, EngineState& state,
                   const std::string& target, const std::string& input, ImageLoader loader,
                   const ImageEncoding& encoding, bool rawCopy) {
  state.CurrentImage = loader(
      input, PhotoHandlingOf(photo, OutputCarriesProfile(*encoding.format, options.EffectIndex)));
  if (state.CurrentImage == 0) return 0;
  if (!rawCopy) {
    if (encoding.format->writesLoadedFirst) {
      // The image is written once as loaded, then its depth changes before the edits, so the
      // edits work on the reduced image.
      imaging::SaveBmp(target, state.CurrentImage);
      ReleaseUnlessEdited(ChangeDepth(state.CurrentImage, options.DepthMode), state);
    }
    RunPipelineOn(options, photo, state);
  }
  const int result = encoding.format->encoder(target, state.CurrentImage, encoding);
  imaging::FreeImage(state.CurrentImage);
  state.CurrentImage = 0;
  return result;
}

int Converter::Convert(const std::string& target, const std::string& input, ImageLoader loader,
                       const ImageEncoding& encoding, bool rawCopy) {
  return ConvertImageOn(options_, photo_, state_, target, input, loader, encoding, rawCopy);
}

int Converter::ConvertBmpToBmp(const std::string& target, const std::string& input,
                               std::uint8_t rawCopy) {
  return Convert(target, input, imaging::LoadImageFile, {Bmp()}, rawCopy != 0);
}

int Converter::ConvertJpegToJpeg(const std::string& target, const std::string& input, int quality,
                                 int progressive, std::uint8_t rawCopy) {
  return Convert(target, input, imaging::LoadImageFile, {Jpeg(), quality, progressive, 0},
                 rawCopy != 0);
}

int Converter::ConvertPngToPng(const std::string& target, const std::string& input, int interlace,
                               std::uint8_t rawCopy) {
  return Convert(target, input, imaging::LoadImageFile, {Png(), 0, 0, interlace}, rawCopy != 0);
}

void Converter::WriteBeforeCopy(const std::string& input, const std::string& target) {
  // Re-encoded in the input's own format, unedited: JPEG at quality 100 and progressive, PNG
  // interlaced. A kind that converts but that no output format writes (HEIC, AVIF, WebP) is
  // copied as PNG, which keeps its pixels and which the preview page's browser shows.
  const auto kind = static_cast<imaging::FileKind>(imaging::ProbeFileKind(input, 0));
  const OutputFormat* format = OutputFormatWriting(kind);
  if (format == nullptr && InputFormatOf(kind).Converts()) {
    format = OutputFormatWriting(imaging::kFileKindPng);
  }
  if (format == nullptr) return;
  Convert(target, input, imaging::LoadImageFile, {format, 100, 1, 1}, true);
}

}  // namespace engine
