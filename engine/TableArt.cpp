// The table-art page: an HTML table with one 1 × 1-pixel cell per pixel, coloured through bgcolor.
#include "engine/TableArt.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "engine/Converter.h"
#include "engine/ProcessState.h"
#include "imaging/Imaging.h"
#include "platform/AtomicFile.h"
#include "platform/Shell.h"
#include "platform/TextFile.h"

namespace engine {
namespace {

// The page's fixed pieces. They are written in text mode: every "\n" is stored as CR LF.
constexpr std::string_view kHead1 =
    "<head> \n <META http-equiv=\"Content-Style-Type\" content=\"text/css\"> \n <META "
    "http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\"> \n";
constexpr std::string_view kHead2 =
    "<title>Tessellarion Ver1.02 for TableArt</title> \n <style type=\"text/css\"> \n";
constexpr std::string_view kHead3 =
    "<!-- \n td{ width:1px;height:1px;line-height:1px;font-size:1px; } \n --> \n";
constexpr std::string_view kHead4 =
    "</style> \n </head> \n <body> \n <table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" "
    "summary=\"Table Art\"> \n";
constexpr std::string_view kRowStart = "<tr>";
constexpr std::string_view kCellStart = "<td bgcolor=\"#";
constexpr std::string_view kCellEnd = "\"></td> \r\n";  // "\"></td> \n" as stored
constexpr std::string_view kRowEnd = "</tr> \n";
constexpr std::string_view kClosing = "</table> \n </HEAD><BODY></BODY></HTML>";

bool WriteAll(std::FILE* out, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace

std::array<char, 6> CellColorText(std::uint32_t pixelValue) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char hex[8];
  int length = 0;
  // Most significant digit first, without leading zeros ("0" for zero).
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (pixelValue >> shift) & 0xF;
    if (digit != 0 || length > 0 || shift == 0) hex[length++] = kDigits[digit];
  }
  std::array<char, 6> text{};
  const int padding = length < 6 ? 6 - length : 0;
  for (int i = 0; i < 6; ++i)
    text[static_cast<std::size_t>(i)] = i < padding ? '0' : hex[i - padding];
  std::swap(text[0], text[4]);
  std::swap(text[1], text[5]);
  return text;
}

int Converter::TableArtWriter(const std::string& outputPath, const std::string& inputPath) {
  EngineState& engine = Engine();
  engine.CurrentImage = imaging::LoadImageFile(inputPath);
  if (engine.CurrentImage == 0) return 0;
  RunPipeline();

  // The table always takes the size measured after the pipeline, so the page shows exactly the
  // converted image, whatever was shown last in the information fields.
  const int rows = engine.LastOutputHeight;
  const int columns = engine.LastOutputWidth;

  platform::AtomicFileWriter writer(outputPath);
  if (writer.Stream() == nullptr) {
    platform::MessageBox("オープン失敗");
    imaging::FreeImage(engine.CurrentImage);
    engine.CurrentImage = 0;
    return 0;
  }

  std::string buffer;
  for (std::string_view piece : {kHead1, kHead2, kHead3, kHead4}) {
    platform::AppendWithCrLf(buffer, piece);
  }
  bool written = WriteAll(writer.Stream(), buffer);
  // One row at a time: the page of a large image is never held whole in memory.
  for (int y = 0; written && y < rows; ++y) {
    buffer.clear();
    buffer.append(kRowStart);
    for (int x = 0; x < columns; ++x) {
      const std::array<char, 6> color =
          CellColorText(imaging::ReadPixelColor(engine.CurrentImage, x, y));
      buffer.append(kCellStart);
      buffer.append(color.data(), color.size());
      buffer.append(kCellEnd);
    }
    platform::AppendWithCrLf(buffer, kRowEnd);
    written = WriteAll(writer.Stream(), buffer);
  }
  buffer.clear();
  platform::AppendWithCrLf(buffer, kClosing);
  written = written && WriteAll(writer.Stream(), buffer) && writer.Commit();

  imaging::FreeImage(engine.CurrentImage);
  engine.CurrentImage = 0;
  return written ? 1 : 0;
}

}  // namespace engine
