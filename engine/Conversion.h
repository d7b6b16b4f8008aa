// Converting one file with options copied out of a session: what a conversion on another thread
// needs, the form's own dispatcher included.
#pragma once

#include <string>

#include "engine/FileFormats.h"
#include "engine/Session.h"

namespace engine {

// Everything a conversion job reads besides its input and target, copied once before the job
// starts. A setting that reaches the conversion joins this record, so a job never looks at the
// session while it runs.
struct JobSnapshot {
  ConverterOptions options;
  PhotoOptions photo;
  int outputKind = 0;  // an OutputFormat's outputKind
  int quality = 80;    // JPEG, 100 − Compression
  int progressive = 0;
  int interlace = 0;

  // The job as the session holds it now (after the gather step).
  static JobSnapshot Of(const Session& session);
};

// What converting one file gave.
struct ConversionResult {
  bool written = false;     // the target file holds the conversion
  bool openFailed = false;  // table art: the page's file could not be created
  bool measured = false;    // a pipeline ran; the sizes are its measurement
  int measuredWidth = 0;
  int measuredHeight = 0;
  // Why the target was not written ("BMP: compression 99 is not supported", "disk full"); empty
  // when it was.
  std::string reason;
};

// Whether the dispatcher converts an input of this kind to the output format: table art takes any
// file the loader reads, the image formats only the kinds that convert.
bool Converts(const OutputFormat& output, int inputKind);

// Converts `input`, of the probed kind, to `target` (written as it is, no extension added) with
// the job's options, working on `state`. A job whose outputKind no format has writes nothing.
// Shows no message: a table-art file that cannot be created is reported in the result, and so is
// the reason of any target not written.
ConversionResult ConvertFile(const JobSnapshot& job, int inputKind, const std::string& input,
                             const std::string& target, EngineState& state);

}  // namespace engine
