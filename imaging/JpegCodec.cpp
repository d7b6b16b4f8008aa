// JPEG decoding and encoding through libjpeg-turbo.
//
// libjpeg reports fatal errors by calling error_exit, which must not return; ours jumps back with
// longjmp to the function that drove the library. Every function that calls setjmp here keeps only
// trivially destructible locals and receives everything else (the bitmap, the library state) by
// pointer or reference from its caller, so the jump skips no destructor and no local of the
// jumping frame is read afterwards. The caller releases the library state on every path.
//
// Damaged files: a file that ends early (or whose entropy data hits an unexpected marker) is
// decoded as far as its data goes and the rest is filled by the library's mid-grey, as most
// viewers show it. A damaged photo whose restart markers or entropy data are garbled is shown as
// libjpeg leaves it, damage and all. Each such problem is a libjpeg warning; a file is refused when
// it raises more than damage to its image could (one per restart interval and one per MCU row, at
// least kMinJpegWarnings). What a decode costs is bounded apart from the warnings, by the blocks
// its frame and scans cover (ScanBlockBudget) and by their count (kMaxJpegScans), so a small file
// claiming a huge many-scan image is refused before libjpeg allocates anything for it.
// Nothing after the last scan a decode needs is read: a single-scan file's trailing bytes are never
// looked at, a multi-scan file is read up to its end marker.
#include "imaging/JpegCodec.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "imaging/DctMirror.h"
#include "imaging/Limits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// jpeglib.h needs size_t and FILE declared before it. jpegint.h declares the coefficient
// controller, whose one public field (the whole-image coefficient arrays, unchanged since libjpeg
// 6b) lets a buffered-image decode be written again without a second pass over the file.
extern "C" {
#include <jerror.h>
#include <jpeglib.h>
// Needs jpeglib.h before it.
#include <jpegint.h>
}

