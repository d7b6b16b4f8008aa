// JPEG files written by libjpeg itself, for layouts and scan scripts our encoder never makes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// libjpeg's header needs FILE and size_t declared before it.
extern "C" {
#include <jpeglib.h>
}

namespace testsupport {

// A width × height file at quality 100 from `samples` (components per pixel, rows top-down,
// given in `input` colour space), stored in `file` colour space, with an Adobe marker when asked,
// with its own scan script when one is given, and with a restart marker after every
// `restartInterval` MCUs when that is not 0.
std::vector<std::uint8_t> LibjpegFile(int width, int height, int components, J_COLOR_SPACE input,
                                      J_COLOR_SPACE file, bool adobe,
                                      std::vector<std::uint8_t> samples,
                                      std::vector<jpeg_scan_info> scans = {},
                                      unsigned restartInterval = 0);

// A damaged camera photo: a 401 × 319 colour file with a restart marker after every MCU (500
// intervals in 20 MCU rows), whose every `every`-th restart marker is garbled into a stuffed data
// byte and whose entropy data have one byte changed before each such marker. Its header is sound;
// each garbled marker costs the decoder about three warnings, so the file raises some 400 by
// default, some 800 with every second marker garbled.
std::vector<std::uint8_t> JpegWithGarbledRestarts(int every = 4);

// libjpeg's own RGB decode of a file, damage and all, with its default settings and warnings
// ignored; nothing when libjpeg gives up on it.
std::vector<std::uint8_t> LibjpegPixels(const std::vector<std::uint8_t>& jpeg);

// A 16 × 16 greyscale file with a legal progression of exactly `count` scans: one DC scan, then
// each of the 63 AC coefficients alone in a first scan plus successive-approximation refinements,
// spread so the file has `count` scans in all.
std::vector<std::uint8_t> GreyJpegWithScans(int count);

// The JPEG with its frame header (the segment of `frameMarker`, 0xC0 baseline, 0xC2 progressive)
// claiming side × side pixels. No table of the files made here holds that marker's byte pair.
std::vector<std::uint8_t> HugeFrame(const std::vector<std::uint8_t>& jpeg, std::uint8_t frameMarker,
                                    std::uint16_t side = 65500);

}  // namespace testsupport
