#include "fuzz/FuzzTargets.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "imaging/BmpCodec.h"
#include "imaging/Imaging.h"

namespace fuzztargets {
namespace {

// A 24-bit BMP of the bitmap, written through a memory stream; nothing when writing fails.
std::optional<std::vector<std::uint8_t>> EncodeInMemory(const imaging::Bitmap& bitmap) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  if (stream == nullptr) return std::nullopt;
  const bool written = imaging::bmp::Encode(bitmap, stream);
  const bool closed = std::fclose(stream) == 0;
  std::optional<std::vector<std::uint8_t>> bytes;
  if (written && closed) bytes.emplace(buffer, buffer + size);
  std::free(buffer);
  return bytes;
}

// The in-memory file the load target fills for every input, made once per process.
int InputFile() {
  static const int descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
  return descriptor;
}

bool FillInputFile(int descriptor, std::span<const std::uint8_t> bytes) {
  if (ftruncate(descriptor, 0) != 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written =
        pwrite(descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

bool BmpRoundTrip(std::span<const std::uint8_t> bytes) {
  const std::optional<imaging::Bitmap> first = imaging::bmp::Decode(bytes);
  if (!first) return true;
  if (first->depth != imaging::ColorDepth::kTrue24 ||
      first->pixels.size() != first->PixelCount() * 3) {
    return false;
  }
  const std::optional<std::vector<std::uint8_t>> encoded = EncodeInMemory(*first);
  if (!encoded) return false;
  const std::optional<imaging::Bitmap> second = imaging::bmp::Decode(*encoded);
  return second && second->width == first->width && second->height == first->height &&
         second->pixels == first->pixels;
}

bool LoadImage(std::span<const std::uint8_t> bytes) {
  const int descriptor = InputFile();
  if (descriptor < 0 || !FillInputFile(descriptor, bytes)) return false;
  const std::string path = "/proc/self/fd/" + std::to_string(descriptor);
  const std::int32_t kind = imaging::ProbeFileKind(path, 0);
  if (kind < imaging::kFileKindBmp || kind > imaging::kFileKindUnknown) return false;
  const imaging::ImageHandle handle = imaging::LoadImageFile(path);
  if (handle == 0) return true;
  // Only the three loadable kinds may give an image, and it must be a 24-bit image within the
  // limits whose last pixel can be read.
  imaging::ImageInfoRecord record{};
  bool kept = (kind == imaging::kFileKindBmp || kind == imaging::kFileKindJpeg ||
               kind == imaging::kFileKindPng) &&
              imaging::GetImageInfo(handle, record) == 1 && record[0] == 24 &&
              imaging::SizeWithinLimits(record[1], record[2]) && record[5] == record[1] * 3;
  if (kept) imaging::ReadPixelColor(handle, record[1] - 1, record[2] - 1);
  kept = imaging::FreeImage(handle) == 1 && kept;
  return kept;
}

}  // namespace fuzztargets