namespace imaging::jpeg {
namespace {

// The fewest warnings a file may raise before it is treated as garbage rather than as damaged;
// larger images may raise more (WarningLimit).
constexpr int kMinJpegWarnings = 100;
// Scanlines handed to libjpeg per read or write call; enough for the tallest MCU row.
constexpr int kRowsPerCall = 16;

// libjpeg's error manager with the jump target of the current library call. The library's err
// pointer points at `manager`, the first member of this standard-layout struct, so it can be
// turned back into a pointer to the whole struct.
// `message` holds what stopped the library: its own text for an error, ours for a limit.
struct ErrorState {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  int warnings;
  char message[JMSG_LENGTH_MAX];
  int warningLimit;
};

ErrorState& ErrorStateOf(j_common_ptr common) {
  return *reinterpret_cast<ErrorState*>(common->err);
}

[[noreturn]] void JumpOnError(j_common_ptr common) {
  ErrorState& state = ErrorStateOf(common);
  common->err->format_message(common, state.message);
  std::longjmp(state.jump, 1);
}

// Warnings (level -1) are counted, never printed; trace messages (level 0 and up) are dropped.
void CountWarning(j_common_ptr common, int level) {
  if (level >= 0) return;
  ErrorState& state = ErrorStateOf(common);
  if (++state.warnings > state.warningLimit) {
    char last[JMSG_LENGTH_MAX];
    common->err->format_message(common, last);
    std::snprintf(state.message, sizeof state.message,
                  "more than %d damaged places, the last: %.120s", state.warningLimit, last);
    std::longjmp(state.jump, 1);
  }
}

void DiscardMessage(j_common_ptr) {}

jpeg_error_mgr* InstallErrorState(ErrorState& state) {
  jpeg_error_mgr* manager = jpeg_std_error(&state.manager);
  manager->error_exit = JumpOnError;
  manager->emit_message = CountWarning;
  manager->output_message = DiscardMessage;
  state.warnings = 0;
  state.message[0] = '\0';
  state.warningLimit = kMinJpegWarnings;
  return manager;
}

void SetTooManyScans(ErrorState& state) {
  std::snprintf(state.message, sizeof state.message, "more than %d scans", kMaxJpegScans);
}

// The reason a decode that stopped in the library gives.
Failure RefusedBy(const ErrorState& state) {
  return Refused(std::string("JPEG: ") +
                 (state.message[0] != '\0' ? state.message : "the file does not decode"));
}

// What reading a file may cost, in 8 × 8 blocks of coefficients: the frame's (the whole-image
// buffer libjpeg clears and the output pass), then each scan's as it starts. A complete file needs
// at least one bit per block for its first scan, so one whose bytes could not describe the blocks
// its scans claim is refused before they cost anything: kScanBlocksPerByte leaves room for files
// cut short, and every file may cover kFreeScanBlocks (small images with many scans, and photos
// cut early), but none more than kMaxJpegScanBlocks.
constexpr std::int64_t kScanBlocksPerByte = 64;
constexpr std::int64_t kFreeScanBlocks = std::int64_t{1} << 18;
// libjpeg's standard progression of a 100-megapixel colour photo covers at most about 22 million.
constexpr std::int64_t kMaxJpegScanBlocks = 32'000'000;

std::int64_t ScanBlockBudget(std::size_t fileBytes) {
  const std::int64_t earned =
      kScanBlocksPerByte * static_cast<std::int64_t>(std::min<std::size_t>(fileBytes, 1u << 30));
  return std::min(kMaxJpegScanBlocks, std::max(kFreeScanBlocks, earned));
}

// libjpeg's progress hook with the work counted so far. `progress` is the first member, so
// libjpeg's pointer to it leads back to the whole struct.
struct ScanWork {
  jpeg_progress_mgr progress;
  int countedScans;
  std::int64_t blocks;
  std::int64_t budget;
};

// Everything one decode needs from libjpeg, owned by the caller and released there on every path.
struct DecodeState {
  jpeg_decompress_struct info;
  ErrorState error;
  ScanWork work;
};

// The warnings damage alone can raise in this image: one per restart interval and one per MCU
// row, at least kMinJpegWarnings. Needs the frame and the first scan's headers.
int WarningLimit(const jpeg_decompress_struct& info) {
  const std::int64_t mcuWidth = std::int64_t{DCTSIZE} * info.max_h_samp_factor;
  const std::int64_t mcuHeight = std::int64_t{DCTSIZE} * info.max_v_samp_factor;
  const std::int64_t mcuRows = (info.image_height + mcuHeight - 1) / mcuHeight;
  const std::int64_t mcus = (info.image_width + mcuWidth - 1) / mcuWidth * mcuRows;
  const std::int64_t intervals =
      info.restart_interval == 0 ? 0 : (mcus + info.restart_interval - 1) / info.restart_interval;
  // Sides are at most 65,535 pixels, so this is well within an int.
  return static_cast<int>(std::max<std::int64_t>(kMinJpegWarnings, mcuRows + intervals));
}

std::int64_t BlocksOf(const jpeg_component_info& component) {
  return std::int64_t{component.width_in_blocks} * component.height_in_blocks;
}

// Counts the frame before its first scan and each scan once as it starts. False once the file is
// beyond its budget of blocks (ScanBlockBudget) or has more than kMaxJpegScans scans.
bool WithinWork(const jpeg_decompress_struct& info, ScanWork& work, ErrorState& error) {
  if (info.input_scan_number == work.countedScans) return true;
  if (work.countedScans == 0) {
    for (int component = 0; component < info.num_components; ++component) {
      work.blocks += BlocksOf(info.comp_info[component]);
    }
  }
  work.countedScans = info.input_scan_number;
  for (int component = 0; component < info.comps_in_scan; ++component) {
    work.blocks += BlocksOf(*info.cur_comp_info[component]);
  }
  if (info.input_scan_number > kMaxJpegScans) {
    SetTooManyScans(error);
    return false;
  }
  if (work.blocks > work.budget) {
    std::snprintf(error.message, sizeof error.message,
                  "its scans claim more image data than a file of its size can hold");
    return false;
  }
  return true;
}

// libjpeg calls this before each step of its reading, also while it gathers the scans of a
// multi-scan file: a file beyond the limits of WithinWork is refused before the next scan is
// decoded.
void LimitScans(j_common_ptr common) {
  const auto* info = reinterpret_cast<j_decompress_ptr>(common);
  if (!WithinWork(*info, *reinterpret_cast<ScanWork*>(info->progress), ErrorStateOf(common))) {
    std::longjmp(ErrorStateOf(common).jump, 1);
  }
}

// Reads the headers up to the first scan and chooses the output colour space; with
// `saveMetadata` libjpeg keeps the APP1 and APP2 segments (at most 64 KB each, by the format).
// False on any error.
bool ReadHeaderInto(DecodeState& state, const std::uint8_t* data, std::size_t size,
                    bool saveMetadata = false) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_create_decompress(&state.info);
  state.work.progress.progress_monitor = LimitScans;
  state.work.countedScans = 0;
  state.work.blocks = 0;
  state.work.budget = ScanBlockBudget(size);
  state.info.progress = &state.work.progress;
  jpeg_mem_src(&state.info, data, static_cast<unsigned long>(size));
  if (saveMetadata) {
    jpeg_save_markers(&state.info, kMarkerApp1, 0xFFFF);
    jpeg_save_markers(&state.info, kMarkerApp2, 0xFFFF);
  }
  jpeg_read_header(&state.info, TRUE);
  state.error.warningLimit = WarningLimit(state.info);
  // libjpeg converts YCCK to CMYK but neither to RGB; CMYK rows are converted here instead.
  const bool cmyk =
      state.info.jpeg_color_space == JCS_CMYK || state.info.jpeg_color_space == JCS_YCCK;
  state.info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGB;
  return true;
}

Header HeaderOf(const jpeg_decompress_struct& info) {
  Header header;
  header.width = static_cast<int>(info.image_width);
  header.height = static_cast<int>(info.image_height);
  header.greyscale = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
  const auto sampling = [&](int component, int horizontal, int vertical) {
    return info.comp_info[component].h_samp_factor == horizontal &&
           info.comp_info[component].v_samp_factor == vertical;
  };
  const bool yCbCr420 = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3 &&
                        sampling(0, 2, 2) && sampling(1, 1, 1) && sampling(2, 1, 1);
  header.transcodable = info.data_precision == 8 && (yCbCr420 || header.greyscale);
  int maxHorizontal = 1;
  int maxVertical = 1;
  for (int component = 0; component < info.num_components; ++component) {
    maxHorizontal = std::max(maxHorizontal, info.comp_info[component].h_samp_factor);
    maxVertical = std::max(maxVertical, info.comp_info[component].v_samp_factor);
  }
  header.mcuWidth = DCTSIZE * maxHorizontal;
  header.mcuHeight = DCTSIZE * maxVertical;
  return header;
}

std::size_t RoundUp(std::size_t value, std::size_t step) {
  return (value + step - 1) / step * step;
}

// Writes the segments right after the file header. The caller has set the jump target.
void WriteSegments(jpeg_compress_struct& info, std::span<const JpegSegment> segments) {
  for (const JpegSegment& segment : segments) {
    if (segment.payload.size() > kMaxSegmentBytes) continue;
    jpeg_write_marker(&info, segment.marker, segment.payload.data(),
                      static_cast<unsigned>(segment.payload.size()));
  }
}

// How an EXIF orientation moves blocks and samples: the destination's (x, y) comes from the
// source's (a, b) = transposed ? (y, x) : (x, y), with a counted from the right when mirrorX and b
// from the bottom when mirrorY.
struct Turn {
  bool transpose = false;
  bool mirrorX = false;
  bool mirrorY = false;
};

Turn TurnFor(int orientation) {
  // Orientations 0 and 1 (and anything out of range) need no turn.
  static constexpr Turn kTurns[] = {{},
                                    {},
                                    {false, true, false},
                                    {false, true, true},
                                    {false, false, true},
                                    {true, false, false},
                                    {true, false, true},
                                    {true, true, true},
                                    {true, true, false}};
  return orientation >= 2 && orientation <= 8 ? kTurns[orientation] : Turn{};
}

// One block turned: mirroring a block negates its coefficients of odd frequency in that
// direction, transposing it swaps the two frequencies. The signs are worked out once per turn, so
// the loops over a block have no branch.
class BlockTurn {
 public:
  explicit BlockTurn(const Turn& turn) : transpose_(turn.transpose) {
    for (int vertical = 0; vertical < DCTSIZE; ++vertical) {
      for (int horizontal = 0; horizontal < DCTSIZE; ++horizontal) {
        const bool negate =
            (turn.mirrorX && (horizontal & 1) != 0) != (turn.mirrorY && (vertical & 1) != 0);
        sign_[static_cast<std::size_t>(vertical * DCTSIZE + horizontal)] = negate ? -1 : 1;
        transposedSign_[static_cast<std::size_t>(horizontal * DCTSIZE + vertical)] =
            negate ? -1 : 1;
      }
    }
  }

