// The window on Qt: the form built from the control table, the wiring of user actions to the
// form's handlers, the window's frame, menu and accelerators, help and the About box.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QUrl>

#include "app/AboutBox.h"
#include "app/Help.h"
#include "app/MainWindow.h"
#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "imaging/HandleTable.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "tests/app/QtTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;
using testsupport::FileExists;

// Takes the URLs the program asks the desktop to open, instead of starting a browser.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  UrlRecorder() {
    for (const char* scheme : {"file", "https", "mailto"}) {
      QDesktopServices::setUrlHandler(QString::fromUtf8(scheme), this, "Open");
    }
  }
  ~UrlRecorder() override {
    for (const char* scheme : {"file", "https", "mailto"}) {
      QDesktopServices::unsetUrlHandler(QString::fromUtf8(scheme));
    }
  }
  Q_INVOKABLE void Open(const QUrl& url) { opened.push_back(url); }
  std::vector<QUrl> opened;
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    engine::ResetProcessState();
    imaging::ResetHandleTable();
    window = std::make_unique<app::MainWindow>(folder.Path());
    apptest::SaveImage(testsupport::LetterF(), folder.File("f.bmp"));
    apptest::SaveImage(testsupport::LetterF(), folder.File("g.png"));
  }
  ~MainWindowTest() override {
    window.reset();
    EXPECT_EQ(imaging::LiveImageCount(), 0u) << "an image was not released";
  }
  app::QtControls& Controls() { return window->Form().Controls(); }
  template <typename Widget>
  Widget* Find(ControlId id) {
    return qobject_cast<Widget*>(Controls().Widget(id));
  }
  void Drop(QWidget* target, const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QApplication::processEvents();  // the files are added once the drop has finished
  }

  testsupport::TempFolder folder;
  std::unique_ptr<app::MainWindow> window;
};

TEST_F(MainWindowTest, EveryControlOfTheTableIsBuiltWithItsCaptionAndPlace) {
  const auto& table = form::MainFormControls();
  const std::vector<QWidget*>& widgets = Controls().Widgets();
  ASSERT_EQ(widgets.size(), table.size());
  const app::DialogUnits& units = Controls().Units();
  for (std::size_t index = 0; index < table.size(); ++index) {
    const platform::ControlDefinition& definition = table[index];
    QWidget* widget = widgets[index];
    SCOPED_TRACE(definition.caption + " " + std::to_string(definition.id));
    if (definition.id != platform::kNoControlId) {
      EXPECT_EQ(Controls().Widget(definition.id), widget);
    }
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) shown = group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    EXPECT_EQ(shown.toStdString(), definition.caption);
    const QRect place = units.ToPixels(definition.rect);
    EXPECT_EQ(widget->pos(), place.topLeft());
    EXPECT_EQ(widget->width(), place.width());
    if (definition.kind == platform::ControlKind::kComboBox) {
      EXPECT_EQ(widget->height(), units.Vertical(12)) << "the table gives the dropped list";
    } else {
      EXPECT_EQ(widget->height(), place.height());
    }
  }
  EXPECT_EQ(window->Form().size(),
            QSize(units.Horizontal(form::kFormWidth), units.Vertical(form::kFormHeight)));
  EXPECT_TRUE(Find<QLineEdit>(kBeforeSizeEdit)->isReadOnly());
  EXPECT_EQ(Find<QComboBox>(kRotationCombo)->insertPolicy(), QComboBox::NoInsert);
}

TEST_F(MainWindowTest, AClickChangesOnlyItsOwnRadioGroup) {
  ASSERT_TRUE(Controls().IsChecked(kFormatBmpRadio));
  QTest::mouseClick(Find<QRadioButton>(kFormatPngRadio), Qt::LeftButton);
  QTest::mouseClick(Find<QRadioButton>(kFormatPngRadio), Qt::LeftButton);  // a second click
  EXPECT_TRUE(Controls().IsChecked(kFormatPngRadio));
  EXPECT_FALSE(Controls().IsChecked(kFormatBmpRadio));
  Find<QRadioButton>(kNamingNumberRadio)->click();
  EXPECT_FALSE(Controls().IsChecked(kNamingKeepRadio));
  EXPECT_TRUE(Controls().IsChecked(kFormatPngRadio));
  EXPECT_TRUE(Controls().IsChecked(kSizeKeepRadio));
}

