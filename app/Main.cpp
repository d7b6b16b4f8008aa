// tessellarion: the converter's window.
//
// Two switches are for making the help's pictures and are not advertised:
//   --screenshot-main FILE [IMAGE...]  saves the main window as a PNG after the start, with the
//                                      images dropped on the input list and the first selected
//   --screenshot-about FILE            saves the About box as a PNG
// Either makes the program exit once the picture is saved.
#include <QApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <string>
#include <vector>

#include "app/AboutBox.h"
#include "app/DialogUnits.h"
#include "app/MainWindow.h"
#include "app/Resources.h"
#include "engine/ControlIds.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessellarion"));
  QApplication::setWindowIcon(app::ApplicationIcon());
  QApplication::setFont(app::DialogFont());

  const QStringList arguments = QApplication::arguments();
  app::MainWindow window;
  window.show();

  if (arguments.size() >= 3 && arguments[1] == QStringLiteral("--screenshot-main")) {
    std::vector<std::string> images;
    for (qsizetype index = 3; index < arguments.size(); ++index) {
      images.push_back(QFile::encodeName(arguments[index]).toStdString());
    }
    if (!images.empty()) {
      window.Form().Form().AddDroppedFiles(images);
      window.Form().Controls().SetListSelection(engine::kInputList, 0);
      window.Form().Form().ShowSelectedFile();
    }
    return SaveGrab(window, arguments[2]);
  }
  if (arguments.size() >= 3 && arguments[1] == QStringLiteral("--screenshot-about")) {
    app::AboutBox box(window.Shell(), &window);
    box.show();
    return SaveGrab(box, arguments[2]);
  }
  return QApplication::exec();
}