  void operator()(const JCOEF* in, JCOEF* out) const {
    if (!transpose_) {
      for (std::size_t k = 0; k < DCTSIZE2; ++k) out[k] = static_cast<JCOEF>(in[k] * sign_[k]);
      return;
    }
#if defined(__SSE2__)
    // Eight rows of eight 16-bit coefficients, transposed in three rounds of interleaving: a
    // tenth of the instructions of the loop below, which moved one coefficient at a time.
    static_assert(sizeof(JCOEF) == 2);
    const auto row = [&](std::size_t index) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + index * DCTSIZE));
    };
    const __m128i pairs[8] = {
        _mm_unpacklo_epi16(row(0), row(1)), _mm_unpackhi_epi16(row(0), row(1)),
        _mm_unpacklo_epi16(row(2), row(3)), _mm_unpackhi_epi16(row(2), row(3)),
        _mm_unpacklo_epi16(row(4), row(5)), _mm_unpackhi_epi16(row(4), row(5)),
        _mm_unpacklo_epi16(row(6), row(7)), _mm_unpackhi_epi16(row(6), row(7))};
    const __m128i quads[8] = {
        _mm_unpacklo_epi32(pairs[0], pairs[2]), _mm_unpackhi_epi32(pairs[0], pairs[2]),
        _mm_unpacklo_epi32(pairs[1], pairs[3]), _mm_unpackhi_epi32(pairs[1], pairs[3]),
        _mm_unpacklo_epi32(pairs[4], pairs[6]), _mm_unpackhi_epi32(pairs[4], pairs[6]),
        _mm_unpacklo_epi32(pairs[5], pairs[7]), _mm_unpackhi_epi32(pairs[5], pairs[7])};
    for (std::size_t half = 0; half < 4; ++half) {
      const __m128i columns[2] = {_mm_unpacklo_epi64(quads[half], quads[half + 4]),
                                  _mm_unpackhi_epi64(quads[half], quads[half + 4])};
      for (std::size_t which = 0; which < 2; ++which) {
        const std::size_t at = (2 * half + which) * DCTSIZE;
        const __m128i sign =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(transposedSign_.data() + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at),
                         _mm_mullo_epi16(columns[which], sign));
      }
    }
#else
    for (std::size_t vertical = 0; vertical < DCTSIZE; ++vertical) {
      for (std::size_t horizontal = 0; horizontal < DCTSIZE; ++horizontal) {
        const std::size_t k = vertical * DCTSIZE + horizontal;
        out[horizontal * DCTSIZE + vertical] = static_cast<JCOEF>(in[k] * sign_[k]);
      }
    }
#endif
  }

 private:
  bool transpose_;
  std::array<int, DCTSIZE2> sign_{};
  // The signs at the positions of the transposed block.
  std::array<JCOEF, DCTSIZE2> transposedSign_{};
};

// CMYK as stored by Adobe applications (marked by the Adobe segment) is inverted: each byte is
// 255 minus the ink, so it already measures the light let through, and red = c × k / 255. Files
// without the segment hold plain ink amounts: red = (255 − c) × (255 − k) / 255.
void CmykRowToRgb(const JSAMPLE* cmyk, std::uint8_t* rgb, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const unsigned black = inverted ? cmyk[3] : 255u - cmyk[3];
    for (int channel = 0; channel < 3; ++channel) {
      const unsigned light = inverted ? cmyk[channel] : 255u - cmyk[channel];
      rgb[channel] = static_cast<std::uint8_t>((light * black + 127) / 255);
    }
  }
}

// Reads every row of the output pass that has been started into `pixels` (output_height rows of
// rowBytes bytes, top-down), converted through the file's profile when `profile` is one for the
// file's colours: CMYK rows from a library-owned buffer, RGB rows in place right after each batch
// is decoded, while they are still in the cache, rather than in a second pass over the whole
// bitmap. The caller has set the jump target.
bool ReadOutputRows(jpeg_decompress_struct& info, std::uint8_t* pixels, std::size_t rowBytes,
                    const ColorTransform* profile) {
  const bool cmyk = info.out_color_space == JCS_CMYK;
  if (static_cast<std::size_t>(info.output_width) * 3 != rowBytes ||
      info.output_components != (cmyk ? 4 : 3)) {
    return false;
  }
  const ColorTransform* cmykProfile =
      cmyk && profile != nullptr && profile->From() == ColorTransform::Source::kCmyk ? profile
                                                                                   : nullptr;
  // A grey file's pixels are grey whatever its profile says.
  const ColorTransform* rgbProfile = !cmyk && !HeaderOf(info).greyscale && profile != nullptr &&
                                             profile->From() == ColorTransform::Source::kRgb
                                         ? profile
                                         : nullptr;
  // CMYK rows land in a library-owned buffer first; jpeg_destroy_decompress frees it.
  JSAMPARRAY cmykRows =
      cmyk ? info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                    info.output_width * 4, kRowsPerCall)
           : nullptr;
  JSAMPROW rows[kRowsPerCall];
  while (info.output_scanline < info.output_height) {
    const JDIMENSION first = info.output_scanline;
    const JDIMENSION count =
        std::min<JDIMENSION>(info.output_height - first, static_cast<JDIMENSION>(kRowsPerCall));
    std::uint8_t* firstRow = pixels + static_cast<std::size_t>(first) * rowBytes;
    for (JDIMENSION row = 0; row < count; ++row) {
      rows[row] = cmyk ? cmykRows[row] : firstRow + static_cast<std::size_t>(row) * rowBytes;
    }
    const JDIMENSION read = jpeg_read_scanlines(&info, rows, count);
    if (read == 0) return false;
    if (rgbProfile != nullptr) {
      rgbProfile->ConvertRgb(firstRow, static_cast<std::size_t>(read) * info.output_width);
    }
    if (cmyk) {
      const bool inverted = info.saw_Adobe_marker != 0;
      for (JDIMENSION row = 0; row < read; ++row) {
        std::uint8_t* rgb = firstRow + static_cast<std::size_t>(row) * rowBytes;
        if (cmykProfile != nullptr) {
          cmykProfile->ConvertCmyk(cmykRows[row], rgb, info.output_width, inverted);
        } else {
          CmykRowToRgb(cmykRows[row], rgb, info.output_width, inverted);
        }
      }
    }
  }
  // The rest of the file (normally just the end marker) is not needed; jpeg_destroy_decompress
  // discards it without checking.
  return true;
}

// The output size at 1 / denominator of the image size. False on any error.
bool ScaleOutput(DecodeState& state, int denominator) {
  if (setjmp(state.error.jump) != 0) return false;
  state.info.scale_num = 1;
  state.info.scale_denom = static_cast<unsigned>(denominator);
  jpeg_calc_output_dimensions(&state.info);
  return true;
}

