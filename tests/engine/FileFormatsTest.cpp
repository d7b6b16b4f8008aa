// The format table against the kinds the imaging library tells apart and the files that offer the
// program to the desktop.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine/FileFormats.h"
#include "imaging/FileKind.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;

std::vector<std::string> Words(std::string_view text, char separator) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

TEST(FileFormatsTest, EveryProbedKindHasARowThatConvertsExactlyWhenItLoads) {
  const auto signatures = imaging::FileKindSignatures();
  EXPECT_EQ(InputFormats().size(), signatures.size() + 1) << "one row each, and not recognised";
  for (const imaging::FileKindSignature& signature : signatures) {
    const InputFormat& format = InputFormatOf(signature.kind);
    SCOPED_TRACE(std::string(format.kindText));
    EXPECT_EQ(format.kind, signature.kind) << "no row";
    EXPECT_EQ(format.Converts(), signature.loads);
    EXPECT_EQ(format.refusal.empty(), format.Converts());
    EXPECT_EQ(format.mimeType.empty(), !format.Converts());
    // The dialog offers the row's extensions, and only the rows that convert.
    const std::vector<std::string> patterns = Words(format.dialogPatterns, ';');
    EXPECT_EQ(patterns.empty(), !format.Converts());
    for (const std::string& extension : Words(format.extensions, ' ')) {
      const std::string name = "photo." + extension;
      EXPECT_TRUE(std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
      })) << name;
    }
  }
}

TEST(FileFormatsTest, DesktopEntryAndMetadataOfferTheKindsThatConvert) {
  std::string expected;
  for (const std::string& type : ConvertibleMimeTypes()) expected += type + ";";
  const std::string desktop =
      testsupport::ReadFileText(TESSELLARION_SOURCE_DIR "/app/tessellarion.desktop");
  EXPECT_NE(desktop.find("\nMimeType=" + expected + "\n"), std::string::npos);

  const std::string metainfo = testsupport::ReadFileText(
      TESSELLARION_SOURCE_DIR "/packaging/com.example.tessellarion.metainfo.xml");
  std::string listed;
  const std::regex mediatype("<mediatype>([^<]*)</mediatype>");
  for (auto match = std::sregex_iterator(metainfo.begin(), metainfo.end(), mediatype);
       match != std::sregex_iterator(); ++match) {
    listed += (*match)[1].str() + ";";
  }
  EXPECT_EQ(listed, expected);
}

}  // namespace
