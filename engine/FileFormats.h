// The formats the converter reads and writes, one row each. Every fact about a format lives in
// its row: what a new input kind or output format needs is a row here (and, for an input kind,
// its signature row and decoder in the imaging library, which tells the kinds apart).
//
// The numbers in the rows are the ones stored and shown (the kind a probe reports, the job's
// OutputKind, the settings file's OutputFormatIndex); code finds rows by them and compares rows,
// never the numbers of one numbering with another's.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ControlIds.h"
#include "imaging/Imaging.h"
#include "platform/Shell.h"

namespace engine {

struct OutputFormat;

// How an image is encoded: the output format and the settings that format takes.
struct ImageEncoding {
  const OutputFormat* format = nullptr;
  int quality = 0;      // JPEG
  int progressive = 0;  // JPEG
  int interlace = 0;    // PNG
};

using ImageLoader = imaging::ImageHandle (*)(const std::string&, const imaging::PhotoHandling&);
// Writes the image to the target with the encoding's settings; non-zero when written.
using ImageEncoder = std::int32_t (*)(const std::string& target, imaging::ImageHandle image,
                                      const ImageEncoding& encoding);

// A kind of input file, as the imaging library's probe tells it.
struct InputFormat {
  imaging::FileKind kind;       // what CheckInputKind returns and the information state keeps
  std::string_view kindText;    // shown in the kind fields
  std::string_view refusal;     // the message when such a file is offered; empty when it converts
  ImageLoader loader;           // reads it for output in another format; nullptr: not converted
  std::string_view dialogName;  // the file dialog's entry; rows with one name share the entry
  std::string_view dialogPatterns;  // ";"-separated, as the dialog matches names
  std::string_view extensions;      // " "-separated; every one matches dialogPatterns
  std::string_view mimeType;  // ";"-separated, offered to the desktop (desktop entry, metainfo)

  bool Converts() const { return loader != nullptr; }
};

// An output format: one radio button of the form.
struct OutputFormat {
  int settingsIndex;  // OutputFormatIndex in the settings file
  int outputKind;     // the job's OutputKind
  ControlId radio;
  std::string_view cliName;  // the command line's --format value
  std::string_view extension;
  // The input kind written in the same format: such an input is read by content (LoadImageFile)
  // rather than by its own format's loader. kFileKindUnknown for none.
  imaging::FileKind sameKind;
  ImageEncoder encoder;    // nullptr: the table-art page, written by the table-art writer
  bool writesLoadedFirst;  // saved as loaded, then changed to the BMP depth, before the edits
  bool carriesProfile;     // keeps a photo's RGB colour profile
  bool writesGreyAsGrey;   // a grey image is written as one grey component, which an RGB profile
                           // does not fit
};

// Every input kind the probe reports, the not-recognised one last.
std::span<const InputFormat> InputFormats();
// The row of a kind; a number that names no kind gets the not-recognised row.
const InputFormat& InputFormatOf(int kind);
// The kind the after column records for a table-art page, which is shown but never probed.
inline constexpr int kTableArtPageKind = 0;
// The text a kind field shows for a kind ("HTM" for a table-art page).
std::string KindName(int kind);

// Whether the format keeps a photo's RGB colour profile when the colour effect is `effectIndex`:
// JPEG and PNG do, except a JPEG the greyscale effect writes as one grey component.
bool OutputCarriesProfile(const OutputFormat& format, int effectIndex);

// Every output format, in the order of OutputFormatIndex.
std::span<const OutputFormat> OutputFormats();
// The row of an OutputKind, or nullptr when none has it.
const OutputFormat* OutputFormatOfKind(int outputKind);
// The row of an OutputFormatIndex, or nullptr when none has it.
const OutputFormat* OutputFormatAt(int settingsIndex);
// The row that writes files of an input kind's own format, or nullptr when none does.
const OutputFormat* OutputFormatWriting(imaging::FileKind kind);
// The row whose radio button is checked first, or nullptr when none is.
const OutputFormat* CheckedOutputFormat(const platform::Controls& controls);

// The open-file dialog's filters: every convertible kind together, then one entry per dialog name.
std::vector<platform::FileFilter> InputFileFilters();
// The MIME types of the convertible kinds, in row order.
std::vector<std::string> ConvertibleMimeTypes();

}  // namespace engine