// Decodes the image into `pixels`. For a multi-scan file jpeg_start_decompress gathers every scan
// first, within the limits of WithinWork.
bool DecodePixels(DecodeState& state, std::uint8_t* pixels, std::size_t rowBytes,
                  const ColorTransform* profile) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_start_decompress(&state.info);
  return ReadOutputRows(state.info, pixels, rowBytes, profile);
}

// Reads all the image data a decode would read into the whole-image coefficient buffer: every scan
// of a multi-scan file up to the end marker (within the limits of WithinWork), the one scan of any
// other.
bool ReadAllScans(DecodeState& state) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_decompress_struct& info = state.info;
  info.buffered_image = TRUE;
  if (!WithinWork(info, state.work, state.error)) return false;
  jpeg_start_decompress(&info);
  const bool multipleScans = jpeg_has_multiple_scans(&info) != 0;
  while (WithinWork(info, state.work, state.error)) {
    const int status = jpeg_consume_input(&info);
    // The memory source never suspends: at the end of the data it supplies an end marker.
    if (status == JPEG_SUSPENDED) return false;
    if (status == JPEG_REACHED_EOI) return true;
    if (status == JPEG_SCAN_COMPLETED && !multipleScans) return true;
  }
  return false;
}

// One output pass over the buffered coefficients, as Decode would produce it.
bool OutputPass(DecodeState& state, std::uint8_t* pixels, std::size_t rowBytes,
                const ColorTransform* profile) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_start_output(&state.info, state.info.input_scan_number);
  return ReadOutputRows(state.info, pixels, rowBytes, profile);
}

// libjpeg's output goes through this destination into an EncodedOutput, in blocks of the buffer's
// size. `manager` is the first member, so libjpeg's pointer to it leads back to the whole struct.
struct Destination {
  jpeg_destination_mgr manager;
  EncodedOutput* output;
  JOCTET* buffer;
  std::size_t size;
};

Destination& DestinationOf(j_compress_ptr info) {
  return *reinterpret_cast<Destination*>(info->dest);
}

[[noreturn]] void FailWrite(j_compress_ptr info) {
  info->err->msg_code = JERR_FILE_WRITE;
  info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
  std::abort();  // error_exit never returns
}

void StartDestination(j_compress_ptr info) {
  Destination& destination = DestinationOf(info);
  destination.manager.next_output_byte = destination.buffer;
  destination.manager.free_in_buffer = destination.size;
}

boolean EmptyDestination(j_compress_ptr info) {
  Destination& destination = DestinationOf(info);
  if (!destination.output->Write(destination.buffer, destination.size)) FailWrite(info);
  StartDestination(info);
  return TRUE;
}

void EndDestination(j_compress_ptr info) {
  Destination& destination = DestinationOf(info);
  const std::size_t used = destination.size - destination.manager.free_in_buffer;
  if (!destination.output->Write(destination.buffer, used)) FailWrite(info);
}

void UseDestination(jpeg_compress_struct& info, Destination& destination) {
  destination.manager.init_destination = StartDestination;
  destination.manager.empty_output_buffer = EmptyDestination;
  destination.manager.term_destination = EndDestination;
  info.dest = &destination.manager;
}

constexpr std::size_t kDestinationBytes = std::size_t{1} << 16;

// The JFIF segment jpeg_set_defaults writes: version 1.01, square pixels without a unit.
void UseDefaultJfif(jpeg_compress_struct& info) {
  info.write_JFIF_header = TRUE;
  info.JFIF_major_version = 1;
  info.JFIF_minor_version = 1;
  info.density_unit = 0;
  info.X_density = 1;
  info.Y_density = 1;
  info.write_Adobe_marker = FALSE;
}

// Requantisation of one block: a coefficient c quantised by `from` becomes the level nearest
// c × from / to, halfway values toward zero: floor((2 |c| from + to − 1) / (2 to)), held within
// the range an 8-bit baseline encoder can write (a valid file never comes near it; a crafted one
// must not make the save fail).
//
// It is worked out in float, so the compiler can do four coefficients at once with plain SSE2:
// |c| is first held to where the level passes 1024 (larger ones end at the clamp anyway), which
// keeps the dividend an integer below 2^24, exact in a float. The quotient, at most about 1030,
// is then within 2^-12 of the true one, and adding 2^-10 before truncating gives the exact floor:
// a quotient that is not whole lies at least 1 / (2 to) ≥ 1/510 below the next integer. (Checked
// exhaustively against integer division for every `from` and `to` up to 255 and every c.) Zero
// stays zero, so the loop needs no branch; photos are mostly zeros in no predictable order.
class BlockRequantiser {
 public:
  BlockRequantiser(const JQUANT_TBL& from, const JQUANT_TBL& to) {
    for (std::size_t k = 0; k < DCTSIZE2; ++k) {
      const std::uint32_t source = std::max<std::uint32_t>(from.quantval[k], 1);
      const std::uint32_t target = std::clamp<std::uint32_t>(to.quantval[k], 1, 255);
      twoFrom_[k] = 2.0f * static_cast<float>(source);
      bias_[k] = static_cast<float>(target - 1);
      reciprocal_[k] = 1.0f / (2.0f * static_cast<float>(target));
      cap_[k] = static_cast<std::int32_t>(
          std::min<std::uint64_t>(32768, std::uint64_t{1025} * target / source + 2));
    }
  }

  void operator()(JCOEF* block) const {
    const std::int32_t dc = block[0];
    for (std::size_t k = 0; k < DCTSIZE2; ++k) {
      const std::int32_t value = block[k];
      const std::int32_t level = Level(k, value, 1023);
      block[k] = static_cast<JCOEF>(value < 0 ? -level : level);
    }
    // The DC coefficient alone may reach −1024.
    const std::int32_t level = Level(0, dc, dc < 0 ? 1024 : 1023);
    block[0] = static_cast<JCOEF>(dc < 0 ? -level : level);
  }

 private:
  std::int32_t Level(std::size_t k, std::int32_t value, std::int32_t limit) const {
    constexpr float kNudge = 1.0f / 1024.0f;
    const auto magnitude = static_cast<float>(std::min(value < 0 ? -value : value, cap_[k]));
    const float dividend = magnitude * twoFrom_[k] + bias_[k];
    return std::min(static_cast<std::int32_t>(dividend * reciprocal_[k] + kNudge), limit);
  }

  std::array<float, DCTSIZE2> twoFrom_{};
  std::array<float, DCTSIZE2> bias_{};
  std::array<float, DCTSIZE2> reciprocal_{};
  std::array<std::int32_t, DCTSIZE2> cap_{};
};

