// What the library remembers about files from one call to the next, so the same file coming
// back costs less:
//  - files known to decode: those its own encoders wrote and those it decoded in full, by a hash
//    of their bytes. Loading such bytes again needs no check before the pixels are wanted, so a
//    probe of their size reads the headers only.
//  - the last image released while still exactly as loaded, with the hash of its file: loading a
//    file with the same content again takes it back instead of decoding it again (the quality
//    preview loads the selected file to show its size, then again to convert it).
// A file is only hashed when a remembered one has its length and kind.
//  - the last file a BMP save wrote: saving the same, unchanged image to the same path again
//    leaves that file as it is, when it is still the very file written.
// Everything here is a cache: forgetting it changes no result, only the time taken.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "imaging/ByteSource.h"
#include "imaging/EncodedOutput.h"
#include "imaging/Image.h"

namespace imaging {

// The whole content of a file, in a buffer that goes back to the pool (Bitmap.h) when the last
// user lets go of it; nothing when it cannot be read.
FileBytes ReadWholeFile(const ByteSource& file);

void RememberGoodFile(std::span<const std::uint8_t> bytes, std::int32_t kind);
void RememberGoodFile(const ContentHash& hash, std::int32_t kind);
bool IsGoodFile(const ByteSource& file, std::int32_t kind);

// Keeps a released image that is still as loaded and can tell its file's hash (replacing the one
// kept before).
void KeepReleasedImage(std::unique_ptr<Image> image);
// The kept image when `file` has its file's content and `kind` its kind, taken out of the cache;
// otherwise nullptr, and the kept image (which no longer matches the file being loaded) is
// dropped before the new one is decoded.
std::unique_ptr<Image> TakeReleasedImage(const ByteSource& file, std::int32_t kind);

// A BMP save of the image with this stamp wrote the file at `path`.
void RememberBmpSave(const std::string& path, std::uint64_t stamp);
// True when the file at `path` is still the one a BMP save of the image with this stamp wrote.
bool SavedAsBmp(const std::string& path, std::uint64_t stamp);

// Forgets everything, as in a new process.
void ForgetFiles();

}  // namespace imaging
