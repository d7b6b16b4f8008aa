// Replays the fuzzing seeds and every stored finding through the fuzz targets' own bodies, so a
// fixed fault stays fixed without a fuzzer build.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/FuzzTargets.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(FuzzReplayTest, EveryStoredInputPassesItsTarget) {
  using Body = bool (*)(std::span<const std::uint8_t>);
  const std::pair<const char*, Body> targets[] = {
      {"fuzz_bmp_roundtrip", fuzztargets::BmpRoundTrip},
      {"fuzz_load_image", fuzztargets::LoadImage},
      {"fuzz_probe_file_kind", fuzztargets::ProbeFileKind},
      {"fuzz_settings_file", fuzztargets::LoadSettingsFile},
      {"fuzz_file_name", fuzztargets::FileNameParts},
      {"fuzz_photo_metadata", fuzztargets::PhotoMetadata},
      {"fuzz_heif_webp", fuzztargets::DecodeHeifWebp},
      {"fuzz_color_profile", fuzztargets::ColorProfile}};
  for (const auto& [target, body] : targets) {
    std::size_t count = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      const std::filesystem::path folder =
          std::filesystem::path(TESSELLARION_FUZZ_FOLDER) / kind / target;
      if (!std::filesystem::is_directory(folder)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".")) continue;  // .gitkeep
        EXPECT_TRUE(body(testsupport::ReadFileBytes(entry.path().string()))) << entry.path();
        ++count;
      }
    }
    EXPECT_GT(count, 0u) << "no stored inputs for " << target;
  }
}

}  // namespace
