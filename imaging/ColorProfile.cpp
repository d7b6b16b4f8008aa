#include "imaging/ColorProfile.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "imaging/EncodedOutput.h"
#include "imaging/PhotoMetadata.h"

namespace imaging {
namespace {

// LittleCMS reports a refused profile through its error handler; the conversion just does not
// happen, so there is nothing to tell anyone.
void IgnoreError(cmsContext /*context*/, cmsUInt32Number /*code*/, const char* /*text*/) {}

// The context every profile and transform is made in, with the handler above; made once and kept
// for the life of the process (transforms made in it are shared by every thread).
cmsContext Context() {
  static const cmsContext context = [] {
    cmsSetLogErrorHandler(IgnoreError);
    const cmsContext made = cmsCreateContext(nullptr, nullptr);
    if (made != nullptr) cmsSetLogErrorHandlerTHR(made, IgnoreError);
    return made;
  }();
  return context;
}

struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
  void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// sRGB's primaries and white point (IEC 61966-2-1), for the linear-light profile the tables are
// sampled in.
constexpr cmsCIExyY kD65{0.3127, 0.3290, 1.0};
constexpr cmsCIExyYTRIPLE kSrgbPrimaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};

// sRGB's encoding of a linear-light value 0..1.
double SrgbEncoded(double linear) {
  if (linear <= 0.0031308) return 12.92 * linear;
  return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

// A profile that converts to sRGB by itself within this many 16-bit units (half an 8-bit step)
// on every sample is taken for sRGB.
constexpr int kSrgbTolerance = 128;

// True when the RGB profile maps every sampled colour (a 6-level cube and the whole grey ramp) to
// itself in sRGB, colorimetrically: its pixels already are sRGB. Computed in floating point without
// LittleCMS's optimisation, which for these few samples would cost far more than it saves.
bool ConvertsToItself(void* source, void* srgb) {
  const Transform check(cmsCreateTransformTHR(Context(), source, TYPE_RGB_FLT, srgb, TYPE_RGB_FLT,
                                              INTENT_RELATIVE_COLORIMETRIC,
                                              cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
  if (check == nullptr) return false;
  std::vector<float> samples;
  for (int red = 0; red <= 255; red += 51) {
    for (int green = 0; green <= 255; green += 51) {
      for (int blue = 0; blue <= 255; blue += 51) {
        for (const int value : {red, green, blue}) samples.push_back(static_cast<float>(value) / 255.0f);
      }
    }
  }
  for (int grey = 0; grey <= 255; ++grey) samples.insert(samples.end(), 3, static_cast<float>(grey) / 255.0f);
  std::vector<float> converted(samples.size());
  cmsDoTransform(check.get(), samples.data(), converted.data(),
                 static_cast<cmsUInt32Number>(samples.size() / 3));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    // Compared in 16-bit units; NaN from a degenerate profile fails the comparison too.
    if (!(std::abs(double{converted[i]} - double{samples[i]}) * 65535.0 <= kSrgbTolerance)) return false;
  }
  return true;
}

}  // namespace

// A matrix-shaper profile's conversion to sRGB is a curve per channel, a 3 × 3 matrix into sRGB's
// linear light, and sRGB's encoding. In linear light each channel's part adds up, so the tables
// hold, for every byte value of each channel, that channel's contribution to linear sRGB red,
// green and blue, sampled from LittleCMS (in floating point, unclipped, with the same intent),
// and the encoding back to bytes. The three contributions of a channel value sit in one 64-bit
// word, 21 bits each, so a pixel costs three look-ups and two additions for all three sums, and
// three look-ups to encode them. Each contribution is stored above the lowest its channel gives
// that output, and the first channel's words carry what black converts to and the rest of the
// offset, so every sum is its linear value above the lowest any pixel can reach: it indexes the
// encoding table as it stands, which covers every sum from the lowest to the highest (values
// below 0 encode as 0, above 1 as 255), with nothing to subtract or clamp per pixel.
struct ColorTransform::Tables {
  // Linear light 1.0 in the contributions.
  static constexpr int kLinearShift = 14;
  static constexpr std::int64_t kLinearOne = std::int64_t{1} << kLinearShift;
  // A contribution lies within ±kLargest (linear light ±2: far beyond any real profile's), so a
  // field holds less than 3 × 2 × kLargest, well within its bits, and the encoding table has at
  // most that many entries (196 609).
  static constexpr std::int64_t kLargest = 2 * kLinearOne;
  static constexpr int kFieldBits = 21;
  static constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kFieldBits) - 1;

  // packed[channel][value]: red, green and blue fields from the lowest bits up.
  std::array<std::array<std::uint64_t, 256>, 3> packed{};
  // encode[sum]: the sRGB byte of linear light (sum + lowest) / kLinearOne.
  std::vector<std::uint8_t> encode;

  void Convert(std::uint8_t* pixels, std::size_t count) const {
    const std::uint64_t* red = packed[0].data();
    const std::uint64_t* green = packed[1].data();
    const std::uint64_t* blue = packed[2].data();
    const std::uint8_t* encoded = encode.data();
    for (std::size_t i = 0; i < count; ++i, pixels += 3) {
      const std::uint64_t sums = red[pixels[0]] + green[pixels[1]] + blue[pixels[2]];
      pixels[0] = encoded[sums & kFieldMask];
      pixels[1] = encoded[(sums >> kFieldBits) & kFieldMask];
      pixels[2] = encoded[sums >> (2 * kFieldBits)];
    }
  }

  // The tables for the profile, or null when it is no matrix shaper for this intent or the tables
  // do not give what LittleCMS's own 8-bit transform gives within a step.
  static std::unique_ptr<const Tables> Sample(void* source, void* srgb, cmsUInt32Number intent,
                                              cmsUInt32Number flags) {
    if (!cmsIsMatrixShaper(source) || cmsIsCLUT(source, intent, LCMS_USED_AS_INPUT)) return nullptr;
    cmsToneCurve* linearCurve = cmsBuildGamma(Context(), 1.0);
    if (linearCurve == nullptr) return nullptr;
    cmsToneCurve* curves[3] = {linearCurve, linearCurve, linearCurve};
    const Profile linear(cmsCreateRGBProfileTHR(Context(), &kD65, &kSrgbPrimaries, curves));
    cmsFreeToneCurve(linearCurve);
    if (linear == nullptr) return nullptr;
    const Transform toLinear(cmsCreateTransformTHR(Context(), source, TYPE_RGB_FLT, linear.get(),
                                                   TYPE_RGB_FLT, intent, flags));
    if (toLinear == nullptr) return nullptr;

    // Black, then each channel's ramp alone.
    std::vector<float> ramps(3 + 3 * 256 * 3, 0.0f);
    for (std::size_t channel = 0; channel < 3; ++channel) {
      for (std::size_t value = 0; value < 256; ++value) {
        ramps[3 + (channel * 256 + value) * 3 + channel] = static_cast<float>(value) / 255.0f;
      }
    }
    std::vector<float> converted(ramps.size());
    cmsDoTransform(toLinear.get(), ramps.data(), converted.data(),
                   static_cast<cmsUInt32Number>(ramps.size() / 3));

    // contribution[channel][value][out], in fixed point; the other two channels' ramps start at
    // black too, so black counts once, in the first channel's.
    std::vector<std::array<std::int64_t, 3>> contribution(3 * 256);
    std::array<std::array<std::int64_t, 3>, 3> lowest{};  // [channel][out]
    for (std::size_t channel = 0; channel < 3; ++channel) {
      for (std::size_t value = 0; value < 256; ++value) {
        for (std::size_t out = 0; out < 3; ++out) {
          const double part = converted[3 + (channel * 256 + value) * 3 + out];
          const double black = channel == 0 ? 0.0 : converted[out];
          const std::int64_t fixed =
              std::clamp<std::int64_t>(std::llround((part - black) * double(kLinearOne)),
                                       -kLargest, kLargest);
          contribution[channel * 256 + value][out] = fixed;
          lowest[channel][out] = value == 0 ? fixed : std::min(lowest[channel][out], fixed);
        }
      }
    }
    // The lowest and highest sums any pixel reaches, over all three outputs.
    std::array<std::int64_t, 3> lowestSum{};
    std::int64_t lowestOfAll = 0;
    std::int64_t highestOfAll = 0;
    for (std::size_t out = 0; out < 3; ++out) {
      std::int64_t highestSum = 0;
      for (std::size_t channel = 0; channel < 3; ++channel) {
        lowestSum[out] += lowest[channel][out];
        std::int64_t highest = lowest[channel][out];
        for (std::size_t value = 0; value < 256; ++value)
          highest = std::max(highest, contribution[channel * 256 + value][out]);
        highestSum += highest;
      }
      lowestOfAll = out == 0 ? lowestSum[out] : std::min(lowestOfAll, lowestSum[out]);
      highestOfAll = out == 0 ? highestSum : std::max(highestOfAll, highestSum);
    }

    auto tables = std::make_unique<Tables>();
    for (std::size_t channel = 0; channel < 3; ++channel) {
      for (std::size_t value = 0; value < 256; ++value) {
        std::uint64_t packed = 0;
        for (std::size_t out = 0; out < 3; ++out) {
          std::int64_t field = contribution[channel * 256 + value][out] - lowest[channel][out];
          if (channel == 0) field += lowestSum[out] - lowestOfAll;
          packed |= static_cast<std::uint64_t>(field) << (kFieldBits * out);
        }
        tables->packed[channel][value] = packed;
      }
    }
    tables->encode.resize(static_cast<std::size_t>(highestOfAll - lowestOfAll + 1));
    for (std::size_t entry = 0; entry < tables->encode.size(); ++entry) {
      const std::int64_t level = static_cast<std::int64_t>(entry) + lowestOfAll;
      tables->encode[entry] =
          level <= 0            ? 0
          : level >= kLinearOne ? 255
                                : static_cast<std::uint8_t>(std::lround(
                                      255.0 * SrgbEncoded(static_cast<double>(level) /
                                                          static_cast<double>(kLinearOne))));
    }

    // Checked against LittleCMS's own 8-bit transform on a 16-level cube. Unoptimised: it is
    // made for these few pixels alone, and computes every one in full.
    const Transform reference(cmsCreateTransformTHR(Context(), source, TYPE_RGB_8, srgb, TYPE_RGB_8,
                                                    intent, flags | cmsFLAGS_NOOPTIMIZE));
    if (reference == nullptr) return nullptr;
    std::vector<std::uint8_t> cube;
    for (int red = 0; red <= 255; red += 17) {
      for (int green = 0; green <= 255; green += 17) {
        for (int blue = 0; blue <= 255; blue += 17) {
          for (const int value : {red, green, blue}) cube.push_back(static_cast<std::uint8_t>(value));
        }
      }
    }
    std::vector<std::uint8_t> expected(cube.size());
    cmsDoTransform(reference.get(), cube.data(), expected.data(),
                   static_cast<cmsUInt32Number>(cube.size() / 3));
    tables->Convert(cube.data(), cube.size() / 3);
    for (std::size_t i = 0; i < cube.size(); ++i) {
      if (std::abs(int{cube[i]} - int{expected[i]}) > 1) return nullptr;
    }
    return tables;
  }
};

ColorTransform::ColorTransform(Source from, void* transform, std::unique_ptr<const Tables> tables)
    : from_(from), transform_(transform), tables_(std::move(tables)) {}

ColorTransform::~ColorTransform() {
  if (transform_ != nullptr) cmsDeleteTransform(transform_);
}

void ColorTransform::ConvertRgb(std::uint8_t* pixels, std::size_t count) const {
  if (from_ != Source::kRgb) return;
  if (tables_ != nullptr) {
    tables_->Convert(pixels, count);
    return;
  }
  // cmsDoTransform counts pixels in 32 bits.
  constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;
  for (std::size_t done = 0; done < count;) {
    const std::size_t part = std::min(count - done, kMostAtOnce);
    std::uint8_t* start = pixels + done * 3;
    cmsDoTransform(transform_, start, start, static_cast<cmsUInt32Number>(part));
    done += part;
  }
}

void ColorTransform::ConvertCmyk(std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t count,
                                 bool inverted) const {
  if (from_ != Source::kCmyk) return;
  if (inverted) {
    for (std::size_t i = 0; i < count * 4; ++i) cmyk[i] = static_cast<std::uint8_t>(255 - cmyk[i]);
  }
  cmsDoTransform(transform_, cmyk, rgb, static_cast<cmsUInt32Number>(count));
}

std::shared_ptr<const ColorTransform> ColorTransform::Build(std::span<const std::uint8_t> icc) {
  const cmsContext context = Context();
  if (context == nullptr || icc.empty() || icc.size() > kMaxProfileBytes) return nullptr;
  const Profile source(
      cmsOpenProfileFromMemTHR(context, icc.data(), static_cast<cmsUInt32Number>(icc.size())));
  if (source == nullptr) return nullptr;

  // The header's signatures are any 32-bit values, most of them outside LittleCMS's enumerations:
  // they are compared as numbers.
  const auto profileClass = static_cast<std::uint32_t>(cmsGetDeviceClass(source.get()));
  if (profileClass != cmsSigInputClass && profileClass != cmsSigDisplayClass &&
      profileClass != cmsSigOutputClass && profileClass != cmsSigColorSpaceClass) {
    return nullptr;
  }
  const auto pcs = static_cast<std::uint32_t>(cmsGetPCS(source.get()));
  if (pcs != cmsSigXYZData && pcs != cmsSigLabData) return nullptr;
  const auto space = static_cast<std::uint32_t>(cmsGetColorSpace(source.get()));
  if (space != cmsSigRgbData && space != cmsSigCmykData) return nullptr;
  const Source from = space == cmsSigRgbData ? Source::kRgb : Source::kCmyk;
  const cmsUInt32Number inputFormat = from == Source::kRgb ? TYPE_RGB_8 : TYPE_CMYK_8;

  const Profile srgb(cmsCreate_sRGBProfileTHR(context));
  if (srgb == nullptr) return nullptr;
  if (from == Source::kRgb && ConvertsToItself(source.get(), srgb.get())) return nullptr;

  // The profile's perceptual rendering where it has one; else colorimetric, with the source's
  // black mapped to sRGB's black so shadows keep their detail.
  cmsUInt32Number intent = INTENT_PERCEPTUAL;
  cmsUInt32Number flags = cmsFLAGS_NOCACHE;
  if (!cmsIsIntentSupported(source.get(), INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT)) {
    intent = INTENT_RELATIVE_COLORIMETRIC;
    flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
  }
  // RGB pixels go through the tables where they can be made; LittleCMS's transform, with its
  // optimisation (which alone costs more than the rest of the build), only where they cannot.
  std::unique_ptr<const Tables> tables;
  if (from == Source::kRgb) tables = Tables::Sample(source.get(), srgb.get(), intent, flags);
  Transform transform;
  if (tables == nullptr) {
    transform.reset(cmsCreateTransformTHR(context, source.get(), inputFormat, srgb.get(),
                                          TYPE_RGB_8, intent, flags));
    if (transform == nullptr) return nullptr;
  }
  return std::shared_ptr<const ColorTransform>(
      new ColorTransform(from, transform.release(), std::move(tables)));
}

namespace {

// The last few distinct profiles and what they gave (null included), newest last. A batch of
// photos from one camera builds its transform once.
struct RememberedProfile {
  std::array<std::uint64_t, 2> hash{};
  std::vector<std::uint8_t> key;
  std::shared_ptr<const ColorTransform> transform;
};
constexpr std::size_t kRememberedProfiles = 8;

std::mutex& ProfilesLock() {
  static std::mutex lock;
  return lock;
}

std::vector<RememberedProfile>& Remembered() {
  static std::vector<RememberedProfile> remembered;
  return remembered;
}

// Where the profile header keeps its creation date and time, and the profile's ID (a checksum of
// the profile with the date included). Neither changes a conversion.
constexpr std::size_t kIccDateOffset = 24;
constexpr std::size_t kIccDateBytes = 12;
constexpr std::size_t kIccIdOffset = 84;
constexpr std::size_t kIccIdBytes = 16;

// The profile's bytes with its date and ID blanked: software that makes a profile afresh for every
// file it saves (LittleCMS-based tools, raw converters) writes profiles that differ in nothing
// else, and they are remembered as one.
std::vector<std::uint8_t> KeyOf(std::span<const std::uint8_t> icc) {
  std::vector<std::uint8_t> key(icc.begin(), icc.end());
  if (key.size() >= kIccIdOffset + kIccIdBytes) {
    std::fill_n(key.begin() + kIccDateOffset, kIccDateBytes, std::uint8_t{0});
    std::fill_n(key.begin() + kIccIdOffset, kIccIdBytes, std::uint8_t{0});
  }
  return key;
}

}  // namespace

std::shared_ptr<const ColorTransform> TransformToSrgb(std::span<const std::uint8_t> icc) {
  if (icc.empty()) return nullptr;
  std::vector<std::uint8_t> key = KeyOf(icc);
  const std::array<std::uint64_t, 2> hash = ContentHash::Of(key);
  const std::lock_guard<std::mutex> guard(ProfilesLock());
  std::vector<RememberedProfile>& remembered = Remembered();
  const auto found = std::find_if(remembered.begin(), remembered.end(), [&](const auto& entry) {
    return entry.hash == hash && entry.key == key;
  });
  if (found != remembered.end()) {
    std::rotate(found, found + 1, remembered.end());
    return remembered.back().transform;
  }
  // Built while the lock is held: workers meeting the same new profile wait for one build.
  RememberedProfile entry{hash, std::move(key), ColorTransform::Build(icc)};
  if (remembered.size() == kRememberedProfiles) remembered.erase(remembered.begin());
  remembered.push_back(std::move(entry));
  return remembered.back().transform;
}

}  // namespace imaging
