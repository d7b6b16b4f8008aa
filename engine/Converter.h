// The conversion engine. A Converter has no data of its own: it works on the option block, the
// photo options and the engine state it is given (usually those of the form's session), so every
// handler can make a local Converter and see what earlier ones set.
#pragma once

#include <cstdint>
#include <string>

#include "engine/Session.h"
#include "imaging/PhotoMetadata.h"

namespace engine {

struct ImageEncoding;

// What CheckInputKind does once the file is probed: a kind that cannot be converted is reported
// in a message box with its row's refusal. Returns the kind, any number no row has as
// imaging::kFileKindUnknown.
int ReportInputKind(int probedKind);

class Converter {
 public:
  Converter(ConverterOptions& options, const PhotoOptions& photo, EngineState& state)
      : options_(options), photo_(photo), state_(state) {}
  // A converter on the session's records.
  explicit Converter(Session& session)
      : Converter(session.Options, session.Photo, session.Engine) {}
  virtual ~Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Setters of the option block. SetResize stores the size even when resizing is off.
  int SetResize(std::uint8_t on, int width, int height);
  void SetBmpDepth(int index);
  void SetRotation(int index);
  void SetColorEffect(int index);
  void SetCrop(std::uint8_t on, int left, int top, int width, int height);

  // The same-format conversion routines: load the input, (for BMP output) save it as loaded and
  // change its depth, run the pipeline, save to the target, release. Each returns the final save's
  // result (non-zero when the target was written), or 0 when the input did not load. With rawCopy
  // set, they re-encode the image without any edit.
  int ConvertBmpToBmp(const std::string& target, const std::string& input, std::uint8_t rawCopy);
  int ConvertJpegToJpeg(const std::string& target, const std::string& input, int quality,
                        int progressive, std::uint8_t rawCopy);
  int ConvertPngToPng(const std::string& target, const std::string& input, int interlace,
                      std::uint8_t rawCopy);

  // Writes the input unedited in its own format (JPEG at quality 100 and progressive, PNG
  // interlaced); nothing for any other kind.
  void WriteBeforeCopy(const std::string& input, const std::string& target);

  // Writes the quality preview's page, which shows Now.log and Temp.log beside it. "オープン失敗"
  // when it cannot be written. Returns 0.
  int WritePreviewPage(const std::string& path);

  // The kind of the file by content; a kind that cannot be converted is reported in a message box.
  int CheckInputKind(const std::string& path);

  // Loads the image to learn its size, as a job whose output carries a photo's colour profile or
  // not loads it; the outputs change only when it loads. Returns 0.
  int ProbeImageSize(const std::string& path, bool profileCarried, int& width, int& height);

 private:
  int Convert(const std::string& target, const std::string& input,
              std::uint32_t (*loader)(const std::string&, const imaging::PhotoHandling&),
              const ImageEncoding& encoding, bool rawCopy);

  ConverterOptions& options_;
  const PhotoOptions& photo_;
  EngineState& state_;
};

}  // namespace engine
