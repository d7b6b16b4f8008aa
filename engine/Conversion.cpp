#include "engine/Conversion.h"

#include "engine/Converter.h"
#include "engine/Pipeline.h"
#include "imaging/Failure.h"
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

bool Converts(const OutputFormat& output, int inputKind) {
  return output.encoder == nullptr || InputFormatOf(inputKind).Converts();
}

ConversionResult ConvertFile(const JobSnapshot& job, int inputKind, const std::string& input,
                             const std::string& target, EngineState& state) {
  ConversionResult result;
  const OutputFormat* output = OutputFormatOfKind(job.outputKind);
  if (output == nullptr) return result;
  if (!Converts(*output, inputKind)) {
    // A kind the probe knows but no loader reads (GIF, TIFF, PIC, MAG, PCX) is named.
    const InputFormat& format = InputFormatOf(inputKind);
    result.reason = format.kind != imaging::kFileKindUnknown
                        ? std::string(format.kindText) + " files are not converted"
                        : imaging::kNotConvertibleReason;
    return result;
  }
  imaging::ClearFailureReason();
  // A pipeline run measures a width of 0 or more; the mark below tells whether one ran, and the
  // earlier measurement is put back when none did, as it stays when a load fails.
  const int earlierWidth = state.LastOutputWidth;
  state.LastOutputWidth = -1;
  if (output->encoder == nullptr) {
    const TableArtOutcome outcome =
        WriteTableArtOn(job.options, job.photo, state, target, input, result.reason);
    result.written = outcome == TableArtOutcome::kWritten;
    result.openFailed = outcome == TableArtOutcome::kOpenFailed;
  } else {
    // An input of the output's own format is loaded by content, another by its own loader.
    const InputFormat& format = InputFormatOf(inputKind);
    const ImageLoader loader = format.kind == output->sameKind
                                   ? static_cast<ImageLoader>(imaging::LoadImageFile)
                                   : format.loader;
    const ImageEncoding encoding{output, job.quality, job.progressive, job.interlace};
    result.written =
        ConvertImageOn(job.options, job.photo, state, target, input, loader, encoding, false) != 0;
    if (!result.written) result.reason = imaging::FailureReason();
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
