// The one table that maps ImageHandle values to the images the library holds.
#pragma once

#include <cstddef>
#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/Image.h"
#include "imaging/Imaging.h"

namespace imaging {

// Takes ownership of the image and returns its new handle (never 0; a released handle value is
// not handed out again until the 32-bit counter wraps).
ImageHandle RegisterImage(Image image);
ImageHandle RegisterBitmap(Bitmap bitmap);
// The image behind a handle, or nullptr for 0 and unknown handles. The last one found is
// remembered, so a loop over one image's pixels looks nothing up twice.
Image* FindImage(ImageHandle handle);
// Removes the handle from the table and hands the image back; empty for 0 and unknown handles.
std::unique_ptr<Image> TakeImage(ImageHandle handle);
// How many images are held now.
std::size_t LiveImageCount();
// Releases every image, forgets what the library remembers of files (FileMemory.h) and restarts
// the handle counter, so a test starts from the state of a new process.
void ResetHandleTable();

}  // namespace imaging
