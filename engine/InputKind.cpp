// Looking at an input file without converting it: its kind and its size in pixels.
#include "engine/Converter.h"
#include "engine/FileFormats.h"
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

int Converter::ProbeImageSize(const std::string& path, bool profileCarried, int& width,
                              int& height) {
  // Loaded as the conversion of the job will load it, so that the conversion finds the image the
  // library keeps of it.
  state_.CurrentImage = imaging::LoadImageFile(path, PhotoHandlingOf(photo_, profileCarried));
  if (state_.CurrentImage == 0) return 0;
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(state_.CurrentImage, record);
  width = record[1];
  height = record[2];
  imaging::FreeImage(state_.CurrentImage);
  state_.CurrentImage = 0;
  return 0;
}

}  // namespace engine