TEST_F(MainWindowTest, FilesDroppedOnTheListAreAddedAndDropsElsewhereAreRefused) {
  auto* list = Find<QListWidget>(kInputList);
  apptest::MessageBoxCatcher catcher;
  testsupport::WriteFileText(folder.File("notes.txt"), "not a picture");
  Drop(list->viewport(), {folder.File("f.bmp"), folder.File("notes.txt"), folder.File("g.png")});
  EXPECT_EQ(Controls().ListCount(kInputList), 2);
  EXPECT_EQ(Controls().ListEntry(kInputList, 1), folder.File("g.png"));
  EXPECT_EQ(catcher.shown.size(), 1u) << "the text file is refused with a message";

  // The drag machinery hands a drop to the first widget under the pointer that accepts drops;
  // only the list does.
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const bool isList = widget == list || widget == list->viewport();
    EXPECT_EQ(widget->acceptDrops(), isList) << widget->metaObject()->className();
  }
  EXPECT_FALSE(window->acceptDrops());
  QMimeData text;
  text.setText("no files");
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &enter);
  EXPECT_FALSE(enter.isAccepted()) << "a drag without files is refused by the list too";
}

TEST_F(MainWindowTest, OnlyUserChangesReachTheHandlers) {
  auto* slider = Find<QSlider>(kCompressionSlider);
  Controls().SetSliderPosition(kCompressionSlider, 60, true);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "20") << "a programmed move is not reported";
  slider->setFocus();
  QTest::keyClick(slider, Qt::Key_Right);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "61");

  Controls().AppendListEntry(kInputList, folder.File("f.bmp"));
  Controls().SetListSelection(kInputList, 0);
  EXPECT_EQ(Controls().Text(kBeforeKindEdit), "????") << "a programmed selection is not shown";
  auto* list = Find<QListWidget>(kInputList);
  Controls().SetListSelection(kInputList, -1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(Controls().ListSelection(kInputList), 0);
  EXPECT_EQ(Controls().Text(kBeforeKindEdit), "BMP");
  EXPECT_EQ(Controls().Text(kBeforeWidthEdit), "6");
}

