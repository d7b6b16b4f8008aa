// Shared helpers for the tests: temporary folders, small asymmetric images, file bytes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Failure.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it when the object
// goes away. Path() ends with "/".
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }
  // Names of the entries in the folder, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

inline constexpr imaging::Rgb kRed{255, 0, 0};
inline constexpr imaging::Rgb kBlue{0, 0, 255};

// A bitmap whose pixel (x, y) has the colour given for it.
imaging::Bitmap Painted(int width, int height,
                        const std::function<imaging::Rgb(int x, int y)>& color);
// A bitmap drawn row by row, red where a row says 'R' and blue elsewhere.
imaging::Bitmap Drawn(const std::vector<std::string>& rows);

// A 6 × 5 image: a red "F" on blue. Its odd width catches BMP row padding, its asymmetry catches
// flips and turns, and red on blue catches swapped channels.
//   R R R R B B
//   R B B B B B
//   R R R B B B
//   R B B B B B
//   R B B B B B
imaging::Bitmap LetterF();

// A 3 × 2 image of six colours whose hexadecimal digits all differ within each row: 123456 789abc
// def00f on top, ff0000 0080ff 010203 below (red, green, blue).
imaging::Bitmap SixColours();

// A smooth, photo-like image with every channel varying, deterministic for a given size.
imaging::Bitmap PhotoLike(int width, int height);

// The colour at (x, y) of a 24-bit bitmap.
imaging::Rgb PixelAt(const imaging::Bitmap& bitmap, int x, int y);
void SetPixel(imaging::Bitmap& bitmap, int x, int y, imaging::Rgb color);

// The colours of a bitmap's pixels, row by row from the top; none without a bitmap.
std::vector<imaging::Rgb> ColorsOf(const imaging::Bitmap& bitmap);
std::vector<imaging::Rgb> ColorsOf(const std::optional<imaging::Bitmap>& bitmap);
std::vector<imaging::Rgb> ColorsOf(const imaging::Result<imaging::Bitmap>& decoded);

// Peak signal-to-noise ratio of two bitmaps of equal size, in dB (infinity when equal).
double Psnr(const imaging::Bitmap& first, const imaging::Bitmap& second);

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
// Names of the entries in a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& path);

// How long a test waits for what ends within moments when the program works: far beyond a slow,
// sanitized build on a busy machine, far below ctest's own timeout, so that a program that hangs
// fails the test at once with a message saying what never happened.
inline constexpr std::chrono::seconds kHangLimit{60};
// Waits for the child process to end: its wait status. Past kHangLimit the child is killed, the
// test fails naming `what`, and the result is -1.
int WaitForExit(pid_t child, const std::string& what);
// Asks `done` every millisecond until it answers true: false, and a failure naming `what`, when it
// has not within kHangLimit.
bool WaitUntil(const std::function<bool()>& done, const std::string& what);
// Runs `work` on a thread of its own and waits for its end. A thread cannot be stopped, so past
// kHangLimit the test program ends with a message naming `what`.
void RunWithinLimit(const std::function<void()>& work, const std::string& what);
// A shell command run as std::system runs it, its status as std::system gives it, but ended after
// kHangLimit, which fails the test naming the command.
int SystemWithinLimit(const std::string& command);

// Arms an alarm that ends this test program after `seconds`, writing `message` to standard error:
// for tests whose waits lie inside the program, where no bounded wait of the test's own can go.
void EndTheProgramAfter(unsigned seconds, const char* message);

// Writes a bitmap through the imaging library as JPEG (quality 95, progressive when asked), PNG
// (interlaced when asked) or BMP, chosen by the path's extension, and hands the path back.
std::string SaveImageFile(const imaging::Bitmap& bitmap, const std::string& path,
                          bool progressive = false);
// A pixel, and all the pixels, of an image the library holds, read through ReadPixelColor.
imaging::Rgb PixelOf(std::uint32_t handle, int x, int y);
imaging::Bitmap PixelsOf(std::uint32_t handle);
// Width and height of an image file as the imaging library loads it; {0, 0} when it does not load.
std::pair<int, int> ImageSizeOf(const std::string& path);

// The colour of pixel (x, y) of an image file as the imaging library loads it; black when it does
// not load.
imaging::Rgb PixelOfFile(const std::string& path, int x, int y);
// A little-endian field of `size` bytes at `offset` of a file's bytes.
std::uint32_t FileField(const std::string& path, std::size_t offset, int size);

// The first luminance quantiser of a JPEG file: 16 scaled by libjpeg's quality factor (13 at
// quality 60, 3 at 90).
std::uint32_t JpegFirstQuantiser(const std::string& path);

// Appends the `byteCount` low bytes of the value, least significant first unless `bigEndian`: for
// building file headers by hand.
void PutBytes(std::vector<std::uint8_t>& out, std::uint32_t value, int byteCount = 4,
              bool bigEndian = false);

// The bytes with the `byteCount` bytes from `at` set to the value, least significant first.
std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> bytes, std::size_t at,
                                  std::uint32_t value, int byteCount = 4);

// A BMP put together field by field. Masks go inside headers of 52 bytes and more, after a
// 40-byte header otherwise; the pixel offset points right after the palette.
struct BmpParts {
  std::uint32_t headerSize;
  std::int32_t width, height;
  std::uint16_t bitCount;
  std::uint32_t compression, colorsUsed;
  std::vector<std::uint8_t> palette;  // BGR0 entries (BGR for the 12-byte header)
  std::vector<std::uint32_t> masks;
  std::vector<std::uint8_t> data;
};
std::vector<std::uint8_t> BmpFile(const BmpParts& parts);
// Four BGR0 palette entries: 0 white, 1 red, 2 green, 3 blue.
inline const std::vector<std::uint8_t> kBmpPalette = {255, 255, 255, 0, 0,   0, 255, 0,
                                                      0,   255, 0,   0, 255, 0, 0,   0};

}  // namespace testsupport
