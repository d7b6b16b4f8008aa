#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <numeric>
#include <regex>
#include <stdexcept>
#include <thread>

#include "imaging/HandleTable.h"
#include "imaging/Imaging.h"

namespace testsupport {

TempFolder::TempFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tessellarion-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Entries() const { return FolderEntries(path_); }

namespace {
const char* alarmMessage = "";
extern "C" void OnAlarm(int) {
  [[maybe_unused]] const ssize_t written = write(2, alarmMessage, std::strlen(alarmMessage));
  _exit(1);
}
}  // namespace

void EndTheProgramAfter(unsigned seconds, const char* message) {
  alarmMessage = message;
  struct sigaction action {};
  action.sa_handler = OnAlarm;
  sigaction(SIGALRM, &action, nullptr);
  alarm(seconds);
}

int WaitForExit(pid_t child, const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) return status;
    if (ended < 0) {
      ADD_FAILURE() << what << ": no such child to wait for";
      return -1;
    }
    usleep(1000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ADD_FAILURE() << what << ": still running after " << kHangLimit.count() << " s, killed";
  return -1;
}

bool WaitUntil(const std::function<bool()>& done, const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << what << ": not within " << kHangLimit.count() << " s";
      return false;
    }
    usleep(1000);
  }
  return true;
}

void RunWithinLimit(const std::function<void()>& work, const std::string& what) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::thread worker([&] {
    work();
    const std::lock_guard lock(mutex);
    done = true;
    ended.notify_one();
  });
  std::unique_lock lock(mutex);
  if (!ended.wait_for(lock, kHangLimit, [&] { return done; })) {
    std::fprintf(stderr, "%s: not ended after %lld s; the test program stops here\n", what.c_str(),
                 static_cast<long long>(kHangLimit.count()));
    std::fflush(stderr);
    _exit(1);
  }
  lock.unlock();
  worker.join();
}

int SystemWithinLimit(const std::string& command) {
  // timeout(1) sends SIGTERM at the limit, SIGKILL five seconds later, and exits with 124 or 137.
  const int status =
      std::system(("timeout -k 5 " + std::to_string(kHangLimit.count()) + " sh -c '" +
                   std::regex_replace(command, std::regex("'"), "'\\''") + "'")
                      .c_str());
  const bool killed =
      WIFEXITED(status) && (WEXITSTATUS(status) == 124 || WEXITSTATUS(status) == 137);
  if (killed) ADD_FAILURE() << command << ": still running after " << kHangLimit.count() << " s";
  return status;
}

imaging::Bitmap Painted(int width, int height, const std::function<imaging::Rgb(int, int)>& color) {
  imaging::Bitmap bitmap = *imaging::MakeBitmap(width, height);
  for (int pixel = 0; pixel < width * height; ++pixel) {
    SetPixel(bitmap, pixel % width, pixel / width, color(pixel % width, pixel / width));
  }
  return bitmap;
}

imaging::Bitmap Drawn(const std::vector<std::string>& rows) {
  return Painted(int(rows.at(0).size()), int(rows.size()), [&](int x, int y) {
    return rows[std::size_t(y)][std::size_t(x)] == 'R' ? kRed : kBlue;
  });
}

imaging::Bitmap LetterF() { return Drawn({"RRRRBB", "RBBBBB", "RRRBBB", "RBBBBB", "RBBBBB"}); }

imaging::Bitmap SixColours() {
  static constexpr imaging::Rgb kColours[] = {{0x12, 0x34, 0x56}, {0x78, 0x9A, 0xBC},
                                              {0xDE, 0xF0, 0x0F}, {0xFF, 0x00, 0x00},
                                              {0x00, 0x80, 0xFF}, {0x01, 0x02, 0x03}};
  return Painted(3, 2, [](int x, int y) { return kColours[y * 3 + x]; });
}

imaging::Bitmap PhotoLike(int width, int height) {
  const auto channel = [](double value) {
    return static_cast<std::uint8_t>(std::lround(127.5 + 127.5 * std::sin(value)));
  };
  return Painted(width, height, [&](int x, int y) {
    const double u = static_cast<double>(x) / width;
    const double v = static_cast<double>(y) / height;
    return imaging::Rgb{channel(6.0 * u + 2.0 * v), channel(5.0 * v - 3.0 * u * v + 1.0),
                        channel(4.0 * (u - 0.5) * (u - 0.5) + 7.0 * v * v + 2.0)};
  });
}

imaging::Rgb PixelAt(const imaging::Bitmap& bitmap, int x, int y) {
  const std::uint8_t* pixel = bitmap.Row(y) + static_cast<std::size_t>(x) * 3;
  return {pixel[0], pixel[1], pixel[2]};
}

void SetPixel(imaging::Bitmap& bitmap, int x, int y, imaging::Rgb color) {
  std::uint8_t* pixel = bitmap.Row(y) + static_cast<std::size_t>(x) * 3;
  pixel[0] = color.red;
  pixel[1] = color.green;
  pixel[2] = color.blue;
}

