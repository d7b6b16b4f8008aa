// The one table that maps ImageHandle values to the bitmaps the library holds.
#pragma once

#include <cstddef>
#include <memory>

#include "imaging/Bitmap.h"
#include "imaging/Imaging.h"

namespace imaging {

// Takes ownership of the bitmap and returns its new handle (never 0; a released handle value is
// not handed out again until the 32-bit counter wraps).
ImageHandle RegisterBitmap(Bitmap bitmap);
// The bitmap behind a handle, or nullptr for 0 and unknown handles.
Bitmap* FindBitmap(ImageHandle handle);
// Removes the handle from the table and hands the bitmap back; empty for 0 and unknown handles.
std::unique_ptr<Bitmap> TakeBitmap(ImageHandle handle);
// How many images are held now.
std::size_t LiveImageCount();
// Releases every image and restarts the handle counter, so a test starts from the state of a new
// process.
void ResetHandleTable();

}  // namespace imaging