void RequantiseComponent(jpeg_decompress_struct& source, jvirt_barray_ptr array,
                         const jpeg_component_info& component, const JQUANT_TBL& from,
                         const JQUANT_TBL& to) {
  const BlockRequantiser requantise(from, to);
  const auto step = static_cast<JDIMENSION>(component.v_samp_factor);
  for (JDIMENSION row = 0; row < component.height_in_blocks; row += step) {
    const JDIMENSION count = std::min(step, component.height_in_blocks - row);
    JBLOCKARRAY rows = source.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&source),
                                                      array, row, count, TRUE);
    for (JDIMENSION offset = 0; offset < count; ++offset) {
      for (JDIMENSION column = 0; column < component.width_in_blocks; ++column) {
        requantise(rows[offset][column]);
      }
    }
  }
}

// The coefficients of a transposed image, in rows of blocks inside one pooled buffer. The
// encoder is handed a pointer to this in place of one of libjpeg's virtual arrays, and reads it
// through AccessTurned: libjpeg would otherwise map, fault in and release fresh memory as large as
// the image's coefficients for every file turned.
struct TurnedArray {
  JBLOCKROW* rows;
  JDIMENSION height;
};

// Everything one coefficient image holds, released by its destructor.
struct CoefficientState {
  DecodeState decode;
  jpeg_compress_struct compress;
  bool compressCreated;
  Destination destination;
  std::array<JOCTET, kDestinationBytes> buffer;
  std::vector<std::uint8_t> turnedBlocks;
  std::array<TurnedArray, MAX_COMPONENTS> turnedArrays;
  // The encoder's own access to virtual arrays, for every array that is not a TurnedArray.
  decltype(jpeg_memory_mgr::access_virt_barray) libraryAccess;
};

// The encoder's access to virtual arrays, with the TurnedArrays of the state in client_data
// answered from their buffer.
JBLOCKARRAY AccessTurned(j_common_ptr common, jvirt_barray_ptr array, JDIMENSION start,
                         JDIMENSION count, boolean writable) {
  auto& state = *static_cast<CoefficientState*>(common->client_data);
  for (TurnedArray& turned : state.turnedArrays) {
    if (array != reinterpret_cast<jvirt_barray_ptr>(&turned)) continue;
    if (start > turned.height || count > turned.height - start) {
      common->err->msg_code = JERR_BAD_VIRTUAL_ACCESS;
      common->err->error_exit(common);
    }
    return turned.rows + start;
  }
  return state.libraryAccess(common, array, start, count, writable);
}

// Every row of blocks of a coefficient array, fetched once. libjpeg-turbo keeps virtual arrays
// wholly in memory (it has no backing store), so a row stays where it is while others are read.
// The table comes from libjpeg's pool, like everything here: an error jumps out of the caller.
JBLOCKROW* RowsOf(jpeg_decompress_struct& source, jvirt_barray_ptr array, JDIMENSION height,
                  boolean writable) {
  auto* common = reinterpret_cast<j_common_ptr>(&source);
  auto* rows = static_cast<JBLOCKROW*>(source.mem->alloc_small(
      common, JPOOL_IMAGE, sizeof(JBLOCKROW) * std::max<JDIMENSION>(height, 1)));
  for (JDIMENSION row = 0; row < height; ++row) {
    rows[row] = source.mem->access_virt_barray(common, array, row, 1, writable)[0];
  }
  return rows;
}

// Mirrors a component in its own arrays: each block is swapped with its mirror image, both
// turned, so no memory is needed beyond one block.
void MirrorInPlace(JBLOCKROW* rows, JDIMENSION width, JDIMENSION height, const Turn& turn) {
  const BlockTurn turnBlock(turn);
  const std::uint64_t count = std::uint64_t{width} * height;
  for (std::uint64_t index = 0; index < count; ++index) {
    const auto x = static_cast<JDIMENSION>(index % width);
    const auto y = static_cast<JDIMENSION>(index / width);
    const JDIMENSION otherX = turn.mirrorX ? width - 1 - x : x;
    const JDIMENSION otherY = turn.mirrorY ? height - 1 - y : y;
    const std::uint64_t other = std::uint64_t{otherY} * width + otherX;
    if (other < index) continue;  // swapped when its pair came
    JBLOCK first;
    turnBlock(rows[y][x], first);
    if (other != index) turnBlock(rows[otherY][otherX], rows[y][x]);
    std::copy(std::begin(first), std::end(first), rows[otherY][otherX]);
  }
}

// The quantisation table with rows and columns swapped: the steps of a transposed block.
JQUANT_TBL Transposed(const JQUANT_TBL& table) {
  JQUANT_TBL transposed = table;
  for (int row = 0; row < DCTSIZE; ++row) {
    for (int column = 0; column < DCTSIZE; ++column) {
      transposed.quantval[row * DCTSIZE + column] = table.quantval[column * DCTSIZE + row];
    }
  }
  return transposed;
}

// A component's block counts along its two axes, as the turned image has them.
struct BlockSize {
  JDIMENSION width;
  JDIMENSION height;
};

// Builds the blocks of one component of the turned image from the source's blocks: a block whose
// mirror lands on block boundaries is moved whole (signs flipped, transposed, requantised); one
// along a mirrored side that ends inside a block is mixed from its neighbouring source blocks.
class ComponentTurn {
 public:
  ComponentTurn(const jpeg_component_info& component, const Turn& turn, const JQUANT_TBL& target)
      : across_(component.downsampled_width, turn.mirrorX),
        down_(component.downsampled_height, turn.mirrorY),
        source_{component.width_in_blocks, component.height_in_blocks},
        turn_(turn),
        turnBlock_(turn),
        requantise_(turn.transpose ? Transposed(*component.quant_table) : *component.quant_table,
                    target),
        mixer_(Steps(*component.quant_table), Steps(target), turn.transpose, down_.Shifts(),
               across_.Shifts()) {}

  // True when the blocks stay in the source's arrays: nothing to transpose and nothing to mix.
  bool InPlace() const { return !turn_.transpose && !Mixes(); }

  // The size in blocks of the turned component.
  BlockSize Turned() const {
    return turn_.transpose ? BlockSize{source_.height, source_.width} : source_;
  }