TEST_F(MainWindowTest, ExecuteConvertsTheListAndReportsThroughMessageBoxes) {
  const std::string out = folder.File("out/");
  platform::CreateFolder(out);
  Settings().OutputFolder = out;
  {
    apptest::MessageBoxCatcher catcher;
    Find<QPushButton>(kExecuteButton)->click();
    EXPECT_EQ(catcher.Texts(), std::vector<std::string>{"入力ファイルを追加してください！！"});
  }
  Drop(Find<QListWidget>(kInputList)->viewport(), {folder.File("f.bmp"), folder.File("g.png")});
  QTest::mouseClick(Find<QRadioButton>(kFormatJpegRadio), Qt::LeftButton);
  Find<QRadioButton>(kNamingNumberRadio)->click();
  apptest::MessageBoxCatcher catcher;
  Find<QPushButton>(kExecuteButton)->click();
  EXPECT_EQ(catcher.Texts(), std::vector<std::string>{"変換完了！！"});
  EXPECT_EQ(testsupport::FolderEntries(out), (std::vector<std::string>{"1.jpg", "2.jpg"}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is off again";
}

TEST_F(MainWindowTest, ThePreviewOpensItsPageAndTheFormRemovesItsImagesOnClosing) {
  UrlRecorder recorder;
  Controls().AppendListEntry(kInputList, folder.File("g.png"));
  Controls().SetListSelection(kInputList, 0);
  Find<QPushButton>(kPreviewButton)->click();
  ASSERT_EQ(recorder.opened.size(), 1u);
  EXPECT_EQ(recorder.opened[0],
            QUrl::fromLocalFile(QString::fromStdString(folder.File("LogFile/LOG.html"))));
  EXPECT_TRUE(FileExists(folder.File("LogFile/Temp.log")));
  window.reset();
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")),
            (std::vector<std::string>{"LOG.html", "Log.ini"}));
}

TEST_F(MainWindowTest, TheFrameKeepsItsTitleAndHasNoMaximizeBox) {
  const QString title = QString::fromUtf8("TessellarionβＶｅｒ１．０２");
  EXPECT_EQ(window->windowTitle(), title);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_LE(window->width(), window->Form().width()) << "the window opens no wider than the form";
  window->NewAction()->trigger();
  window->OpenDocument(QString::fromStdString(folder.File("f.bmp")));
  EXPECT_EQ(window->windowTitle(), title);
}

TEST_F(MainWindowTest, MenusAndAcceleratorsAreThereAndLeaveEditingKeysAlone) {
  QStringList texts;
  for (QAction* menu : window->menuBar()->actions()) {
    texts << menu->text();
    for (QAction* item : menu->menu()->actions()) texts << "  " + item->text();
  }
  EXPECT_EQ(texts.join("|").toStdString(),
            "FILE(&F)|  ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)|HELP(&H)|  ヘルプ|  ヴァージョン");

  EXPECT_EQ(window->NewAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
  EXPECT_EQ(window->OpenAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_EQ(window->SaveAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  for (QAction* action : window->findChildren<QAction*>()) {
    for (const QKeySequence& keys :
         {QKeySequence(QKeySequence::Undo), QKeySequence(QKeySequence::Cut),
          QKeySequence(QKeySequence::Copy), QKeySequence(QKeySequence::Paste),
          QKeySequence(Qt::Key_F6)}) {
      EXPECT_FALSE(action->shortcuts().contains(keys)) << keys.toString().toStdString();
    }
  }
}

TEST_F(MainWindowTest, NewAndOpenRestartTheFormWithoutDuplicatingEntries) {
  Controls().SetText(kBeforeSizeEdit, "123");
  window->NewAction()->trigger();
  EXPECT_EQ(Controls().ComboCount(kBmpDepthCombo), 4);
  EXPECT_EQ(Controls().ComboCount(kColorEffectCombo), 9);
  EXPECT_EQ(Controls().Text(kBeforeSizeEdit), "123") << "the placeholders come only once";

  // The recent-file list: most recent first, each file once, four at most.
  for (const char* name : {"a", "b", "c", "d", "b", "e"}) {
    window->OpenDocument(QString::fromStdString(folder.File(name)));
  }
  QSettings settings(QString::fromUtf8(app::kSettingsOrganization),
                     QString::fromUtf8(app::kSettingsApplication));
  QStringList expected;
  for (const char* name : {"e", "b", "d", "c"})
    expected << QString::fromStdString(folder.File(name));
  EXPECT_EQ(app::RecentFiles(settings), expected);
  EXPECT_EQ(Controls().ComboCount(kRotationCombo), 72);
}

TEST(HelpTest, TheTopPageIsOpenedFromTheCurrentFolderElseBesideTheProgram) {
  testsupport::TempFolder current;
  testsupport::TempFolder program;
  const std::string previous = platform::CurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(current.Path()));
  platform::HeadlessShell shell;

  app::OpenHelp(shell, program.Path());
  EXPECT_EQ(shell.messages, std::vector<std::string>{"HELPが見つかりませんでした。"});
  EXPECT_TRUE(shell.openedDocuments.empty());

  platform::CreateFolder(program.File("HELP"));
  testsupport::WriteFileText(program.File("HELP/HTop.html"), "<html></html>");
  app::OpenHelp(shell, program.Path());
  platform::CreateFolder(current.File("HELP"));
  testsupport::WriteFileText(current.File("HELP/HTop.html"), "<html></html>");
  app::OpenHelp(shell, program.Path());
  EXPECT_EQ(shell.openedDocuments, (std::vector<std::string>{program.File("HELP/HTop.html"),
                                                             current.File("HELP/HTop.html")}));
  EXPECT_EQ(shell.messages.size(), 1u);
  platform::SetCurrentFolder(previous);
}

TEST(AboutBoxTest, ShowsTheVersionAndOpensItsLinks) {
  platform::HeadlessShell shell;
  app::AboutBox box(shell);
  EXPECT_EQ(box.windowTitle(), QString::fromUtf8("Tessellarionバージョン情報"));
  QStringList texts;
  for (QLabel* label : box.findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QString::fromUtf8("Tessellarion Version 1.02")));
  EXPECT_EQ(box.HomePageLink()->text(), QString::fromUtf8("→ ") + app::kHomePage);
  QTest::mouseClick(box.HomePageLink(), Qt::LeftButton);
  QTest::mouseClick(box.MailLink(), Qt::LeftButton);
  EXPECT_EQ(shell.openedDocuments,
            (std::vector<std::string>{app::kHomePage, std::string("mailto:") + app::kMailAddress}));
}

}  // namespace

#include "MainWindowTest.moc"
