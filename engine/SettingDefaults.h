// The numbers of the settings that are not indices: their fallbacks and the largest side a size or
// a crop rectangle may have. The settings record starts at these values and the setting rows
// (SettingRows.h) repair and reset to them.
#pragma once

namespace engine {

inline constexpr int kDefaultWidth = 320;
inline constexpr int kDefaultHeight = 240;
inline constexpr int kDefaultCompression = 20;  // JPEG quality 80
inline constexpr int kDefaultCropSide = 100;
inline constexpr int kMaxSide = 2000;  // of a custom size and of each crop number
// The colour effect that turns the image grey, so a JPEG output is written as one grey component.
inline constexpr int kGreyscaleEffect = 1;

}  // namespace engine
