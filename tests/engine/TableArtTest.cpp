// The table-art page: its cell colours, its size, and its failures. Its bytes are compared with the
// golden page where the command line writes it (tests/cli/CliTest.cpp).
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "engine/ControlIds.h"
#include "engine/Conversion.h"
#include "engine/Converter.h"
#include "engine/Session.h"
#include "engine/TableArt.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using Page = std::variant<std::size_t, std::string>;  // the page's size, or why none was written

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
  // Writes the page for `input` as a batch entry does and hands back its size, or the reason no
  // page was written.
  Page PageSize(const std::string& input, const std::string& output) {
    Session().Job.OutputKind = 0;  // table art
    const ConversionResult result = ConvertFile(JobSnapshot::Of(Session()), imaging::kFileKindBmp,
                                                input, output, Session().Engine);
    if (!result.written) return (result.openFailed ? "open failed: " : "") + result.reason;
    return testsupport::ReadFileText(output).size();
  }
};

TEST_F(TableArtTest, TheTableTakesTheSizeMeasuredAfterThePipelineAndFailuresWriteNothing) {
  const std::string input = SaveImage(testsupport::LetterF(), "f.bmp");
  const std::string page = folder.File("f.htm");
  Converter converter(Session());
  // Resizing off but a stale size stored: the page still shows the image as converted.
  converter.SetResize(0, 999, 999);
  EXPECT_EQ(PageSize(input, page), Page{PageBytes(5, 6)});
  converter.SetRotation(18);  // 90°: 6 × 5 becomes 5 × 6
  EXPECT_EQ(PageSize(input, page), Page{PageBytes(6, 5)});
  // Proportions kept: 5 × 6 fitted into 12 × 20 is 12 × 14 (14.4), not the box.
  Session().Photo.KeepAspect = 1;
  converter.SetResize(1, 12, 20);
  EXPECT_EQ(PageSize(input, page), Page{PageBytes(14, 12)});
  Session().Photo.KeepAspect = 0;
  converter.SetResize(0, 999, 999);
  // A crop that yields nothing writes an empty table, without a message.
  converter.SetCrop(1, 50, 50, 10, 10);
  EXPECT_EQ(PageSize(input, page), Page{PageBytes(0, 0)});
  EXPECT_EQ(Session().Engine.LastOutputWidth, 0);
  EXPECT_TRUE(shell.messages.empty());

  // A page that cannot be opened is told apart from an input that does not load, which leaves the
  // old page; each has its reason.
  EXPECT_EQ(PageSize(input, folder.File("no/such/folder/f.htm")),
            (Page{"open failed: the folder does not exist"}));
  testsupport::WriteFileText(folder.File("text.bmp"), "not an image");
  EXPECT_EQ(PageSize(folder.File("text.bmp"), page),
            (Page{"not an image of a kind that converts"}));
  EXPECT_EQ(testsupport::ReadFileText(page).size(), PageBytes(0, 0));
}

}  // namespace
