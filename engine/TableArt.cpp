// The table-art page: an HTML table with one 1 × 1-pixel cell per pixel, coloured through bgcolor.
#include "engine/TableArt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "engine/Converter.h"
#include "engine/Pipeline.h"
#include "engine/Session.h"
#include "imaging/Imaging.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
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

// CellColorText for a pixel's value (at most 0xFFFFFF), written straight to `out`: its 6 digits
// read blue, green, red, and the exchanges turn them into red, green, blue, so each character is
// one nibble. A page holds one per pixel; writing them where they go, one at a time, spares the
// processor reading back a text it has just built.
void PutPixelColor(std::uint32_t pixelValue, char* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out[0] = kDigits[(pixelValue >> 4) & 0xF];
  out[1] = kDigits[pixelValue & 0xF];
  out[2] = kDigits[(pixelValue >> 12) & 0xF];
  out[3] = kDigits[(pixelValue >> 8) & 0xF];
  out[4] = kDigits[(pixelValue >> 20) & 0xF];
  out[5] = kDigits[(pixelValue >> 16) & 0xF];
}

}  // namespace

std::array<char, 6> CellColorText(std::uint32_t pixelValue) {
  std::array<char, 6> text{};
  if (pixelValue <= 0xFFFFFF) {
    PutPixelColor(pixelValue, text.data());
    return text;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  char hex[8];
  int length = 0;
  // Most significant digit first, without leading zeros ("0" for zero).
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (pixelValue >> shift) & 0xF;
    if (digit != 0 || length > 0 || shift == 0) hex[length++] = kDigits[digit];
  }
  const int padding = length < 6 ? 6 - length : 0;
  for (int i = 0; i < 6; ++i)
    text[static_cast<std::size_t>(i)] = i < padding ? '0' : hex[i - padding];
  std::swap(text[0], text[4]);
  std::swap(text[1], text[5]);
  return text;
}

TableArtOutcome WriteTableArtOn(const ConverterOptions& options, const PhotoOptions& photo,
                                EngineState& state, const std::string& outputPath,
                                const std::string& inputPath, std::string& failureReason) {
  // HTML colours are sRGB: a page carries no profile.
  state.CurrentImage = imaging::LoadImageFile(inputPath, PhotoHandlingOf(photo, false));
  if (state.CurrentImage == 0) {
    failureReason = imaging::FailureReason();
    return TableArtOutcome::kNotLoaded;
  }
  RunPipelineOn(options, photo, state);
  // An edit that failed leaves no image: an empty table would pass for the converted page.
  if (state.EditFailed) {
    failureReason = imaging::FailureReason();
    return TableArtOutcome::kNotLoaded;
  }

  // The table always takes the size measured after the pipeline, so the page shows exactly the
  // converted image, whatever was shown last in the information fields.
  const int rows = state.LastOutputHeight;
  const int columns = state.LastOutputWidth;

  platform::AtomicFileWriter writer(outputPath);
  if (writer.Stream() == nullptr) {
    imaging::FreeImage(state.CurrentImage);
    state.CurrentImage = 0;
    failureReason = writer.FailureReason();
    return TableArtOutcome::kOpenFailed;
  }

  std::string buffer;
  errno = 0;
  for (std::string_view piece : {kHead1, kHead2, kHead3, kHead4}) {
    platform::AppendWithCrLf(buffer, piece);
  }
  bool written = WriteAll(writer.Stream(), buffer);
  buffer.clear();
  // Row by row into a buffer handed to the file whenever it passes kFlushBytes: the page of a
  // large image is never held whole in memory, and the file gets a few large writes. Each cell is
  // the same text but for its colour, so it is copied whole and the colour put in place.
  constexpr std::size_t kFlushBytes = std::size_t{1} << 20;
  constexpr std::size_t kColorBytes = 6;
  constexpr std::size_t kCellBytes = kCellStart.size() + kColorBytes + kCellEnd.size();
  std::array<char, kCellBytes> cell{};
  std::memcpy(cell.data(), kCellStart.data(), kCellStart.size());
  std::memcpy(cell.data() + kCellStart.size() + kColorBytes, kCellEnd.data(), kCellEnd.size());
  for (int y = 0; written && y < rows; ++y) {
    buffer.append(kRowStart);
    const std::size_t cellsStart = buffer.size();
    buffer.resize(cellsStart + kCellBytes * static_cast<std::size_t>(columns));
    char* out = buffer.data() + cellsStart;
    for (int x = 0; x < columns; ++x, out += kCellBytes) {
      std::memcpy(out, cell.data(), kCellBytes);
      // ReadPixelColor gives at most 0xFFFFFF.
      PutPixelColor(imaging::ReadPixelColor(state.CurrentImage, x, y), out + kCellStart.size());
    }
    platform::AppendWithCrLf(buffer, kRowEnd);
    if (buffer.size() >= kFlushBytes) {
      written = WriteAll(writer.Stream(), buffer);
      buffer.clear();
    }
  }
  if (written) platform::AppendWithCrLf(buffer, kClosing);
  written = written && WriteAll(writer.Stream(), buffer);
  // A page that a full disk stops part-way, or that cannot be put in place at the final step (a
  // folder under its name, a name too long), has not been written, as surely as one that could not
  // be opened, and shows the same.
  TableArtOutcome outcome = TableArtOutcome::kWritten;
  if (!written) {
    outcome = TableArtOutcome::kOpenFailed;
    failureReason = platform::FileErrorText(errno);
  } else if (!writer.Commit()) {
    outcome = TableArtOutcome::kOpenFailed;
    failureReason = writer.FailureReason();
  }

  imaging::FreeImage(state.CurrentImage);
  state.CurrentImage = 0;
  return outcome;
}

}  // namespace engine
