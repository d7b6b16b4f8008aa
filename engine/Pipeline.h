// The engine's work on state it is handed: the Converter passes the records it was made on, a
// conversion on another thread passes a snapshot of the options and an engine state of its own.
// Nothing here shows a message; failures are returned.
#pragma once

#include <string>

#include "engine/Session.h"
#include "imaging/Imaging.h"

namespace engine {

enum class ImageOutput { kBmp, kJpeg, kPng };

struct ImageEncoding {
  ImageOutput output = ImageOutput::kBmp;
  int quality = 0;
  int progressive = 0;
  int interlace = 0;
};

using ImageLoader = imaging::ImageHandle (*)(const std::string&, const imaging::PhotoHandling&);

// Crop, rotation, colour effect and resize of state.CurrentImage, then its measurement.
void RunPipelineOn(const ConverterOptions& options, EngineState& state);

// One conversion routine: load, (for BMP output) save as loaded and change the depth, the
// pipeline, the save, the release. Returns the final save's result, 0 when the input did not load.
int ConvertImageOn(const ConverterOptions& options, const PhotoOptions& photo, EngineState& state,
                   const std::string& target, const std::string& input, ImageLoader loader,
                   const ImageEncoding& encoding, bool rawCopy);

enum class TableArtOutcome {
  kNotLoaded,   // the input did not load: nothing written
  kOpenFailed,  // the page could not be created or put in place ("オープン失敗")
  kNotWritten,  // writing the page failed; the earlier file stays
  kWritten,
};

// The table-art page of the input, with every edit applied.
TableArtOutcome WriteTableArtOn(const ConverterOptions& options, const PhotoOptions& photo,
                                EngineState& state, const std::string& outputPath,
                                const std::string& inputPath);

}  // namespace engine
