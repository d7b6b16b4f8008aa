// The table-art page: its cell colours, its size, and its failures. Its bytes are compared with the
// golden page where the command line writes it (tests/cli/CliTest.cpp).
#include <gtest/gtest.h>

#include "engine/Converter.h"
#include "engine/Session.h"
#include "engine/TableArt.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;

// Bytes on disk: four header pieces, each row 12 bytes plus 30 per cell, the closing piece.
std::uint64_t PageBytes(std::uint64_t rows, std::uint64_t columns) {
  return 404 + rows * (12 + 30 * columns) + 39;
}

TEST(CellColorTextTest, OnlyTheLowSixDigitsCount) {
  // Digits out of order change the golden page; a stray high byte would not.
  const auto cell = CellColorText(0x12345678u);
  EXPECT_EQ(std::string(cell.data(), cell.size()), "563412");
}

class TableArtTest : public testsupport::FormFixture {
 protected:
  // Writes the page for `input` and hands back its size, or nothing when no page was written.
  std::optional<std::size_t> PageSize(const std::string& input, const std::string& output) {
    if (Converter(Session()).TableArtWriter(output, input) != 1) return std::nullopt;
    return testsupport::ReadFileText(output).size();
  }
};

TEST_F(TableArtTest, TheTableTakesTheSizeMeasuredAfterThePipelineAndFailuresWriteNothing) {
  const std::string input = SaveImage(testsupport::LetterF(), "f.bmp");
  const std::string page = folder.File("f.htm");
  Converter converter(Session());
  // Resizing off but a stale size stored: the page still shows the image as converted.
  converter.SetResize(0, 999, 999);
  EXPECT_EQ(PageSize(input, page), PageBytes(5, 6));
  converter.SetRotation(18);  // 90°: 6 × 5 becomes 5 × 6
  EXPECT_EQ(PageSize(input, page), PageBytes(6, 5));
  // A crop that yields nothing writes an empty table, without a message.
  converter.SetCrop(1, 50, 50, 10, 10);
  EXPECT_EQ(PageSize(input, page), PageBytes(0, 0));
  EXPECT_EQ(Session().Engine.LastOutputWidth, 0);
  EXPECT_TRUE(shell.messages.empty());

  // A page that cannot be opened is reported; an input that does not load leaves the old page.
  EXPECT_FALSE(PageSize(input, folder.File("no/such/folder/f.htm")));
  testsupport::WriteFileText(folder.File("text.bmp"), "not an image");
  EXPECT_FALSE(PageSize(folder.File("text.bmp"), page));
  EXPECT_EQ(testsupport::ReadFileText(page).size(), PageBytes(0, 0));
  EXPECT_EQ(shell.messages, (std::vector<std::string>{"オープン失敗"}))
      << "a load failure is silent";
}

}  // namespace