std::vector<imaging::Rgb> ColorsOf(const imaging::Bitmap& bitmap) {
  std::vector<imaging::Rgb> colors;
  for (int pixel = 0; pixel < bitmap.width * bitmap.height; ++pixel)
    colors.push_back(PixelAt(bitmap, pixel % bitmap.width, pixel / bitmap.width));
  return colors;
}

std::vector<imaging::Rgb> ColorsOf(const std::optional<imaging::Bitmap>& bitmap) {
  return bitmap ? ColorsOf(*bitmap) : std::vector<imaging::Rgb>{};
}

std::vector<imaging::Rgb> ColorsOf(const imaging::Result<imaging::Bitmap>& decoded) {
  return decoded ? ColorsOf(*decoded) : std::vector<imaging::Rgb>{};
}

double Psnr(const imaging::Bitmap& first, const imaging::Bitmap& second) {
  if (first.width != second.width || first.height != second.height) return 0.0;
  const double squaredError = std::transform_reduce(
      first.pixels.begin(), first.pixels.end(), second.pixels.begin(), 0.0, std::plus<>(),
      [](double one, double other) { return (one - other) * (one - other); });
  if (squaredError == 0.0) return std::numeric_limits<double>::infinity();
  const double meanSquaredError = squaredError / static_cast<double>(first.pixels.size());
  return 10.0 * std::log10(255.0 * 255.0 / meanSquaredError);
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string ReadFileText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string SaveImageFile(const imaging::Bitmap& bitmap, const std::string& path,
                          bool progressive) {
  const imaging::ImageHandle handle = imaging::RegisterBitmap(bitmap);
  path.ends_with(".jpg")   ? imaging::SaveJpeg(path, handle, 95, progressive)
  : path.ends_with(".png") ? imaging::SavePng(path, handle, progressive)
                           : imaging::SaveBmp(path, handle);
  imaging::FreeImage(handle);
  return path;
}

imaging::Rgb PixelOf(std::uint32_t handle, int x, int y) {
  const std::uint32_t color = imaging::ReadPixelColor(handle, x, y);
  return {static_cast<std::uint8_t>(color), static_cast<std::uint8_t>(color >> 8),
          static_cast<std::uint8_t>(color >> 16)};
}

imaging::Bitmap PixelsOf(std::uint32_t handle) {
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(handle, record);
  return Painted(record[1], record[2], [&](int x, int y) { return PixelOf(handle, x, y); });
}

std::pair<int, int> ImageSizeOf(const std::string& path) {
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(handle, record);
  imaging::FreeImage(handle);
  return {record[1], record[2]};
}

imaging::Rgb PixelOfFile(const std::string& path, int x, int y) {
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  const imaging::Rgb pixel = PixelOf(handle, x, y);
  imaging::FreeImage(handle);
  return pixel;
}

std::uint32_t FileField(const std::string& path, std::size_t offset, int size) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(offset + std::size_t(i));
  return value;
}

std::uint32_t JpegFirstQuantiser(const std::string& path) {
  const std::string bytes = ReadFileText(path);
  return static_cast<std::uint8_t>(bytes.at(bytes.find("\xFF\xDB") + 5));
}

void PutBytes(std::vector<std::uint8_t>& out, std::uint32_t value, int byteCount, bool bigEndian) {
  for (int byte = 0; byte < byteCount; ++byte)
    out.push_back(
        static_cast<std::uint8_t>(value >> 8 * (bigEndian ? byteCount - 1 - byte : byte)));
}

std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> bytes, std::size_t at,
                                  std::uint32_t value, int byteCount) {
  for (int byte = 0; byte < byteCount; ++byte) {
    bytes.at(at + static_cast<std::size_t>(byte)) = static_cast<std::uint8_t>(value >> (8 * byte));
  }
  return bytes;
}

std::vector<std::uint8_t> BmpFile(const BmpParts& parts) {
  std::vector<std::uint8_t> header;
  PutBytes(header, parts.headerSize);
  if (parts.headerSize == 12) {
    for (int field : {parts.width, parts.height, 1, int{parts.bitCount}})
      PutBytes(header, static_cast<std::uint32_t>(field), 2);
  } else {
    for (std::uint32_t field :
         {static_cast<std::uint32_t>(parts.width), static_cast<std::uint32_t>(parts.height),
          1u | std::uint32_t{parts.bitCount} << 16, parts.compression,
          static_cast<std::uint32_t>(parts.data.size()), 2835u, 2835u, parts.colorsUsed, 0u}) {
      PutBytes(header, field);
    }
    for (std::uint32_t mask : parts.masks) PutBytes(header, mask);
    if (parts.headerSize != 40) header.resize(parts.headerSize);
  }
  const std::size_t offset = 14 + header.size() + parts.palette.size();
  std::vector<std::uint8_t> file = {'B', 'M'};
  for (std::size_t field : {offset + parts.data.size(), std::size_t{0}, offset}) {
    PutBytes(file, static_cast<std::uint32_t>(field));
  }
  for (const std::vector<std::uint8_t>& part : {header, parts.palette, parts.data}) {
    file.insert(file.end(), part.begin(), part.end());
  }
  return file;
}

}  // namespace testsupport
