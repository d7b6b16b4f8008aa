// Colour management through LittleCMS: a photo's embedded ICC profile turned into a conversion of
// its pixels to sRGB, for outputs that cannot carry the profile (BMP, table art, a stripped photo)
// and for CMYK JPEGs, whose profile no RGB output can carry.
//
// Profiles are untrusted input. One LittleCMS refuses, one that is not an input, display, output
// or colour-space profile of RGB or CMYK data, or one that yields no transform gives no conversion
// (the pixels stay as stored); LittleCMS reports nothing to the terminal. A profile that converts
// every colour to itself within half a step (an sRGB profile, however it is written)
// gives no conversion either, so such photos convert to exactly the bytes an untagged one does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace imaging {

// A conversion from one profile to sRGB, made once per distinct profile and shared by every image
// and thread that needs it: its conversions may run on several threads at once.
class ColorTransform {
 public:
  enum class Source { kRgb, kCmyk };

  ColorTransform(const ColorTransform&) = delete;
  ColorTransform& operator=(const ColorTransform&) = delete;
  ~ColorTransform();

  Source From() const { return from_; }
  // Converts `count` pixels of red, green, blue bytes in place. From() must be kRgb.
  void ConvertRgb(std::uint8_t* pixels, std::size_t count) const;
  // Converts `count` pixels of cyan, magenta, yellow, black bytes (ink amounts; Adobe's inverted
  // storage, 255 minus the ink, when `inverted`) to red, green, blue bytes. The CMYK bytes are
  // overwritten on the way. From() must be kCmyk.
  void ConvertCmyk(std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t count, bool inverted) const;

  // The conversion for the profile, built anew (TransformToSrgb keeps what it built): null when
  // there is none to make.
  static std::shared_ptr<const ColorTransform> Build(std::span<const std::uint8_t> icc);

  // Linear-light sRGB tables for a matrix-shaper profile (see ColorProfile.cpp).
  struct Tables;

 private:
  ColorTransform(Source from, void* transform, std::unique_ptr<const Tables> tables);

  Source from_;
  // The LittleCMS transform (a cmsHTRANSFORM made with cmsFLAGS_NOCACHE, so cmsDoTransform keeps
  // no state in it and several threads may use it at once); null when tables_ convert instead.
  void* transform_;
  // When present, RGB pixels go through these (the same colours within a step, at a fraction of
  // the time); read only once built, so shared as freely as the transform.
  std::unique_ptr<const Tables> tables_;
};

// The conversion of pixels described by the profile to sRGB, or null when there is none to make
// (see above). Built at the first request for a profile and kept for the next ones: the last few
// distinct profiles are remembered by their bytes (all but their creation date and ID).
std::shared_ptr<const ColorTransform> TransformToSrgb(std::span<const std::uint8_t> icc);

}  // namespace imaging
