// Photos with colour profiles: converted to sRGB as they load when the handling asks for it (an
// output that cannot carry the profile), left exactly as stored otherwise; CMYK JPEGs through
// their own profile; sRGB and unusable profiles as if there were none.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

#include "imaging/ColorProfile.h"
#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"
#include "imaging/JpegCodec.h"
#include "imaging/PhotoMetadata.h"
#include "tests/support/JpegFiles.h"
#include "tests/support/PhotoFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace imaging;
using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

constexpr PhotoHandling kCarried{true, true, false};
constexpr PhotoHandling kConverted{true, true, true};

// Saturated and middle patches where Adobe RGB and sRGB differ, with white, black and grey.
const Rgb kPatches[] = {{60, 180, 60},   {200, 120, 40}, {40, 90, 200},  {230, 200, 60},
                        {180, 40, 150},  {0, 255, 0},    {0, 120, 240},  {255, 255, 255},
                        {0, 0, 0},       {128, 128, 128}, {20, 20, 30},  {250, 20, 10}};
constexpr int kPatchesWide = 4;

// 17 × 11 pixels of the patches in blocks of 4 × 4 (the last column and row narrower), so a JPEG
// keeps each patch's middle close to its colour.
Bitmap Patches() {
  Bitmap bitmap = *MakeBitmap(17, 11);
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      const auto patch = std::size_t(std::min(x / 4, kPatchesWide - 1) + (y / 4) * kPatchesWide);
      SetPixel(bitmap, x, y, kPatches[patch % std::size(kPatches)]);
    }
  }
  return bitmap;
}

// The largest channel difference between each pixel and what `expected` says it should be.
int LargestDeviation(const Bitmap& actual, const Bitmap& source, Rgb (*expected)(Rgb)) {
  int largest = 0;
  for (int y = 0; y < actual.height; ++y) {
    for (int x = 0; x < actual.width; ++x) {
      const Rgb want = expected(PixelAt(source, x, y));
      const Rgb got = PixelAt(actual, x, y);
      largest = std::max({largest, std::abs(got.red - want.red),
                          std::abs(got.green - want.green), std::abs(got.blue - want.blue)});
    }
  }
  return largest;
}

// The largest difference between two equally long byte arrays.
int LargestDeviationOf(const Bytes& first, const Bytes& second) {
  int largest = 0;
  for (std::size_t i = 0; i < first.size() && i < second.size(); ++i)
    largest = std::max(largest, std::abs(int{first[i]} - int{second[i]}));
  return largest;
}

// The mean of first − second over two equally long byte arrays: a bias that single differences
// within a step do not show.
double MeanDeviationOf(const Bytes& first, const Bytes& second) {
  double sum = 0;
  for (std::size_t i = 0; i < first.size() && i < second.size(); ++i)
    sum += int{first[i]} - int{second[i]};
  return first.empty() ? 0.0 : sum / static_cast<double>(first.size());
}

class ColorProfileTest : public ::testing::Test {
 protected:
  ~ColorProfileTest() override { ResetHandleTable(); }

  // The bitmap saved as `name` (JPEG or PNG by its extension) carrying the profile.
  std::string Tagged(const Bitmap& bitmap, const std::string& name, const Bytes& icc) {
    const std::string path = SaveImageFile(bitmap, folder.File(name));
    const Bytes plain = ReadFileBytes(path);
    WriteFileBytes(path, name.ends_with(".jpg")
                             ? WithSegments(plain, CameraSegments({}, {}, icc, 60000))
                             : WithChunks(plain, PngMetadataChunks({}, {}, icc)));
    return path;
  }

  // The pixels of the file as loaded with the handling (by LoadJpeg for a deferred decode).
  static Bitmap Loaded(const std::string& path, const PhotoHandling& handling,
                       bool deferred = false) {
    const ImageHandle handle = deferred ? LoadJpeg(path, handling) : LoadImageFile(path, handling);
    EXPECT_NE(handle, 0u) << path;
    Bitmap pixels = PixelsOf(handle);
    FreeImage(handle);
    return pixels;
  }

  TempFolder folder;
};

