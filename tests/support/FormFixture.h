// A headless main form with a session of its own, with the executable's folder in a temporary
// folder, for tests of the engine, the settings file and the form; and the same form started, for
// batch runs into an empty output folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/ControlIds.h"
#include "engine/Session.h"
#include "form/MainForm.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

// The lines of a valid settings file, with values away from the reset ones and mostly distinct,
// so that a swapped field shows.
// clang-format off
inline const std::vector<std::string> kValidSettingsLines = {
    "TessellarionVer102", "/photos/out dir/", "2", "2", "800", "600", "3", "1", "0", "35", "4",
    "71", "1", "10", "20", "30", "40", "2", "holiday"};
// clang-format on

// The lines as the text of a settings file, each ended by `end`.
inline std::string FileText(const std::vector<std::string>& lines,
                            const std::string& end = "\r\n") {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

class FormFixture : public ::testing::Test {
 protected:
  FormFixture();
  ~FormFixture() override;

  // Puts a new form, with a new session, on the same controls, as a new process would.
  void Restart();
  // The session of the form.
  engine::Session& Session() { return form->Session(); }
  // Writes a bitmap through the imaging library as BMP, JPEG or PNG into the temporary folder.
  std::string SaveImage(const imaging::Bitmap& bitmap, const std::string& name);

  TempFolder folder;
  platform::HeadlessControls controls;
  platform::HeadlessShell shell;
  std::unique_ptr<form::MainForm> form;
};

// An output format as the form offers it, and the extension of the files a batch writes in it.
struct OutputFormat {
  platform::ControlId radio;
  std::string extension;
};
inline const std::vector<OutputFormat> kOutputFormats = {{engine::kFormatBmpRadio, "bmp"},
                                                         {engine::kFormatJpegRadio, "jpg"},
                                                         {engine::kFormatPngRadio, "png"},
                                                         {engine::kFormatHtmRadio, "htm"}};

// The main form after its start, with an empty output folder `out/` chosen. A hang ends the test
// process with a message after 200 s, far beyond any test's time, so it fails the test
// instead of stalling the suite until a timeout.
class BatchFixture : public FormFixture {
 protected:
  BatchFixture() {
    EndTheProgramAfter(200, "the test did not end within 200 s: something hangs\n");
    form->InitialUpdate();
    std::filesystem::create_directory(outFolder);
    Session().Settings.OutputFolder = outFolder;
  }

  // Checks `radio` and clears the others of its group of `count` buttons from `first` on, as a
  // click does.
  void Select(platform::ControlId radio, platform::ControlId first, int count) {
    for (platform::ControlId id = first; id < first + count; ++id)
      controls.SetChecked(id, id == radio);
  }
  void SelectFormat(platform::ControlId radio) { Select(radio, engine::kFormatBmpRadio, 4); }

  // Empties the output folder, forgets the messages and puts the paths on the list as they are,
  // without the checks of a drop.
  void List(const std::vector<std::string>& paths) {
    for (const auto& entry : std::filesystem::directory_iterator(outFolder))
      std::filesystem::remove_all(entry.path());
    form->DeleteAllEntries();
    shell.messages.clear();
    for (const std::string& path : paths) controls.AppendListEntry(engine::kInputList, path);
    Session().Flags.InputPresent = 1;
  }

  std::vector<std::string> Outputs() const { return FolderEntries(outFolder); }

  std::string outFolder = folder.File("out/");
};

}  // namespace testsupport
