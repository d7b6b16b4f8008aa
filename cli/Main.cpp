// tessellarion-cli: the converter without a window. It drives the same main form as the window
// does, on the headless controls: start-up, the options set as their controls, the files added as
// one drop, then Execute.
#include <getopt.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/ConversionSettings.h"
#include "engine/FileFormats.h"
#include "engine/SettingRows.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "platform/StopSignals.h"

namespace {

using namespace engine;

constexpr int kExitWritten = 0;
constexpr int kExitSomeNotWritten = 1;
constexpr int kExitNotRun = 2;
constexpr int kExitUsage = 64;
// More workers than this gain nothing on any machine a batch of at most 1000 files runs on.
constexpr int kMaxJobs = 256;

const engine::SettingRow& Row(int engine::ConversionSettings::*field) {
  return engine::SettingRowOf(field);
}

// The JPEG quality is 100 − Compression, so its range is the compression's, turned round.
int LowestQuality() { return 100 - Row(&ConversionSettings::Compression).maximum; }
int HighestQuality() { return 100 - Row(&ConversionSettings::Compression).minimum; }
// The rows of --crop's X, Y, W and H, in that order.
const std::vector<const engine::SettingRow*>& CropEdits() {
  static const std::vector<const engine::SettingRow*> edits = [] {
    std::vector<const engine::SettingRow*> rows;
    for (const engine::SettingRow* row : engine::SettingRowsOfOption("crop")) {
      if (row->control == engine::SettingControl::kNumberEdit) rows.push_back(row);
    }
    return rows;
  }();
  return edits;
}

int HighestRotation() {
  return kDegreesPerRotationStep * Row(&ConversionSettings::RotationIndex).maximum;
}

std::string Usage() {
  const std::string quality = std::to_string(LowestQuality()) + ".." +
                              std::to_string(HighestQuality());
  const std::string rotation = "0.." + std::to_string(HighestRotation()) + " in steps of " +
                               std::to_string(kDegreesPerRotationStep);
  return "Usage: tessellarion-cli [OPTION]... FILE...\n"
         "Converts BMP, JPEG, PNG, HEIC, AVIF and WebP files (told by their content) with the "
         "settings\n"
         "of Tessellarion's main window, then saves those settings as the window's Execute does.\n"
         "\n"
         "  -o, --output DIR          output folder (must exist)\n"
         "  -f, --format FORMAT       bmp, jpg, png or htm (table art)\n"
         "  -s, --size SIZE           keep, 640x480 or WxH\n"
         "      --bmp-depth DEPTH     24, 16, 8 or 8rle\n"
         "  -q, --quality Q           JPEG quality " +
         quality +
         "\n"
         "      --progressive, --no-progressive   progressive JPEG\n"
         "      --interlace, --no-interlace       interlaced PNG\n"
         "  -e, --effect EFFECT       none, grey, sepia, negative, sharpen, blur, red, green, blue\n"
         "  -r, --rotate DEG          clockwise, " +
         rotation +
         "\n"
         "  -c, --crop X,Y,W,H        crop rectangle, or 'off'\n"
         "      --naming SCHEME       keep, number or custom\n"
         "      --custom-name TEXT    text before the number (implies --naming custom)\n"
         "      --no-auto-orient      keep a photo's stored pixels and its orientation tag as they\n"
         "                            are (by default photos are turned upright by their EXIF\n"
         "                            orientation)\n"
         "      --strip               write no metadata: no EXIF data (camera, date, GPS), XMP or\n"
         "                            colour profile (by default JPEG and PNG output keeps them)\n"
         "      --keep-aspect         a size of 640x480 or WxH is a box the image is scaled to fit,\n"
         "                            keeping its proportions (by default it is stretched to exactly\n"
         "                            that size)\n"
         "  -j, --jobs N              files converted at once (default: the cores this process "
         "may\n"
         "                            use); the results are the same for every N\n"
         "  -h, --help                this help\n"
         "      --version             the version\n"
         "\n"
         "Exit status: 0 every file written, 1 some files not written, 2 nothing converted (a\n"
         "precondition failed), 64 a bad option.\n";
}

// What the command line asks for; unset members leave the saved settings as they are.
struct Request {
  std::optional<std::string> outputFolder;
  std::optional<ControlId> formatRadio;
  std::optional<ControlId> sizeRadio;
  std::optional<std::pair<std::string, std::string>> customSize;
  std::optional<int> bmpDepth;
  std::optional<int> quality;
  std::optional<bool> progressive;
  std::optional<bool> interlace;
  std::optional<int> effect;
  std::optional<int> rotationIndex;
  std::optional<bool> crop;
  std::optional<std::vector<std::string>> cropValues;
  std::optional<ControlId> namingRadio;
  std::optional<std::string> customName;
  bool noAutoOrient = false;
  bool strip = false;
  bool keepAspect = false;
  std::optional<int> jobs;
  std::vector<std::string> files;
};

[[noreturn]] void UsageError(const std::string& message) {
  std::fprintf(stderr, "tessellarion-cli: %s\nTry 'tessellarion-cli --help'.\n", message.c_str());
  std::exit(kExitUsage);
}

int IndexOf(const std::string& value, const std::vector<std::string>& choices,
            const std::string& option) {
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (choices[i] == value) return static_cast<int>(i);
  }
  std::string expected;
  for (const std::string& choice : choices) expected += (expected.empty() ? "" : ", ") + choice;
  UsageError("invalid value '" + value + "' for " + option + " (expected " + expected + ")");
}

