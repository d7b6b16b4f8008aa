// The state of a run, in a few named records held together by a Session. The main form owns the
// session; the engine and the settings code take the records they work on as parameters, and work
// handed to another thread takes copies. Each record starts at the values a new form has.
#pragma once

#include <cstdint>
#include <string>

#include "engine/SettingDefaults.h"
#include "imaging/Imaging.h"

namespace engine {

// Every choice on the main form that survives a restart, in the order the settings file stores
// them. The numbers start at their fallback values, the texts empty.
struct ConversionSettings {
  std::string OutputFolder;
  int OutputFormatIndex = 0;  // 0 BMP, 1 JPG, 2 PNG, 3 HTM
  int SizeMode = 0;           // 0 keep, 1 640×480, 2 Width × Height
  std::int32_t Width = kDefaultWidth;
  std::int32_t Height = kDefaultHeight;
  int BmpDepthIndex = 0;  // 0 24-bit, 1 16-bit, 2 8-bit, 3 8-bit RLE
  std::uint8_t PngInterlace = 0;
  std::uint8_t JpegProgressive = 0;
  int Compression = kDefaultCompression;  // percent; JPEG quality is 100 − Compression
  int ColorEffectIndex = 0;
  int RotationIndex = 0;  // k: 5 × k degrees
  int CropEnabled = 0;
  int CropX = 0;
  int CropY = 0;
  int CropWidth = kDefaultCropSide;
  int CropHeight = kDefaultCropSide;
  int NamingScheme = 0;  // 0 input's name, 1 number, 2 CustomName + number
  std::string CustomName;
};

// Flags of the current run, not persisted.
struct RunFlags {
  std::uint8_t InputPresent = 0;       // a file was offered to the list since it was last emptied
  std::uint8_t SizeOutOfRange = 0;     // the custom size is outside 1..2000
  std::uint8_t TableArtOverLimit = 0;  // table art chosen for more than 10 entries
  std::uint8_t CustomNameRefused = 0;  // the custom name chosen would leave the output folder
};

// The engine's option block, filled by the Converter's setters before every job.
struct ConverterOptions {
  std::uint8_t ResizeOn = 0;
  int ResizeWidth = 0;
  int ResizeHeight = 0;
  int DepthMode = 0;
  int RotationStep = 0;
  int EffectIndex = 0;
  std::uint8_t CropOn = 0;
  int CropLeft = 0;
  int CropTop = 0;
  int CropW = 100;
  int CropH = 100;
};

// How photos are treated, set by the command line's --no-auto-orient, --strip and --keep-aspect
// and by the window's photo menu. Kept apart from ConversionSettings: the settings file does not
// hold them.
struct PhotoOptions {
  std::uint8_t AutoOrient = 1;    // turn photos upright by their EXIF orientation
  std::uint8_t KeepMetadata = 1;  // carry EXIF, XMP and the colour profile into JPEG and PNG output
  std::uint8_t KeepAspect = 0;    // a resize fits the image into its size, keeping its proportions
};

// What the imaging library is told about photos as it loads them for an output that carries a
// photo's RGB colour profile or not (OutputCarriesProfile in FileFormats.h): when it does not, or metadata are not
// kept, a tagged photo's pixels are converted to sRGB.
inline imaging::PhotoHandling PhotoHandlingOf(const PhotoOptions& options, bool profileCarried) {
  const bool keep = options.KeepMetadata != 0;
  return {options.AutoOrient != 0, keep, !(keep && profileCarried)};
}

// The image being converted, the size the last pipeline run measured, and whether an edit of that
// run failed (a crop that yields nothing is no failure).
struct EngineState {
  imaging::ImageHandle CurrentImage = 0;
  int LastOutputWidth = 0;
  int LastOutputHeight = 0;
  bool EditFailed = false;
};

// What the current conversion job works on, and the program's own folder.
struct JobState {
  int OutputKind = 0;  // an OutputFormat's outputKind; 0 is the table-art page's
  std::string CurrentInputPath;
  std::string OutputPath;         // folder + name, then the extension the dispatcher appends
  std::string PreviewTargetPath;  // Temp.log in the preview folder
  std::string ExecutableFolder;   // ends with "/"
  std::string SettingsFolder;     // where Log.ini is kept (platform::ChooseWorkingFolders)
  std::string PreviewFolder;      // where the preview page and its images are written
};

// What the information fields last showed.
struct InformationState {
  int CurrentInputKind = 0;
  int ProbedWidth = 0;
  int ProbedHeight = 0;
  std::string ShownWidthText;
  std::string ShownHeightText;
  std::string BeforeSizeText;
  std::string AfterSizeText;
};

// Every record of a run, owned by the form that runs it. Two forms hold two sessions and share
// nothing; a new session starts like a new process.
struct Session {
  ConversionSettings Settings;
  RunFlags Flags;
  ConverterOptions Options;
  PhotoOptions Photo;
  EngineState Engine;
  JobState Job;
  InformationState Information;
};

}  // namespace engine
