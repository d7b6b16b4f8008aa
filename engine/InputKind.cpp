// Looking at an input file without converting it: its kind and its size in pixels.
#include "engine/Converter.h"
#include "imaging/Imaging.h"
#include "platform/Shell.h"

namespace engine {

int ReportInputKind(int probedKind) {
  switch (probedKind) {
    case kInputKindBmp:
    case kInputKindJpeg:
    case kInputKindPng:
      return probedKind;
    case 4:
      platform::MessageBox("GIFです!!この形式は変換できません!!");
      return probedKind;
    case 5:
      platform::MessageBox("TIFFです!!この形式は変換できません!!");
      return probedKind;
    case 6:
      platform::MessageBox("PICです!!この形式は変換できません!!");
      return probedKind;
    case 7:
      platform::MessageBox("MAGです!!この形式は変換できません!!");
      return probedKind;
    case 8:
      platform::MessageBox("PCXです!!この形式は変換できません!!");
      return probedKind;
    default:
      platform::MessageBox("このファイルは変換できません!!");
      return kInputKindUnrecognised;
  }
}

int Converter::CheckInputKind(const std::string& path) {
  return ReportInputKind(imaging::ProbeFileKind(path, 0));
}

int Converter::ProbeImageSize(const std::string& path, int& width, int& height) {
  state_.CurrentImage = imaging::LoadImageFile(path, PhotoHandlingOf(photo_));
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