// A whole decimal number within the bounds, or a usage error naming the option.
int WholeNumber(const std::string& value, int minimum, int maximum, const std::string& option) {
  char* end = nullptr;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || number < minimum || number > maximum) {
    UsageError("invalid value '" + value + "' for " + option + " (expected " +
               std::to_string(minimum) + ".." + std::to_string(maximum) + ")");
  }
  return static_cast<int>(number);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  return platform::CurrentFolder() + "/" + path;
}

Request ParseCommandLine(int argc, char** argv) {
  enum LongOnly {
    kBmpDepth = 256,
    kProgressive,
    kNoProgressive,
    kInterlace,
    kNoInterlace,
    kNaming,
    kCustomName,
    kVersion,
    kNoAutoOrient,
    kStrip,
    kKeepAspect
  };
  static const option kOptions[] = {
      {"output", required_argument, nullptr, 'o'},
      {"format", required_argument, nullptr, 'f'},
      {"size", required_argument, nullptr, 's'},
      {"bmp-depth", required_argument, nullptr, kBmpDepth},
      {"quality", required_argument, nullptr, 'q'},
      {"progressive", no_argument, nullptr, kProgressive},
      {"no-progressive", no_argument, nullptr, kNoProgressive},
      {"interlace", no_argument, nullptr, kInterlace},
      {"no-interlace", no_argument, nullptr, kNoInterlace},
      {"effect", required_argument, nullptr, 'e'},
      {"rotate", required_argument, nullptr, 'r'},
      {"crop", required_argument, nullptr, 'c'},
      {"naming", required_argument, nullptr, kNaming},
      {"custom-name", required_argument, nullptr, kCustomName},
      {"jobs", required_argument, nullptr, 'j'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"no-auto-orient", no_argument, nullptr, kNoAutoOrient},
      {"strip", no_argument, nullptr, kStrip},
      {"keep-aspect", no_argument, nullptr, kKeepAspect},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  Request request;
  int option = 0;
  while ((option = getopt_long(argc, argv, ":o:f:s:q:e:r:c:j:h", kOptions, nullptr)) != -1) {
    const std::string value = optarg != nullptr ? optarg : "";
    switch (option) {
      case 'o': {
        // The settings file keeps the folder as one line; the window refuses such a folder too.
        if (value.find('\n') != std::string::npos) {
          UsageError("an output folder name with a line feed cannot be used");
        }
        struct stat status {};
        if (stat(value.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
          UsageError("output folder '" + value + "' does not exist");
        }
        request.outputFolder = Absolute(value);
        break;
      }
      case 'f': {
        std::vector<std::string> names;
        for (const OutputFormat& format : OutputFormats()) names.emplace_back(format.cliName);
        const int index = IndexOf(value, names, "--format");
        request.formatRadio = OutputFormats()[static_cast<std::size_t>(index)].radio;
        break;
      }
      case 's': {
        // The size buttons: keep, 640 × 480, custom.
        const std::span<const ControlId> sizeRadios = Row(&ConversionSettings::SizeMode).controls;
        if (value == "keep") {
          request.sizeRadio = sizeRadios[0];
        } else if (value == "640x480") {
          request.sizeRadio = sizeRadios[1];
        } else {
          // Digits alone: the form reads a side up to its first other character, so "7ax3" would
          // pass for 7 × 3. The range is the form's precondition, checked when the run starts.
          const std::vector<std::string> parts = Split(value, 'x');
          const auto digits = [](const std::string& side) {
            return !side.empty() && side.find_first_not_of("0123456789") == std::string::npos;
          };
          if (parts.size() != 2 || !digits(parts[0]) || !digits(parts[1])) {
            UsageError("invalid value '" + value + "' for --size (expected keep, 640x480 or WxH)");
          }
          request.sizeRadio = sizeRadios[2];
          request.customSize = {parts[0], parts[1]};
        }
        break;
      }
      case kBmpDepth:
        request.bmpDepth = IndexOf(value, {"24", "16", "8", "8rle"}, "--bmp-depth");
        break;
      case 'q':
        request.quality = WholeNumber(value, LowestQuality(), HighestQuality(), "--quality");
        break;
      case kProgressive:
      case kNoProgressive:
        request.progressive = option == kProgressive;
        break;
      case kInterlace:
      case kNoInterlace:
        request.interlace = option == kInterlace;
        break;
      case 'e':
        request.effect = IndexOf(value,
                                 {"none", "grey", "sepia", "negative", "sharpen", "blur", "red",
                                  "green", "blue"},
                                 "--effect");
        break;
      case 'r': {
        const int degrees = WholeNumber(value, 0, HighestRotation(), "--rotate");
        if (degrees % kDegreesPerRotationStep != 0) {
          UsageError("--rotate takes a multiple of " + std::to_string(kDegreesPerRotationStep) +
                     ", not " + value);
        }
        request.rotationIndex = degrees / kDegreesPerRotationStep;
        break;
      }
      case 'c':
        if (value == "off") {
          request.crop = false;
        } else {
          std::vector<std::string> parts = Split(value, ',');
          if (parts.size() != CropEdits().size()) UsageError("--crop takes X,Y,W,H or off, not '" + value + "'");
          for (std::size_t i = 0; i < parts.size(); ++i) {
            const engine::SettingRow& row = *CropEdits()[i];
            WholeNumber(parts[i], row.minimum, row.maximum, "--crop");
          }
          request.crop = true;
          request.cropValues = parts;
        }
        break;
      case kNaming:
        request.namingRadio = Row(&ConversionSettings::NamingScheme)
                                  .controls[static_cast<std::size_t>(
                                      IndexOf(value, {"keep", "number", "custom"}, "--naming"))];
        break;
      case kCustomName:
        if (value.find('\n') != std::string::npos) {
          UsageError("--custom-name takes one line of text");
        }
        request.customName = value;
        if (!request.namingRadio) request.namingRadio = kNamingCustomRadio;
        break;
      case kNoAutoOrient:
        request.noAutoOrient = true;
        break;
      case kStrip:
        request.strip = true;
        break;
      case kKeepAspect:
        request.keepAspect = true;
        break;
      case 'j':
        request.jobs = WholeNumber(value, 1, kMaxJobs, "--jobs");
        break;
      case 'h':
        std::fputs(Usage().c_str(), stdout);
        std::exit(kExitWritten);
      case kVersion:
        std::puts("Tessellarion 1.02");
        std::exit(kExitWritten);
      case ':':
        UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
      default:
        UsageError(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  for (int index = optind; index < argc; ++index) request.files.push_back(Absolute(argv[index]));
  if (request.files.empty()) UsageError("no input FILE given");
  return request;
}

// Checks one radio button of a group and clears the others, as a click does.
void SelectRadio(platform::Controls& controls, std::span<const ControlId> group, ControlId chosen) {
  for (const ControlId id : group) controls.SetChecked(id, id == chosen);
}

void Apply(const Request& request, platform::HeadlessControls& controls,
           platform::HeadlessShell& shell, form::MainForm& form) {
  if (request.formatRadio) {
    SelectRadio(controls, Row(&ConversionSettings::OutputFormatIndex).controls,
                *request.formatRadio);
  }
  if (request.sizeRadio) {
    SelectRadio(controls, Row(&ConversionSettings::SizeMode).controls, *request.sizeRadio);
  }
  if (request.customSize) {
    controls.SetText(kWidthEdit, request.customSize->first);
    controls.SetText(kHeightEdit, request.customSize->second);
  }
  if (request.bmpDepth) controls.SetComboSelection(kBmpDepthCombo, *request.bmpDepth);
  if (request.quality) {
    controls.SetSliderPosition(kCompressionSlider, 100 - *request.quality, true);
    form.OnHorizontalScroll(kCompressionSlider);
  }
  if (request.progressive) controls.SetChecked(kJpegProgressiveCheck, *request.progressive);
  if (request.interlace) controls.SetChecked(kPngInterlaceCheck, *request.interlace);
  if (request.effect) controls.SetComboSelection(kColorEffectCombo, *request.effect);
  if (request.rotationIndex) controls.SetComboSelection(kRotationCombo, *request.rotationIndex);
  if (request.crop) controls.SetChecked(kCropCheck, *request.crop);
  if (request.cropValues) {
    for (std::size_t i = 0; i < CropEdits().size(); ++i) {
      controls.SetText(CropEdits()[i]->controls.front(), (*request.cropValues)[i]);
    }
  }
  if (request.noAutoOrient) form.Session().Photo.AutoOrient = 0;
  if (request.strip) form.Session().Photo.KeepMetadata = 0;
  if (request.keepAspect) form.Session().Photo.KeepAspect = 1;
  if (request.namingRadio) {
    SelectRadio(controls, Row(&ConversionSettings::NamingScheme).controls, *request.namingRadio);
  }
  if (request.customName) controls.SetText(kCustomNameEdit, *request.customName);
  if (request.outputFolder) {
    // The folder is chosen as the folder browser would choose it, which also saves the settings.
    shell.folderAnswers.push_back({platform::FolderChoiceOutcome::kChosen, *request.outputFolder});
    form.ChooseOutputFolder();
  }
}

// The headless shell whose waits for a run's results also watch for a stop signal: the first one
// stops the run as Esc does in the window.
class StoppableShell : public platform::HeadlessShell {
 public:
  explicit StoppableShell(const platform::StopSignals& signals) : signals_(signals) {}
  void Await(const std::function<void()>& work) override { signals_.Await(work, onStop); }

  // Runs on the form's thread when the first signal comes during a wait.
  std::function<void()> onStop;

 private:
  const platform::StopSignals& signals_;
};

// Large blocks (a photo's coefficients, its pixels, the file's bytes) are freed after each file
// and asked for again by the next. By default the allocator maps each afresh and unmaps it when
// freed, and every page of it then costs a fault again, which costs more time than the conversion
// of a large JPEG itself. Kept in the heap instead, a batch pays those faults once. The process
// ends with its batch, so what it keeps is never kept for long.
void KeepFreedMemory() {
  constexpr int kMapAbove = 512 << 20;
  constexpr int kTrimAbove = 1 << 30;
  mallopt(M_MMAP_THRESHOLD, kMapAbove);
  mallopt(M_TRIM_THRESHOLD, kTrimAbove);
}

}  // namespace

int main(int argc, char** argv) {
  // From the start, so that no signal ends the program with a temporary left behind.
  const platform::StopSignals stopSignals({SIGINT, SIGTERM, SIGHUP});
  KeepFreedMemory();
  const Request request = ParseCommandLine(argc, argv);

  platform::HeadlessControls controls(form::MainFormControls());
  StoppableShell shell(stopSignals);
  // A progress line without its line end yet; a message starts on a line of its own.
  bool progressShown = false;
  shell.onMessage = [&progressShown](const std::string& text) {
    if (std::exchange(progressShown, false)) std::fputc('\n', stderr);
    std::fprintf(stderr, "Tessellarion: %s\n", text.c_str());
  };
  shell.onNotWritten = [](const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "Tessellarion: %s: %s\n", path.c_str(), reason.c_str());
  };
  form::MainForm form(controls, shell);
  shell.onStop = [&form] { form.CancelRun(); };
  if (request.jobs) form.SetJobs(*request.jobs);
  form.InitialUpdate();
  Apply(request, controls, shell, form);
  form.AddDroppedFiles(request.files);

  if (isatty(STDERR_FILENO) != 0) {
    controls.onProgress = [&progressShown](ControlId id, int position, int maximum) {
      if (id == kProgressBar && position > 0) {
        std::fprintf(stderr, "\r%d / %d", position, maximum);
        progressShown = position != maximum;
        if (!progressShown) std::fputc('\n', stderr);
      }
    };
  }
  const form::BatchOutcome outcome = form.BatchRun();
  if (const int signalNumber = stopSignals.Received()) return 128 + signalNumber;
  if (!outcome.ran) return kExitNotRun;
  return outcome.notWritten == 0 ? kExitWritten : kExitSomeNotWritten;
}
