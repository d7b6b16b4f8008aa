// tessellarion [FILE...]: the converter's window. The files named on the command line (a file
// manager opening pictures with the program) are added to the input list as one drop.
//
// The build's own copy for the help's pictures (tessellarion-screenshot, never installed) also
// knows two switches:
//   --screenshot-main FILE [IMAGE...]  saves the main window as a PNG after the start, with the
//                                      images dropped on the input list and the first selected
//   --screenshot-about FILE            saves the About box as a PNG
// Either makes the program exit once the picture is saved.
#include <QApplication>
#include <QFile>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AboutBox.h"
#include "app/Desktop.h"
#include "app/DialogUnits.h"
#include "app/MainWindow.h"
#include "app/Resources.h"
#include "engine/ControlIds.h"

namespace {

#ifdef TESSELLARION_SCREENSHOT_SWITCHES
// Lets every pending paint and layout run before a widget is grabbed.
void Settle() {
  for (int round = 0; round < 5; ++round) QApplication::processEvents();
}

int SaveGrab(QWidget& widget, const QString& file) {
  Settle();
  if (!widget.grab().save(file, "PNG")) {
    std::fprintf(stderr, "tessellarion: cannot write %s\n", QFile::encodeName(file).constData());
    return 1;
  }
  return 0;
}

// Takes the picture the switch asks for; nothing when the command line names no switch.
std::optional<int> TakeScreenshot(app::MainWindow& window, const std::vector<std::string>& names) {
  if (names.size() >= 2 && names[0] == "--screenshot-main") {
    const std::vector<std::string> images(names.begin() + 2, names.end());
    if (!images.empty()) {
      window.AddCommandLineFiles(images);
      window.Form().Controls().SetListSelection(engine::kInputList, 0);
      window.Form().Form().ShowSelectedFile();
    }
    return SaveGrab(window, QFile::decodeName(names[1].c_str()));
  }
  if (names.size() >= 2 && names[0] == "--screenshot-about") {
    app::AboutBox box(window.Shell(), &window);
    box.show();
    return SaveGrab(box, QFile::decodeName(names[1].c_str()));
  }
  return std::nullopt;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // Qt takes its own options (-platform, -display ...) out of argv; the rest are file names, as
  // the bytes the caller gave.
  QApplication application(argc, argv);
  const std::vector<std::string> names(argv + 1, argv + argc);
  QApplication::setApplicationName(QStringLiteral("Tessellarion"));
  QApplication::setWindowIcon(app::ApplicationIcon());
  QApplication::setFont(app::DialogFont());
  app::InstallQtTranslation();

  // Caught from before the window exists, so no signal can slip past the clean-up.
  std::unique_ptr<app::MainWindow> window;
  app::TerminationSignals terminationSignals(
      [&window] { return window && window->CloseForTermination(); },
      [&window] {
        if (window) window->Form().Form().RemovePreviewImages();
      });
  window = std::make_unique<app::MainWindow>();
  window->show();
#ifdef TESSELLARION_SCREENSHOT_SWITCHES
  if (const std::optional<int> shot = TakeScreenshot(*window, names)) return *shot;
#endif
  window->AddCommandLineFilesOnceRunning(names);
  const int status = QApplication::exec();
  // The form goes as on a normal close, its preview images with it, before a signal that ended
  // the loop ends the process.
  window.reset();
  terminationSignals.EndByReceivedSignal();
  return status;
}