  // Writes the turned image's block at (x, y).
  void operator()(JBLOCKROW* sourceRows, JDIMENSION x, JDIMENSION y, JCOEF* out) {
    // Transposed: the destination's (x, y) comes from the source's (y, x), mirrored.
    const JDIMENSION column = turn_.transpose ? y : x;
    const JDIMENSION row = turn_.transpose ? x : y;
    if (Mixes()) {
      Mix(sourceRows, column, row, out);
      return;
    }
    const JDIMENSION sourceX = turn_.mirrorX ? source_.width - 1 - column : column;
    const JDIMENSION sourceY = turn_.mirrorY ? source_.height - 1 - row : row;
    const JDIMENSION ahead = turn_.mirrorX ? sourceX - std::min(sourceX, kPrefetchBlocks)
                                           : std::min(sourceX + kPrefetchBlocks, source_.width - 1);
    __builtin_prefetch(sourceRows[sourceY][ahead]);
    __builtin_prefetch(sourceRows[sourceY][ahead] + DCTSIZE2 / 2);
    turnBlock_(sourceRows[sourceY][sourceX], out);
    requantise_(out);
  }

 private:
  // Source blocks are fetched this far ahead of their use: the runs are too short for the
  // processor to see them coming.
  static constexpr JDIMENSION kPrefetchBlocks = 4;

  static std::array<std::uint16_t, DCTSIZE2> Steps(const JQUANT_TBL& table) {
    std::array<std::uint16_t, DCTSIZE2> steps{};
    std::copy(std::begin(table.quantval), std::end(table.quantval), steps.begin());
    return steps;
  }

  bool Mixes() const { return across_.Shifts() || down_.Shifts(); }

  void Mix(JBLOCKROW* sourceRows, JDIMENSION column, JDIMENSION row, JCOEF* out) {
    std::array<dct::AxisSource, 2> downs;
    std::array<dct::AxisSource, 2> acrosses;
    const int downCount = down_.Sources(row, downs);
    const int acrossCount = across_.Sources(column, acrosses);
    for (int vertical = 0; vertical < downCount; ++vertical) {
      const dct::AxisSource& down = downs[static_cast<std::size_t>(vertical)];
      for (int horizontal = 0; horizontal < acrossCount; ++horizontal) {
        const dct::AxisSource& across = acrosses[static_cast<std::size_t>(horizontal)];
        mixer_.Add(sourceRows[down.block][across.block], *down.matrix, *across.matrix);
      }
    }
    mixer_.Write(out);
  }

  dct::AxisMirror across_;
  dct::AxisMirror down_;
  BlockSize source_;
  Turn turn_;
  BlockTurn turnBlock_;
  BlockRequantiser requantise_;
  dct::BlockMixer mixer_;
};

// Turns the coefficients and requantises them to the target's tables. A component that needs no
// mixing and no transposing is requantised and mirrored in place. The others are built in new
// arrays inside one pooled buffer: a transposing turn goes in tiles of blocks, reading along
// source rows, so that the memory it touches stays in few pages at a time. Returns the arrays
// that hold the turned image.
jvirt_barray_ptr* TurnCoefficients(CoefficientState& state, jvirt_barray_ptr* arrays,
                                   const Turn& turn) {
  jpeg_decompress_struct& source = state.decode.info;
  const jpeg_compress_struct& target = state.compress;
  auto* common = reinterpret_cast<j_common_ptr>(&source);
  const auto componentCount = static_cast<std::size_t>(source.num_components);
  // Held in place rather than in a vector: a library error jumps out of this function.
  static_assert(std::is_trivially_destructible_v<ComponentTurn>);
  std::array<std::optional<ComponentTurn>, MAX_COMPONENTS> turns;
  for (std::size_t index = 0; index < componentCount; ++index) {
    turns[index].emplace(source.comp_info[index], turn,
                         *target.quant_tbl_ptrs[target.comp_info[index].quant_tbl_no]);
  }
  // Whole MCU rows and columns: the encoder reads the padding rows of the last MCU row.
  const auto paddedOf = [&](std::size_t index) {
    const BlockSize size = turns[index]->Turned();
    const jpeg_component_info& component = target.comp_info[index];
    return BlockSize{static_cast<JDIMENSION>(
                         RoundUp(size.width, static_cast<std::size_t>(component.h_samp_factor))),
                     static_cast<JDIMENSION>(
                         RoundUp(size.height, static_cast<std::size_t>(component.v_samp_factor)))};
  };
  std::size_t blocks = 0;
  for (std::size_t index = 0; index < componentCount; ++index) {
    const jpeg_component_info& component = source.comp_info[index];
    if (!turns[index]->InPlace()) {
      blocks += std::size_t{paddedOf(index).width} * paddedOf(index).height;
      continue;
    }
    RequantiseComponent(source, arrays[index], component, *component.quant_table,
                        *target.quant_tbl_ptrs[target.comp_info[index].quant_tbl_no]);
    if (turn.mirrorX || turn.mirrorY) {
      MirrorInPlace(RowsOf(source, arrays[index], component.height_in_blocks, TRUE),
                    component.width_in_blocks, component.height_in_blocks, turn);
    }
  }
  if (blocks == 0) return arrays;
  state.turnedBlocks = TakeBuffer(blocks * sizeof(JBLOCK));
  auto* next = reinterpret_cast<JBLOCKROW>(state.turnedBlocks.data());
  auto* turned = static_cast<jvirt_barray_ptr*>(
      source.mem->alloc_small(common, JPOOL_IMAGE, sizeof(jvirt_barray_ptr) * componentCount));
  // A tile is tall, so each source row is read in long runs, and its buffer (32 KB) stays in cache.
  constexpr JDIMENSION kTileRows = 32;
  constexpr JDIMENSION kTileColumns = 8;
  JBLOCK tile[kTileRows][kTileColumns];
  for (std::size_t index = 0; index < componentCount; ++index) {
    if (turns[index]->InPlace()) {
      turned[index] = arrays[index];
      continue;
    }
    const BlockSize padded = paddedOf(index);
    TurnedArray& array = state.turnedArrays[index];
    array.height = padded.height;
    array.rows = static_cast<JBLOCKROW*>(
        source.mem->alloc_small(common, JPOOL_IMAGE, sizeof(JBLOCKROW) * padded.height));
    for (JDIMENSION row = 0; row < padded.height; ++row, next += padded.width) {
      array.rows[row] = next;
    }
    turned[index] = reinterpret_cast<jvirt_barray_ptr>(&array);
    const jpeg_component_info& component = source.comp_info[index];
    JBLOCKROW* sourceRows = RowsOf(source, arrays[index], component.height_in_blocks, FALSE);
    ComponentTurn& turnComponent = *turns[index];
    const BlockSize size = turnComponent.Turned();
    const auto place = [&](JDIMENSION x, JDIMENSION y, JCOEF* out) {
      if (x >= size.width || y >= size.height) {
        std::fill(out, out + DCTSIZE2, JCOEF{0});
      } else {
        turnComponent(sourceRows, x, y, out);
      }
    };
    if (!turn.transpose) {
      // Mirrored rows come from mirrored source rows: written straight along the rows.
      for (JDIMENSION y = 0; y < padded.height; ++y) {
        for (JDIMENSION x = 0; x < padded.width; ++x) place(x, y, array.rows[y][x]);
      }
      continue;
    }
    // Tile by tile through a buffer that stays in the first-level cache: filled along source rows,
    // emptied along destination rows, so memory is only ever walked in runs.
    for (JDIMENSION top = 0; top < padded.height; top += kTileRows) {
      const JDIMENSION tileRows = std::min(kTileRows, padded.height - top);
      for (JDIMENSION left = 0; left < padded.width; left += kTileColumns) {
        const JDIMENSION tileColumns = std::min(kTileColumns, padded.width - left);
        for (JDIMENSION column = 0; column < tileColumns; ++column) {
          for (JDIMENSION row = 0; row < tileRows; ++row) {
            place(left + column, top + row, tile[row][column]);
          }
        }
        for (JDIMENSION row = 0; row < tileRows; ++row) {
          std::memcpy(array.rows[top + row] + left, tile[row], tileColumns * sizeof(JBLOCK));
        }
      }
    }
  }
  return turned;
}

