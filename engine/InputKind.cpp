// Looking at an input file without converting it: its kind and its size in pixels.
#include "engine/Converter.h"
#include "engine/FileFormats.h"
#include "engine/ProcessState.h"
#include "imaging/Imaging.h"
#include "platform/Shell.h"

namespace engine {

int ReportInputKind(int probedKind) {
  const InputFormat& format = InputFormatOf(probedKind);
  if (!format.refusal.empty()) platform::MessageBox(std::string(format.refusal));
  return format.kind;
}

int Converter::CheckInputKind(const std::string& path) {
  return ReportInputKind(imaging::ProbeFileKind(path, 0));
}

int Converter::ProbeImageSize(const std::string& path, int& width, int& height) {
  EngineState& engine = Engine();
  // Loaded as the conversion of the current job will load it, so that the conversion finds the
  // image the library keeps of it.
  const OutputFormat* format = OutputFormatOfKind(Job().OutputKind);
  const bool profileCarried =
      format != nullptr && OutputCarriesProfile(*format, Options().EffectIndex);
  engine.CurrentImage = imaging::LoadImageFile(path, PhotoHandlingOf(Photo(), profileCarried));
  if (engine.CurrentImage == 0) return 0;
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(engine.CurrentImage, record);
  width = record[1];
  height = record[2];
  imaging::FreeImage(engine.CurrentImage);
  engine.CurrentImage = 0;
  return 0;
}

}  // namespace engine
