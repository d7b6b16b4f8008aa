// The engine's work on state it is handed: the Converter passes the records it was made on, a
// conversion on another thread passes a snapshot of the options and an engine state of its own.
// Nothing here shows a message; failures are returned.
#pragma once

#include <string>

#include "engine/FileFormats.h"
#include "engine/Session.h"
#include "imaging/Imaging.h"

namespace engine {

struct PixelSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The size a width × height image takes when scaled to fit the box with its proportions kept:
// the side that limits the scale meets the box, the other is rounded to the nearest pixel (a half
// up) and is at least 1. A smaller image is enlarged until it meets the box, as a resize to an
// exact size enlarges it. A side below 1, of the image or of the box, gives the box as it is, for
// the resize to refuse or to pass over as it does an exact size. Exact for any int sides.
PixelSize FitWithin(int width, int height, int boxWidth, int boxHeight);

// Crop, rotation, colour effect and resize of state.CurrentImage, then its measurement. With
// photo.KeepAspect set, the resize fits the image as the edits before it left it into the size.
void RunPipelineOn(const ConverterOptions& options, const PhotoOptions& photo, EngineState& state);

// One conversion routine: load, (for BMP output) save as loaded and change the depth, the
// pipeline, the save with the encoding's format, the release. The format has an encoder. Returns
// the final save's result, 0 when the input did not load.
int ConvertImageOn(const ConverterOptions& options, const PhotoOptions& photo, EngineState& state,
                   const std::string& target, const std::string& input, ImageLoader loader,
                   const ImageEncoding& encoding, bool rawCopy);

enum class TableArtOutcome {
  kNotLoaded,  // the input did not load: nothing written
  // The page could not be created, written whole or put in place ("オープン失敗"); the earlier
  // file stays.
  kOpenFailed,
  kWritten,
};

// The table-art page of the input, with every edit applied. Any outcome but kWritten puts its
// reason in `failureReason`.
TableArtOutcome WriteTableArtOn(const ConverterOptions& options, const PhotoOptions& photo,
                                EngineState& state, const std::string& outputPath,
                                const std::string& inputPath, std::string& failureReason);

}  // namespace engine