TEST_F(ColorProfileTest, AdobeRgbPixelsBecomeTheirSrgbColoursOnlyWhereTheProfileCannotTravel) {
  const Bitmap patches = Patches();
  const Bytes adobe = AdobeRgbProfile();
  // The reference must tell the two apart, or the test proves nothing.
  ASSERT_GT(LargestDeviation(patches, patches, AdobeRgbToSrgb), 20);
  for (const char* name : {"adobe.png", "adobe.jpg"}) {
    SCOPED_TRACE(name);
    const std::string path = Tagged(patches, name, adobe);
    // What the file stores (a JPEG's own losses included).
    const Bitmap stored = Loaded(path, kCarried);
    EXPECT_EQ(Loaded(path, {false, false, false}).pixels, stored.pixels) << "nothing asked";
    if (std::string(name).ends_with(".png")) {
      EXPECT_EQ(stored.pixels, patches.pixels);
    }
    EXPECT_LE(LargestDeviation(Loaded(path, kConverted), stored, AdobeRgbToSrgb), 2);
    // Loaded again (the library keeps the last released image) and decoded late.
    EXPECT_LE(LargestDeviation(Loaded(path, kConverted), stored, AdobeRgbToSrgb), 2) << "again";
    EXPECT_EQ(Loaded(path, kCarried).pixels, stored.pixels) << "carried after converted";
  }
  // A JPEG decoded late, at half its size for a shrinking resize, is converted all the same. (The
  // reference is loaded without turning upright, which the file does not ask for, so that it is
  // decoded afresh at half size too rather than taken from the image the library keeps.)
  const std::string jpeg = folder.File("adobe.jpg");
  const auto halfSize = [&](const PhotoHandling& handling) {
    const ImageHandle handle = LoadJpeg(jpeg, handling);
    EXPECT_EQ(ResizeImage(handle, 9, 6), 1);
    Bitmap pixels = PixelsOf(handle);
    FreeImage(handle);
    return pixels;
  };
  const Bitmap halfStored = halfSize({false, true, false});
  EXPECT_LE(LargestDeviation(halfSize(kConverted), halfStored, AdobeRgbToSrgb), 2);
  EXPECT_LE(LargestDeviation(Loaded(jpeg, kConverted, true), Loaded(jpeg, kCarried, true),
                             AdobeRgbToSrgb),
            2)
      << "deferred";
}

TEST_F(ColorProfileTest, ConvertedPixelsAreWrittenAndTheUneditedJpegIsNotCopiedFromItsCoefficients) {
  const std::string path = Tagged(PhotoLike(33, 17), "adobe.jpg", AdobeRgbProfile());
  const Bitmap stored = Loaded(path, kCarried);
  const Bitmap converted = Loaded(path, kConverted);
  ASSERT_GT(LargestDeviation(stored, stored, AdobeRgbToSrgb), 12);
  for (const std::string output : {"out.bmp", "out.png", "out.jpg"}) {
    SCOPED_TRACE(output);
    const ImageHandle handle = LoadImageFile(path, kConverted);
    const std::string target = folder.File(output);
    const std::int32_t saved = output.ends_with(".bmp")   ? SaveBmp(target, handle)
                               : output.ends_with(".png") ? SavePng(target, handle, 0)
                                                          : SaveJpeg(target, handle, 100, 0);
    EXPECT_EQ(saved, 1);
    FreeImage(handle);
    const Bitmap written = Loaded(target, kCarried);
    if (output.ends_with(".jpg")) {
      // Encoded again from the converted pixels, not copied from the stored coefficients.
      EXPECT_GT(Psnr(written, converted), Psnr(written, stored) + 6.0);
    } else {
      EXPECT_EQ(written.pixels, converted.pixels);
    }
  }
}

