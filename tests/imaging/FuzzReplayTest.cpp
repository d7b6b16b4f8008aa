// Replays the fuzzing seeds and every stored finding through the fuzz targets' own bodies, so a
// fixed fault stays fixed without a fuzzer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fuzz/FuzzTargets.h"
#include "imaging/BmpCodec.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzFolder = TESSELLARION_FUZZ_FOLDER;

// The files under fuzz/<kind>/<target>/, sorted; names starting with a dot are skipped.
std::vector<fs::path> StoredInputs(const std::string& kind, const std::string& target) {
  std::vector<fs::path> files;
  const fs::path folder = kFuzzFolder / kind / target;
  if (!fs::is_directory(folder)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzReplayTest, EveryStoredInputPassesBothTargets) {
  std::size_t count = 0;
  for (const char* kind : {"seeds", "regressions"}) {
    for (const char* target : {"fuzz_bmp_roundtrip", "fuzz_load_image"}) {
      for (const fs::path& file : StoredInputs(kind, target)) {
        const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(file.string());
        EXPECT_TRUE(fuzztargets::BmpRoundTrip(bytes)) << file;
        EXPECT_TRUE(fuzztargets::LoadImage(bytes)) << file;
        ++count;
      }
    }
  }
  EXPECT_GT(count, 0u) << "no stored inputs under " << kFuzzFolder;
}

TEST(FuzzReplayTest, EveryStoredInputPassesTheProbeSettingsAndFileNameTargets) {
  using Body = bool (*)(std::span<const std::uint8_t>);
  const std::pair<const char*, Body> targets[] = {
      {"fuzz_probe_file_kind", fuzztargets::ProbeFileKind},
      {"fuzz_settings_file", fuzztargets::LoadSettingsFile},
      {"fuzz_file_name", fuzztargets::FileNameParts}};
  for (const auto& [target, body] : targets) {
    std::size_t count = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      for (const fs::path& file : StoredInputs(kind, target)) {
        EXPECT_TRUE(body(testsupport::ReadFileBytes(file.string()))) << file;
        ++count;
      }
    }
    EXPECT_GT(count, 0u) << "no stored inputs for " << target;
  }
}

TEST(FuzzReplayTest, BmpSeedsAllDecode) {
  // A seed that no longer decodes would only exercise the early refusals.
  const std::vector<fs::path> seeds = StoredInputs("seeds", "fuzz_bmp_roundtrip");
  EXPECT_GE(seeds.size(), 10u);
  for (const fs::path& file : seeds) {
    EXPECT_TRUE(imaging::bmp::Decode(testsupport::ReadFileBytes(file.string()))) << file;
  }
}

}  // namespace
