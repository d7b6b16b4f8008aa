// Adobe RGB (1998) as an ICC profile made by LittleCMS (its primaries, D65, gamma 563/256), as
// cameras set to Adobe RGB embed it: the profile of the benchmark's tagged photos.
#pragma once

#include <lcms2.h>

#include <cstdint>
#include <vector>

namespace bench {

// The profile's bytes; empty when LittleCMS cannot write it. Each call stamps the current time
// in the header, as software that makes its profile afresh for every file does.
inline std::vector<std::uint8_t> AdobeRgbProfile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  std::vector<std::uint8_t> bytes;
  cmsUInt32Number size = 0;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

}  // namespace bench