TEST_F(ColorProfileTest, SrgbAndUnusableProfilesLeaveThePixelsExactlyAsAnUntaggedFileHasThem) {
  const Bitmap photo = PhotoLike(23, 13);
  const Bytes adobe = AdobeRgbProfile();
  // Cut short, with the header's size field saying so, as the metadata check requires.
  Bytes cut(adobe.begin(), adobe.begin() + 200);
  cut = Patched(cut, 0, __builtin_bswap32(200), 4);
  Bytes wrongClass = adobe;  // "link": a device link converts nothing to sRGB
  std::copy_n("link", 4, wrongClass.begin() + 12);
  Bytes noTags = adobe;  // the tag count says nothing is there
  noTags = Patched(noTags, 128, 0, 4);
  const struct {
    const char* profile;
    Bytes icc;
  } kProfiles[] = {
      {"LittleCMS's sRGB", SrgbProfile()},
      {"sRGB with a sampled curve", SampledSrgbProfile()},
      {"Adobe RGB cut inside its tags", cut},
      {"Adobe RGB claiming to be a device link", wrongClass},
      {"Adobe RGB without tags", noTags},
      {"a grey profile on a colour photo", IccProfile(500, "GRAY")},
      {"a CMYK profile on an RGB photo", CmykPrintProfile(3)},
      {"header and one tag of noise", IccProfile(700, "RGB ")},
  };
  const std::string untagged = SaveImageFile(photo, folder.File("plain.png"));
  SaveBmp(folder.File("plain.bmp"), LoadImageFile(untagged, kConverted));
  for (const auto& row : kProfiles) {
    SCOPED_TRACE(row.profile);
    const Bytes& icc = row.icc;
    testing::internal::CaptureStderr();
    for (const char* name : {"tagged.png", "tagged.jpg"}) {
      const std::string path = Tagged(photo, name, icc);
      EXPECT_EQ(Loaded(path, kConverted).pixels, Loaded(path, kCarried).pixels) << name;
    }
    const std::string path = Tagged(photo, "tagged.png", icc);
    const ImageHandle handle = LoadImageFile(path, kConverted);
    EXPECT_EQ(SaveBmp(folder.File("tagged.bmp"), handle), 1);
    FreeImage(handle);
    EXPECT_EQ(ReadFileBytes(folder.File("tagged.bmp")), ReadFileBytes(folder.File("plain.bmp")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "LittleCMS stays silent";
  }
}

// An RGB profile of the primaries with one gamma curve, as LittleCMS writes it.
Bytes GammaProfile(const cmsCIExyYTRIPLE& primaries, double gamma) {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsUInt32Number size = 0;
  Bytes bytes;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

TEST(ColorTransformTest, MatrixShapersConvertEveryColourOfADenseCubeAsLittleCmsDoesWithinAStep) {
  // Sums that reach below 0 and above 1 in sRGB's linear light by different amounts; the
  // widest gamut has contributions beyond the tables' range.
  const struct {
    const char* profile;
    Bytes icc;
  } kProfiles[] = {
      {"Adobe RGB", AdobeRgbProfile()},
      {"Display P3 primaries, gamma 2.2",
       GammaProfile({{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}}, 2.2)},
      {"Rec. 2020 primaries, gamma 2.4",
       GammaProfile({{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}}, 2.4)},
      // Within half a step of sRGB's gamut everywhere: only the tone curve differs.
      {"sRGB primaries, gamma 2.6",
       GammaProfile({{0.640, 0.330, 1.0}, {0.300, 0.600, 1.0}, {0.150, 0.060, 1.0}}, 2.6)},
      {"near-sRGB primaries, gamma 1.8",
       GammaProfile({{0.640, 0.330, 1.0}, {0.290, 0.600, 1.0}, {0.150, 0.060, 1.0}}, 1.8)},
      {"ProPhoto-like primaries, gamma 1.8",
       GammaProfile({{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}}, 1.8)},
  };
  // Every fifth level of each channel, the top included: 52^3 colours.
  Bytes cube;
  for (int red = 0; red <= 255; red += 5) {
    for (int green = 0; green <= 255; green += 5) {
      for (int blue = 0; blue <= 255; blue += 5) {
        for (const int value : {red, green, blue}) cube.push_back(std::uint8_t(value));
      }
    }
  }
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  for (const auto& row : kProfiles) {
    SCOPED_TRACE(row.profile);
    ASSERT_FALSE(row.icc.empty());
    const std::shared_ptr<const ColorTransform> transform = TransformToSrgb(row.icc);
    ASSERT_NE(transform, nullptr);
    cmsHPROFILE source = cmsOpenProfileFromMem(row.icc.data(), cmsUInt32Number(row.icc.size()));
    cmsHTRANSFORM reference =
        cmsCreateTransform(source, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    ASSERT_NE(reference, nullptr);
    Bytes expected(cube.size());
    cmsDoTransform(reference, cube.data(), expected.data(), cmsUInt32Number(cube.size() / 3));
    cmsDeleteTransform(reference);
    cmsCloseProfile(source);
    // The reference must move the colours, or the row proves nothing.
    ASSERT_GT(LargestDeviationOf(expected, cube), 8);
    Bytes converted = cube;
    transform->ConvertRgb(converted.data(), converted.size() / 3);
    EXPECT_LE(LargestDeviationOf(converted, expected), 1);
    // Rounded to the nearest step, as LittleCMS rounds: no bias either way.
    EXPECT_LT(std::abs(MeanDeviationOf(converted, expected)), 0.2);
  }
  cmsCloseProfile(srgb);
}

TEST(ColorTransformTest, ProfilesDifferingOnlyInDateAndIdShareOneTransformAndNoOthers) {
  const Bytes adobe = AdobeRgbProfile();
  ASSERT_GE(adobe.size(), 128u);
  // Written a second later, with a profile ID: the date-time field (bytes 24 to 35) and the ID
  // (bytes 84 to 99) differ, nothing else.
  Bytes later = adobe;
  later[35] = std::uint8_t(later[35] ^ 0x01);
  std::fill_n(later.begin() + 84, 16, std::uint8_t{0x5A});
  // The same profile with its header's rendering intent changed (byte 67), and with a byte of its
  // tag data changed (the profile's last).
  Bytes intent = adobe;
  intent[67] = std::uint8_t(intent[67] ^ 0x01);
  Bytes tag = adobe;
  tag.back() = std::uint8_t(tag.back() ^ 0x40);
  const std::shared_ptr<const ColorTransform> first = TransformToSrgb(adobe);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TransformToSrgb(later).get(), first.get());
  const std::shared_ptr<const ColorTransform> other = TransformToSrgb(intent);
  EXPECT_NE(other.get(), first.get());
  EXPECT_NE(TransformToSrgb(tag).get(), first.get());
  // Met again after others, each profile finds its own transform, as a batch mixing them needs.
  EXPECT_EQ(TransformToSrgb(adobe).get(), first.get());
  EXPECT_EQ(TransformToSrgb(intent).get(), other.get());
}

// Workers of a batch meet more distinct profiles at once than are remembered: each still gets its
// own profile's transform while others are built and forgotten.
TEST(ColorTransformTest, WorkersMeetingManyProfilesAtOnceEachConvertThroughTheirOwn) {
  constexpr int kProfiles = 12;
  constexpr int kWorkers = 4;
  std::vector<Bytes> profiles;
  std::vector<std::array<std::uint8_t, 3>> expected;
  for (int i = 0; i < kProfiles; ++i) {
    profiles.push_back(AdobeRgbProfileWithGamma(1.6 + 0.1 * i));
    std::array<std::uint8_t, 3> pixel = {200, 90, 30};
    const std::shared_ptr<const ColorTransform> transform = TransformToSrgb(profiles.back());
    ASSERT_NE(transform, nullptr);
    transform->ConvertRgb(pixel.data(), 1);
    expected.push_back(pixel);
  }
  std::atomic<int> wrong = 0;
  std::vector<std::thread> workers;
  for (int worker = 0; worker < kWorkers; ++worker) {
    workers.emplace_back([&, worker] {
      for (int step = 0; step < 4 * kProfiles; ++step) {
        const auto i = static_cast<std::size_t>((step * (worker + 1) + worker) % kProfiles);
        std::array<std::uint8_t, 3> pixel = {200, 90, 30};
        const std::shared_ptr<const ColorTransform> transform = TransformToSrgb(profiles[i]);
        if (transform != nullptr) transform->ConvertRgb(pixel.data(), 1);
        if (transform == nullptr || pixel != expected[i]) ++wrong;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrong, 0);
}

TEST_F(ColorProfileTest, JpegRowsAreConvertedExactlyOnceEachAsTheyDecode) {
  // 37 × 45 pixels: two full batches of the decoder's rows and a part at full size, one and a
  // part at half size, one partial batch at 1/8.
  const Bitmap photo = PhotoLike(37, 45);
  const Bytes jpeg = ReadFileBytes(SaveImageFile(photo, folder.File("photo.jpg")));
  const std::shared_ptr<const ColorTransform> transform = TransformToSrgb(AdobeRgbProfile());
  ASSERT_NE(transform, nullptr);
  const auto convertedAfter = [&](Bitmap bitmap) {
    transform->ConvertRgb(bitmap.pixels.data(), bitmap.PixelCount());
    return bitmap;
  };
  for (const int denominator : {1, 2, 8}) {
    SCOPED_TRACE("1/" + std::to_string(denominator));
    const Result<Bitmap> plain = jpeg::Decode(jpeg, denominator);
    const Result<Bitmap> converted = jpeg::Decode(jpeg, denominator, transform.get());
    ASSERT_TRUE(plain && converted);
    EXPECT_EQ(converted->pixels, convertedAfter(*plain).pixels);
    EXPECT_NE(converted->pixels, plain->pixels);
  }
  Result<std::unique_ptr<jpeg::CoefficientImage>> coefficients = jpeg::CoefficientImage::Read(jpeg);
  ASSERT_TRUE(coefficients);
  const std::optional<Bitmap> fromCoefficients = (*coefficients)->Pixels(transform.get());
  ASSERT_TRUE(fromCoefficients.has_value());
  EXPECT_EQ(fromCoefficients->pixels, convertedAfter(*jpeg::Decode(jpeg)).pixels) << "coefficients";

  // A grey file's pixels stay grey: an RGB profile does not apply to them.
  Bytes greySamples(37 * 45);
  for (std::size_t i = 0; i < greySamples.size(); ++i) greySamples[i] = std::uint8_t(i * 7 % 251);
  const Bytes grey = LibjpegFile(37, 45, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, greySamples);
  EXPECT_EQ(jpeg::Decode(grey, 1, transform.get())->pixels, jpeg::Decode(grey)->pixels) << "grey";
}

TEST_F(ColorProfileTest, CmykJpegsGoThroughTheirProfileAndAdobesInvertedSamplesAreReadAsSuch) {
  // 37 × 19 pixels in 16-pixel patches of ink amounts (YCCK halves the chroma), so quality 100
  // keeps each patch's middle.
  const Bytes inks[] = {{0, 0, 0, 0},     {255, 0, 0, 0},   {0, 255, 0, 0},  {0, 0, 255, 0},
                        {200, 200, 0, 0}, {90, 160, 30, 40}, {0, 0, 0, 255}, {40, 120, 200, 20}};
  const auto inkAt = [&](int x, int y) {
    return inks[std::size_t(std::min(x / 16, 2) + (y / 16) * 3) % 8];
  };
  const Bytes profile = CmykPrintProfile(11);
  const struct {
    const char* layout;
    J_COLOR_SPACE stored;
    bool adobe;
  } kLayouts[] = {{"plain CMYK", JCS_CMYK, false},
                  {"Adobe CMYK, inverted", JCS_CMYK, true},
                  {"Adobe YCCK, inverted", JCS_YCCK, true}};
  for (const auto& layout : kLayouts) {
    SCOPED_TRACE(layout.layout);
    Bytes samples;
    for (int y = 0; y < 19; ++y) {
      for (int x = 0; x < 37; ++x) {
        for (const std::uint8_t ink : inkAt(x, y))
          samples.push_back(layout.adobe ? std::uint8_t(255 - ink) : ink);
      }
    }
    const Bytes plain = LibjpegFile(37, 19, 4, JCS_CMYK, layout.stored, layout.adobe, samples);
    WriteFileBytes(folder.File("cmyk.jpg"), WithSegments(plain, CameraSegments({}, {}, profile, 30000)));
    WriteFileBytes(folder.File("untagged.jpg"), plain);
    // Whatever the output: no output carries a CMYK profile.
    for (const PhotoHandling& handling : {kCarried, kConverted}) {
      const Bitmap converted = Loaded(folder.File("cmyk.jpg"), handling);
      const Bitmap formula = Loaded(folder.File("untagged.jpg"), handling);
      int largest = 0, fromFormula = 0;
      for (const auto& [x, y] : {std::pair{7, 7}, {23, 8}, {35, 6}, {7, 17}, {24, 18}, {35, 17}}) {
        const Bytes& ink = inkAt(x, y);
        const Rgb want = CmykPrintModel(ink[0] / 255.0, ink[1] / 255.0, ink[2] / 255.0, ink[3] / 255.0);
        const Rgb got = PixelAt(converted, x, y);
        const Rgb plainFormula = PixelAt(formula, x, y);
        largest = std::max({largest, std::abs(got.red - want.red), std::abs(got.green - want.green),
                            std::abs(got.blue - want.blue)});
        fromFormula = std::max({fromFormula, std::abs(plainFormula.green - want.green),
                                std::abs(plainFormula.blue - want.blue)});
      }
      EXPECT_LE(largest, 4);
      EXPECT_GE(fromFormula, 20) << "the formula would not pass for the profile";
    }
  }
}

}  // namespace
