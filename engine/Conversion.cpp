#include "engine/Conversion.h"

#include "engine/Converter.h"
#include "engine/Pipeline.h"
#include "imaging/Imaging.h"

namespace engine {

JobSnapshot JobSnapshot::Of(const Session& session) {
  const ConversionSettings& settings = session.Settings;
  JobSnapshot job;
  job.options = session.Options;
  job.photo = session.Photo;
  job.outputKind = session.Job.OutputKind;
  job.quality = 100 - settings.Compression;
  job.progressive = settings.JpegProgressive;
  job.interlace = settings.PngInterlace;
  return job;
}

const char* OutputExtension(int outputKind) {
  static const char* const kExtensions[] = {".htm", ".bmp", ".jpg", ".png"};
  if (outputKind < kOutputKindHtm || outputKind > kOutputKindPng) return "";
  return kExtensions[outputKind];
}

bool Converts(int outputKind, int inputKind) {
  if (outputKind == kOutputKindHtm) return true;
  if (outputKind < kOutputKindHtm || outputKind > kOutputKindPng) return false;
  return inputKind >= kInputKindBmp && inputKind <= kInputKindPng;
}

ConversionResult ConvertFile(const JobSnapshot& job, int inputKind, const std::string& input,
                             const std::string& target, EngineState& state) {
  ConversionResult result;
  if (!Converts(job.outputKind, inputKind)) return result;
  // A pipeline run measures a width of 0 or more; the mark below tells whether one ran, and the
  // earlier measurement is put back when none did, as it stays when a load fails.
  const int earlierWidth = state.LastOutputWidth;
  state.LastOutputWidth = -1;
  if (job.outputKind == kOutputKindHtm) {
    const TableArtOutcome outcome = WriteTableArtOn(job.options, job.photo, state, target, input);
    result.written = outcome == TableArtOutcome::kWritten;
    result.openFailed = outcome == TableArtOutcome::kOpenFailed;
  } else {
    // The same format is loaded by content; another is loaded by its own format's loader.
    static constexpr ImageLoader kLoaders[] = {imaging::LoadBmp, imaging::LoadJpeg,
                                               imaging::LoadPng};
    static constexpr ImageOutput kOutputs[] = {ImageOutput::kBmp, ImageOutput::kJpeg,
                                               ImageOutput::kPng};
    const ImageLoader loader = inputKind == job.outputKind
                                   ? static_cast<ImageLoader>(imaging::LoadImageFile)
                                   : kLoaders[static_cast<std::size_t>(inputKind - 1)];
    ImageEncoding encoding{kOutputs[static_cast<std::size_t>(job.outputKind - 1)], job.quality,
                           job.progressive, job.interlace};
    // JPEG is encoded with its quality and progressive switch, PNG with its interlace, BMP with
    // neither.
    if (encoding.output != ImageOutput::kJpeg) encoding.quality = encoding.progressive = 0;
    if (encoding.output != ImageOutput::kPng) encoding.interlace = 0;
    result.written =
        ConvertImageOn(job.options, job.photo, state, target, input, loader, encoding, false) != 0;
  }
  result.measured = state.LastOutputWidth >= 0;
  if (result.measured) {
    result.measuredWidth = state.LastOutputWidth;
    result.measuredHeight = state.LastOutputHeight;
  } else {
    state.LastOutputWidth = earlierWidth;
  }
  return result;
}

}  // namespace engine