bool TranscodeCoefficients(CoefficientState& state, int quality, bool progressive,
                           EncodedOutput& out, int orientation,
                           std::span<const JpegSegment> segments) {
  jpeg_decompress_struct& source = state.decode.info;
  if (setjmp(state.decode.error.jump) != 0) return false;
  jvirt_barray_ptr* arrays = source.coef != nullptr ? source.coef->coef_arrays : nullptr;
  if (arrays == nullptr) return false;
  for (int component = 0; component < source.num_components; ++component) {
    if (source.comp_info[component].quant_table == nullptr) return false;
  }
  jpeg_compress_struct& target = state.compress;
  target.err = &state.decode.error.manager;
  jpeg_create_compress(&target);
  state.compressCreated = true;
  state.destination = Destination{{}, &out, state.buffer.data(), state.buffer.size()};
  UseDestination(target, state.destination);
  jpeg_copy_critical_parameters(&source, &target);
  const Turn turn = TurnFor(orientation);
  if (turn.transpose) {
    std::swap(target.image_width, target.image_height);
    for (int component = 0; component < target.num_components; ++component) {
      std::swap(target.comp_info[component].h_samp_factor,
                target.comp_info[component].v_samp_factor);
    }
  }
  UseDefaultJfif(target);
  jpeg_set_quality(&target, std::clamp(quality, 0, 100), TRUE);
  for (int component = 0; component < target.num_components; ++component) {
    target.comp_info[component].quant_tbl_no = component == 0 ? 0 : 1;
  }
  jvirt_barray_ptr* const sourceArrays = arrays;
  arrays = TurnCoefficients(state, arrays, turn);
  if (arrays != sourceArrays) {
    state.libraryAccess = target.mem->access_virt_barray;
    target.mem->access_virt_barray = AccessTurned;
    target.client_data = &state;
  }
  if (progressive) jpeg_simple_progression(&target);
  jpeg_write_coefficients(&target, arrays);
  WriteSegments(target, segments);
  jpeg_finish_compress(&target);
  return true;
}

// Everything one encode needs from libjpeg, owned by Encode and released there on every path.
struct EncodeState {
  jpeg_compress_struct info;
  ErrorState error;
  Destination destination;
};

bool WriteImage(EncodeState& state, const Bitmap& bitmap, int quality, bool progressive,
                std::uint8_t* greyRows, std::span<const JpegSegment> segments) {
  if (setjmp(state.error.jump) != 0) return false;
  jpeg_compress_struct& info = state.info;
  jpeg_create_compress(&info);
  UseDestination(info, state.destination);
  info.image_width = static_cast<JDIMENSION>(bitmap.width);
  info.image_height = static_cast<JDIMENSION>(bitmap.height);
  // A grey bitmap goes in as one component: the same picture in a third of the samples.
  info.input_components = greyRows != nullptr ? 1 : 3;
  info.in_color_space = greyRows != nullptr ? JCS_GRAYSCALE : JCS_EXT_RGB;
  // The defaults give a JFIF file, YCbCr with 4:2:0 chroma (or greyscale), the standard Huffman
  // tables (no optimisation pass, for speed) and the accurate integer DCT.
  jpeg_set_defaults(&info);
  // Forcing baseline tables keeps every quantiser within 8 bits; quality 0 is taken as 1.
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  WriteSegments(info, segments);
  // libjpeg takes non-const rows but only reads them.
  auto* pixels = const_cast<std::uint8_t*>(bitmap.pixels.data());
  const std::size_t rowBytes = bitmap.RowBytes();
  const auto width = static_cast<std::size_t>(bitmap.width);
  JSAMPROW rows[kRowsPerCall];
  while (info.next_scanline < info.image_height) {
    const JDIMENSION first = info.next_scanline;
    const JDIMENSION count =
        std::min<JDIMENSION>(info.image_height - first, static_cast<JDIMENSION>(kRowsPerCall));
    for (JDIMENSION row = 0; row < count; ++row) {
      const std::uint8_t* source = pixels + static_cast<std::size_t>(first + row) * rowBytes;
      if (greyRows == nullptr) {
        rows[row] = const_cast<std::uint8_t*>(source);
        continue;
      }
      rows[row] = greyRows + row * width;
      for (std::size_t x = 0; x < width; ++x) rows[row][x] = source[3 * x];
    }
    if (jpeg_write_scanlines(&info, rows, count) == 0) return false;
  }
  // Flushes the last bytes; the destination raises an error when a write fails.
  jpeg_finish_compress(&info);
  return true;
}

}  // namespace

