// The table-art page: its bytes, its size, and its failures.
#include <gtest/gtest.h>

#include "engine/Converter.h"
#include "engine/ProcessState.h"
#include "engine/TableArt.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;

// Bytes on disk: four header pieces, each row 12 bytes plus 30 per cell, the closing piece.
constexpr std::uint64_t kHeaderBytes = 404;
constexpr std::uint64_t kClosingBytes = 39;
std::uint64_t PageBytes(std::uint64_t rows, std::uint64_t columns) {
  return kHeaderBytes + rows * (12 + 30 * columns) + kClosingBytes;
}

std::string ColorText(std::uint32_t value) {
  const auto text = CellColorText(value);
  return std::string(text.data(), text.size());
}

TEST(CellColorTextTest, ReordersTheHexadecimalValueIntoAnHtmlColour) {
  EXPECT_EQ(ColorText(0x0000FF), "ff0000") << "pure red";
  EXPECT_EQ(ColorText(0xFF8000), "0080ff") << "red 0, green 128, blue 255";
  EXPECT_EQ(ColorText(0), "000000");
  EXPECT_EQ(ColorText(0x12345678), "563412") << "only the first 6 of 8 digits count";
  EXPECT_EQ(ColorText(0x00000A), "0a0000");
}

class TableArtTest : public testsupport::FormFixture {
 protected:
  int Write(const std::string& input, const std::string& output) {
    Converter converter;
    return converter.TableArtWriter(output, input);
  }
};

TEST_F(TableArtTest, OnePureRedPixelGivesTheGoldenPage) {
  imaging::Bitmap red = *imaging::MakeBitmap(1, 1);
  testsupport::SetPixel(red, 0, 0, testsupport::kRed);
  const std::string input = SaveImage(red, "red.png");
  EXPECT_EQ(Write(input, folder.File("red.htm")), 1);
  EXPECT_EQ(
      testsupport::ReadFileText(folder.File("red.htm")),
      testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/tableart-1x1-red.htm"));
}

TEST_F(TableArtTest, TheTableTakesTheSizeMeasuredAfterThePipeline) {
  const std::string input = SaveImage(testsupport::LetterF(), "f.bmp");
  const auto pageSize = [&] {
    EXPECT_EQ(Write(input, folder.File("f.htm")), 1);
    return testsupport::ReadFileText(folder.File("f.htm")).size();
  };
  Converter converter;
  // Resizing off but a stale size stored: the page still shows the image as converted.
  converter.SetResize(0, 999, 999);
  EXPECT_EQ(pageSize(), PageBytes(5, 6));
  converter.SetResize(1, 640, 480);
  EXPECT_EQ(pageSize(), PageBytes(480, 640));
  converter.SetResize(0, 0, 0);
  converter.SetRotation(18);  // 90°: 6 × 5 becomes 5 × 6
  EXPECT_EQ(pageSize(), PageBytes(6, 5));
}

TEST_F(TableArtTest, ACropThatYieldsNothingWritesAnEmptyTable) {
  const std::string input = SaveImage(testsupport::LetterF(), "f.bmp");
  Converter converter;
  converter.SetCrop(1, 50, 50, 10, 10);
  EXPECT_EQ(Write(input, folder.File("empty.htm")), 1);
  EXPECT_EQ(testsupport::ReadFileText(folder.File("empty.htm")).size(), PageBytes(0, 0));
  EXPECT_EQ(Engine().LastOutputWidth, 0);
  EXPECT_TRUE(shell.messages.empty());
}

TEST_F(TableArtTest, FailuresWriteNothing) {
  const std::string input = SaveImage(testsupport::LetterF(), "f.bmp");
  EXPECT_EQ(Write(input, folder.File("no/such/folder/f.htm")), 0);
  EXPECT_EQ(shell.messages, (std::vector<std::string>{"オープン失敗"}));

  testsupport::WriteFileText(folder.File("old.htm"), "earlier page");
  testsupport::WriteFileText(folder.File("text.bmp"), "not an image");
  EXPECT_EQ(Write(folder.File("text.bmp"), folder.File("old.htm")), 0);
  EXPECT_EQ(testsupport::ReadFileText(folder.File("old.htm")), "earlier page");
  EXPECT_EQ(shell.messages.size(), 1u) << "a load failure is silent";
}

}  // namespace
