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
// itself in sRGB, colorimetrically: its pixels already are sRGB.
bool ConvertsToItself(void* source, void* srgb) {
  const Transform check(cmsCreateTransformTHR(Context(), source, TYPE_RGB_16, srgb, TYPE_RGB_16,
                                              INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  if (check == nullptr) return false;
  std::vector<std::uint16_t> samples;
  for (int red = 0; red <= 255; red += 51) {
    for (int green = 0; green <= 255; green += 51) {
      for (int blue = 0; blue <= 255; blue += 51) {
        for (const int value : {red, green, blue}) samples.push_back(static_cast<std::uint16_t>(value * 257));
      }
    }
  }
  for (int grey = 0; grey <= 255; ++grey) samples.insert(samples.end(), 3, static_cast<std::uint16_t>(grey * 257));
  std::vector<std::uint16_t> converted(samples.size());
  cmsDoTransform(check.get(), samples.data(), converted.data(),
                 static_cast<cmsUInt32Number>(samples.size() / 3));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(int{samples[i]} - int{converted[i]}) > kSrgbTolerance) return false;
  }
  return true;
}

}  // namespace

// A matrix-shaper profile's conversion to sRGB is a curve per channel, a 3 × 3 matrix into sRGB's
// linear light, and sRGB's encoding. In linear light each channel's part adds up, so the tables
// hold, for every byte value of each channel, that channel's contribution to linear sRGB red,
// green and blue, sampled from LittleCMS (in floating point, unclipped, with the same intent),
// and the encoding back to bytes. The three contributions of a channel value sit in one 64-bit
// word, 21 bits each with a bias that keeps them positive, so a pixel costs three look-ups and two
// additions for all three sums, and three look-ups to encode them.
struct ColorTransform::Tables {
  // Linear light 1.0 in the contributions, and the number of entries of the encoding table.
  static constexpr int kLinearShift = 14;
  static constexpr std::int64_t kLinearOne = std::int64_t{1} << kLinearShift;
  static constexpr std::size_t kEncodeEntries = std::size_t{1} << kLinearShift;
  // A contribution lies within ±kLargest (linear light ±2: far beyond any real profile's) and is
  // stored plus kBias; three of them add up to less than 2^kFieldBits.
  static constexpr std::int64_t kLargest = 2 * kLinearOne;
  static constexpr std::int64_t kBias = 4 * kLinearOne;
  static constexpr int kFieldBits = 21;
  static constexpr std::uint64_t kFieldMask = (std::uint64_t{1} << kFieldBits) - 1;

  // packed[channel][value]: red, green and blue contributions from the lowest bits up; the first
  // channel's also hold what black converts to, so three of them add up to the whole colour.
  std::array<std::array<std::uint64_t, 256>, 3> packed{};
  std::array<std::uint8_t, kEncodeEntries> encode{};

  void Convert(std::uint8_t* pixels, std::size_t count) const {
    constexpr std::int64_t kBiases = 3 * kBias;
    for (std::size_t i = 0; i < count; ++i, pixels += 3) {
      const std::uint64_t sums = packed[0][pixels[0]] + packed[1][pixels[1]] + packed[2][pixels[2]];
      for (int channel = 0; channel < 3; ++channel) {
        const auto linear =
            static_cast<std::int64_t>((sums >> (kFieldBits * channel)) & kFieldMask) - kBiases;
        pixels[channel] =
            encode[static_cast<std::size_t>(std::clamp<std::int64_t>(linear, 0, kLinearOne - 1))];
      }
    }
  }

  // The tables for the profile, or null when it is no matrix shaper for this intent or the tables
  // do not give what `reference` (the LittleCMS 8-bit transform) gives within a step.
  static std::unique_ptr<const Tables> Sample(void* source, cmsUInt32Number intent,
                                              cmsUInt32Number flags, void* reference) {
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

    auto tables = std::make_unique<Tables>();
    for (std::size_t channel = 0; channel < 3; ++channel) {
      for (std::size_t value = 0; value < 256; ++value) {
        std::uint64_t packed = 0;
        for (std::size_t out = 0; out < 3; ++out) {
          const double part = converted[3 + (channel * 256 + value) * 3 + out];
          // The other two channels' ramps start at black too: black counts once.
          const double black = channel == 0 ? 0.0 : converted[out];
          const std::int64_t fixed =
              std::clamp<std::int64_t>(std::llround((part - black) * double(kLinearOne)),
                                       -kLargest, kLargest);
          packed |= static_cast<std::uint64_t>(fixed + kBias) << (kFieldBits * out);
        }
        tables->packed[channel][value] = packed;
      }
    }
    for (std::size_t entry = 0; entry < kEncodeEntries; ++entry) {
      const double level = static_cast<double>(entry) / static_cast<double>(kLinearOne);
      tables->encode[entry] = static_cast<std::uint8_t>(std::lround(255.0 * SrgbEncoded(level)));
    }

    // Checked against LittleCMS's own 8-bit transform on a 16-level cube.
    std::vector<std::uint8_t> cube;
    for (int red = 0; red <= 255; red += 17) {
      for (int green = 0; green <= 255; green += 17) {
        for (int blue = 0; blue <= 255; blue += 17) {
          for (const int value : {red, green, blue}) cube.push_back(static_cast<std::uint8_t>(value));
        }
      }
    }
    std::vector<std::uint8_t> expected(cube.size());
    cmsDoTransform(reference, cube.data(), expected.data(),
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

ColorTransform::~ColorTransform() { cmsDeleteTransform(transform_); }

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
  Transform transform(cmsCreateTransformTHR(context, source.get(), inputFormat, srgb.get(),
                                            TYPE_RGB_8, intent, flags));
  if (transform == nullptr) return nullptr;
  std::unique_ptr<const Tables> tables;
  if (from == Source::kRgb) tables = Tables::Sample(source.get(), intent, flags, transform.get());
  return std::shared_ptr<const ColorTransform>(
      new ColorTransform(from, transform.release(), std::move(tables)));
}

namespace {

// The last few distinct profiles and what they gave (null included), newest last. A batch of
// photos from one camera builds its transform once.
struct RememberedProfile {
  std::array<std::uint64_t, 2> hash{};
  std::vector<std::uint8_t> bytes;
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

}  // namespace

std::shared_ptr<const ColorTransform> TransformToSrgb(std::span<const std::uint8_t> icc) {
  if (icc.empty()) return nullptr;
  const std::array<std::uint64_t, 2> hash = ContentHash::Of(icc);
  const std::lock_guard<std::mutex> guard(ProfilesLock());
  std::vector<RememberedProfile>& remembered = Remembered();
  const auto found = std::find_if(remembered.begin(), remembered.end(), [&](const auto& entry) {
    return entry.hash == hash && std::equal(entry.bytes.begin(), entry.bytes.end(), icc.begin(),
                                            icc.end());
  });
  if (found != remembered.end()) {
    std::rotate(found, found + 1, remembered.end());
    return remembered.back().transform;
  }
  // Built while the lock is held: workers meeting the same new profile wait for one build.
  RememberedProfile entry{hash, std::vector<std::uint8_t>(icc.begin(), icc.end()),
                          ColorTransform::Build(icc)};
  if (remembered.size() == kRememberedProfiles) remembered.erase(remembered.begin());
  remembered.push_back(std::move(entry));
  return remembered.back().transform;
}

}  // namespace imaging