bool Sniff(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

// The refusal of a file whose headers read, or nothing when its size is within the limits.
std::optional<Failure> SizeRefusal(const jpeg_decompress_struct& info) {
  if (SizeWithinLimits(info.image_width, info.image_height)) return std::nullopt;
  return RefusedSize("JPEG", info.image_width, info.image_height);
}

Result<Header> ReadHeader(std::span<const std::uint8_t> bytes, std::vector<JpegSegment>* segments) {
  DecodeState state{};
  state.info.err = InstallErrorState(state.error);
  Result<Header> header = Failure{};
  if (!ReadHeaderInto(state, bytes.data(), bytes.size(), segments != nullptr)) {
    header = RefusedBy(state.error);
  } else if (std::optional<Failure> refusal = SizeRefusal(state.info)) {
    header = std::move(*refusal);
  } else {
    header = HeaderOf(state.info);
    // Copied up to what a whole profile and one EXIF and one XMP segment can take: a file of
    // thousands of segments costs no more, and a profile whose chunks lie beyond is dropped.
    std::size_t copied = 0;
    for (jpeg_saved_marker_ptr marker = state.info.marker_list;
         segments != nullptr && marker != nullptr; marker = marker->next) {
      copied += marker->data_length;
      if (copied > kMaxProfileBytes + 2 * kMaxSegmentBytes) break;
      segments->push_back({marker->marker, {marker->data, marker->data + marker->data_length}});
    }
  }
  jpeg_destroy_decompress(&state.info);
  return header;
}

bool TurnsInCoefficients(const Header& header, int orientation) {
  const Turn turn = TurnFor(orientation);
  // The largest sampling factor along each side: the chroma of 4:2:0 mirrors sample for sample
  // when the luma side is even.
  const int across = header.mcuWidth / DCTSIZE;
  const int down = header.mcuHeight / DCTSIZE;
  return (!turn.mirrorX || header.width % across == 0) &&
         (!turn.mirrorY || header.height % down == 0);
}

int ScaleDenominator(const Header& header, std::int64_t width, std::int64_t height) {
  int denominator = 8;
  const auto scaled = [&](std::int64_t side, int by) { return (side + by - 1) / by; };
  while (denominator > 1 && (scaled(header.width, denominator) < width ||
                             scaled(header.height, denominator) < height)) {
    denominator /= 2;
  }
  return denominator;
}

Result<Bitmap> Decode(std::span<const std::uint8_t> bytes, int scaleDenominator,
                      const ColorTransform* profile) {
  DecodeState state{};
  state.info.err = InstallErrorState(state.error);
  Result<Bitmap> result = Failure{};
  // The size and work checks come before anything is allocated for the pixels, by us or by
  // libjpeg.
  if (!ReadHeaderInto(state, bytes.data(), bytes.size())) {
    result = RefusedBy(state.error);
  } else if (std::optional<Failure> refusal = SizeRefusal(state.info)) {
    result = std::move(*refusal);
  } else if (!WithinWork(state.info, state.work, state.error)) {
    result = RefusedBy(state.error);
  } else if (!ScaleOutput(state, scaleDenominator)) {
    result = RefusedBy(state.error);
  } else if (std::optional<Bitmap> bitmap =
                 MakeBitmapToFill(state.info.output_width, state.info.output_height);
             !bitmap) {
    result = Refused(kOutOfMemory);
  } else if (!DecodePixels(state, bitmap->pixels.data(), bitmap->RowBytes(), profile)) {
    result = RefusedBy(state.error);
  } else {
    bitmap->grey = HeaderOf(state.info).greyscale;
    result = std::move(*bitmap);
  }
  jpeg_destroy_decompress(&state.info);
  return result;
}

struct CoefficientImage::State : CoefficientState {
  ~State() {
    if (compressCreated) jpeg_destroy_compress(&compress);
    jpeg_destroy_decompress(&decode.info);
    ReturnBuffer(std::move(turnedBlocks));
  }
};

CoefficientImage::CoefficientImage(std::unique_ptr<State> state) : state_(std::move(state)) {
  header_ = HeaderOf(state_->decode.info);
}

CoefficientImage::~CoefficientImage() = default;

Result<std::unique_ptr<CoefficientImage>> CoefficientImage::Read(
    std::span<const std::uint8_t> bytes) {
  auto state = std::make_unique<State>();
  state->decode.info.err = InstallErrorState(state->decode.error);
  if (!ReadHeaderInto(state->decode, bytes.data(), bytes.size())) {
    return RefusedBy(state->decode.error);
  }
  if (std::optional<Failure> refusal = SizeRefusal(state->decode.info)) return std::move(*refusal);
  if (!ReadAllScans(state->decode)) return RefusedBy(state->decode.error);
  return std::unique_ptr<CoefficientImage>(new CoefficientImage(std::move(state)));
}

std::optional<Bitmap> CoefficientImage::Pixels(const ColorTransform* profile) {
  const jpeg_decompress_struct& info = state_->decode.info;
  std::optional<Bitmap> bitmap = MakeBitmapToFill(info.output_width, info.output_height);
  if (!bitmap || !OutputPass(state_->decode, bitmap->pixels.data(), bitmap->RowBytes(), profile)) {
    return std::nullopt;
  }
  bitmap->grey = header_.greyscale;
  return bitmap;
}

bool CoefficientImage::Transcode(int quality, bool progressive, EncodedOutput& out, int orientation,
                                 std::span<const JpegSegment> segments) {
  return header_.transcodable && TurnsInCoefficients(header_, orientation) &&
         TranscodeCoefficients(*state_, quality, progressive, out, orientation, segments) &&
         !out.Failed();
}

bool Transcode(std::span<const std::uint8_t> bytes, int quality, bool progressive,
               EncodedOutput& out) {
  const Result<std::unique_ptr<CoefficientImage>> image = CoefficientImage::Read(bytes);
  return image && (*image)->Transcode(quality, progressive, out);
}

bool Encode(const Bitmap& bitmap, int quality, bool progressive, EncodedOutput& out,
            std::span<const JpegSegment> segments) {
  if (!SizeWithinLimits(bitmap.width, bitmap.height) ||
      bitmap.pixels.size() != bitmap.PixelCount() * 3) {
    return false;
  }
  std::vector<std::uint8_t> greyRows;
  if (bitmap.grey) greyRows.resize(static_cast<std::size_t>(bitmap.width) * kRowsPerCall);
  std::vector<JOCTET> buffer(kDestinationBytes);
  EncodeState state{};
  state.info.err = InstallErrorState(state.error);
  state.destination = Destination{{}, &out, buffer.data(), buffer.size()};
  const bool written = WriteImage(state, bitmap, std::clamp(quality, 0, 100), progressive,
                                  bitmap.grey ? greyRows.data() : nullptr, segments);
  jpeg_destroy_compress(&state.info);
  return written && !out.Failed();
}

bool Encode(const Bitmap& bitmap, int quality, bool progressive, std::FILE* out) {
  if (out == nullptr) return false;
  EncodedOutput output(out);
  return Encode(bitmap, quality, progressive, output) && output.Finish();
}

}  // namespace imaging::jpeg
