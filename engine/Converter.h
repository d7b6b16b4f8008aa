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

// Kinds ProbeFileKind reports, as the engine names them.
inline constexpr int kInputKindBmp = 1;
inline constexpr int kInputKindJpeg = 2;
inline constexpr int kInputKindPng = 3;
inline constexpr int kInputKindUnrecognised = 9;

// The text a kind field shows for an input kind (0 is table-art output).
std::string KindName(int kind);

// What CheckInputKind does once the file is probed: a kind that cannot be converted is reported
// in a message box. Returns the kind, any kind not recognised as kInputKindUnrecognised.
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

  // Applies crop, rotation, colour effect and resize to the current image, in that order, and
  // measures the result. Only the value 1 turns crop or resize on.
  void RunPipeline();

  // The nine conversion routines: load the input, (for BMP output) save it as loaded and change
  // its depth, run the pipeline, save to the target, release. Each returns the final save's result
  // (non-zero when the target was written), or 0 when the input did not load. With rawCopy set,
  // the same-format routines re-encode the image without any edit.
  int ConvertBmpToBmp(const std::string& target, const std::string& input, std::uint8_t rawCopy);
  int ConvertJpegToBmp(const std::string& target, const std::string& input);
  int ConvertPngToBmp(const std::string& target, const std::string& input);
  int ConvertBmpToJpeg(const std::string& target, const std::string& input, int quality,
                       int progressive);
  int ConvertJpegToJpeg(const std::string& target, const std::string& input, int quality,
                        int progressive, std::uint8_t rawCopy);
  int ConvertPngToJpeg(const std::string& target, const std::string& input, int quality,
                       int progressive);
  int ConvertBmpToPng(const std::string& target, const std::string& input, int interlace);
  int ConvertJpegToPng(const std::string& target, const std::string& input, int interlace);
  int ConvertPngToPng(const std::string& target, const std::string& input, int interlace,
                      std::uint8_t rawCopy);

  // Writes the input unedited in its own format (JPEG at quality 100 and progressive, PNG
  // interlaced); nothing for any other kind.
  void WriteBeforeCopy(const std::string& input, const std::string& target);

  // Writes the input, with every edit applied, as an HTML page whose table has one 1 × 1 cell per
  // pixel. Returns 1 when the page was written, 0 when the input did not load or the page could
  // not be written ("オープン失敗" when its file cannot be created).
  int TableArtWriter(const std::string& outputPath, const std::string& inputPath);

  // Writes the quality preview's page, which shows Now.log and Temp.log beside it. "オープン失敗"
  // when it cannot be written. Returns 0.
  int WritePreviewPage(const std::string& path);

  // The kind of the file by content; a kind that cannot be converted is reported in a message box.
  int CheckInputKind(const std::string& path);

  // Loads the image to learn its size; the outputs change only when it loads. Returns 0.
  int ProbeImageSize(const std::string& path, int& width, int& height);

 private:
  int Convert(const std::string& target, const std::string& input,
              std::uint32_t (*loader)(const std::string&, const imaging::PhotoHandling&),
              const ImageEncoding& encoding, bool rawCopy);

  ConverterOptions& options_;
  const PhotoOptions& photo_;
  EngineState& state_;
};

}  // namespace engine
