// The window on Qt: the form built from the control table, user actions reaching the form's
// handlers, the window's title, menu and accelerators, help and the About box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>

#include "app/AboutBox.h"
#include "app/Help.h"
#include "app/MainWindow.h"
#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;
using Texts = std::vector<std::string>;

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    ResetProcessState();
    window = std::make_unique<app::MainWindow>(folder.Path());
  }
  app::QtControls& Controls() { return window->Form().Controls(); }
  QWidget* Widget(ControlId id) { return Controls().Widget(id); }
  // Drops a BMP of the letter F on the input list, as a file manager would.
  void DropLetterF() {
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(
        testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.bmp"))))});
    QWidget* target = static_cast<QListWidget*>(Widget(kInputList))->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QApplication::processEvents();  // the files are added once the drop has finished
  }

  testsupport::TempFolder folder;
  std::unique_ptr<app::MainWindow> window;
};

TEST_F(MainWindowTest, EveryControlOfTheTableIsBuiltWithItsCaptionAndPlace) {
  const auto& table = form::MainFormControls();
  ASSERT_EQ(Controls().Widgets().size(), table.size());
  const app::DialogUnits& units = Controls().Units();
  for (std::size_t index = 0; index < table.size(); ++index) {
    const platform::ControlDefinition& definition = table[index];
    QWidget* widget = Controls().Widgets()[index];
    SCOPED_TRACE(definition.caption + " " + std::to_string(definition.id));
    EXPECT_EQ(Widget(definition.id), definition.id == platform::kNoControlId ? nullptr : widget);
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) shown = group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    EXPECT_EQ(shown.toStdString(), definition.caption);
    // A combo box shows its edit field; the table gives the height of the dropped list.
    QRect place = units.ToPixels(definition.rect);
    if (definition.kind == platform::ControlKind::kComboBox) place.setHeight(units.Vertical(12));
    EXPECT_EQ(widget->geometry(), place);
  }
}

TEST_F(MainWindowTest, UserActionsReachTheFormAndProgrammedChangesDoNot) {
  Controls().SetSliderPosition(kCompressionSlider, 60, true);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "20") << "a programmed move is not reported";
  QTest::keyClick(Widget(kCompressionSlider), Qt::Key_Right);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "61");
  // A click checks its button and unchecks the rest of its group alone; a second click keeps it.
  for (ControlId id : {kFormatJpegRadio, kFormatJpegRadio, kNamingNumberRadio}) {
    QTest::mouseClick(Widget(id), Qt::LeftButton);
  }
  for (ControlId id :
       {kFormatBmpRadio, kFormatJpegRadio, kNamingKeepRadio, kNamingNumberRadio, kSizeKeepRadio}) {
    EXPECT_EQ(Controls().IsChecked(id), id != kFormatBmpRadio && id != kNamingKeepRadio) << id;
  }

  DropLetterF();
  auto* list = static_cast<QListWidget*>(Widget(kInputList));
  ASSERT_EQ(Controls().ListCount(kInputList), 1);
  // Only the list takes drops: the drag machinery hands a drop to the first widget that does.
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    EXPECT_EQ(widget->acceptDrops(), widget == list || widget == list->viewport());
  }

  Controls().SetListSelection(kInputList, 0);
  EXPECT_EQ(Controls().Text(kBeforeKindEdit), "????") << "a programmed selection is not shown";
  Controls().SetListSelection(kInputList, -1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(Controls().Text(kBeforeKindEdit), "BMP");
  QTest::mouseClick(Widget(kDeleteAllButton), Qt::LeftButton);
  EXPECT_EQ(Controls().ListCount(kInputList), 0);
}

TEST_F(MainWindowTest, ExecuteReportsThroughWarningBoxesCaptionedWithTheProgramName) {
  // Each box the run shows is recorded and closed with its OK button as soon as it is up.
  Texts shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    EXPECT_EQ(box->windowTitle().toStdString(), platform::kMessageBoxCaption);
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    shown.push_back(box->text().toStdString());
    box->button(QMessageBox::Ok)->click();
  });
  closer.start(1);
  const auto execute = [&] { QTest::mouseClick(Widget(kExecuteButton), Qt::LeftButton); };
  execute();
  DropLetterF();
  Settings().OutputFolder = folder.File("out/");
  platform::CreateFolder(Settings().OutputFolder);
  QTest::mouseClick(Widget(kNamingNumberRadio), Qt::LeftButton);
  execute();
  EXPECT_EQ(shown, (Texts{"入力ファイルを追加してください！！", "変換完了！！"}));
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")), Texts{"1.bmp"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is off again";
}

// A run of files that take a moment each, started with the given action once the run waits for
// its first result. Message boxes are closed as they come up and recorded.
struct RunInWindow {
  Texts shown;
  std::map<ControlId, bool> enabledDuringRun;
  form::BatchOutcome outcome;
  Texts outputs;
};

RunInWindow RunAndInterrupt(app::MainWindow& window, testsupport::TempFolder& folder,
                            const std::function<void()>& interrupt) {
  std::vector<std::string> files;
  for (int index = 0; index < 24; ++index) {
    files.push_back(testsupport::SaveImageFile(testsupport::PhotoLike(640, 480),
                                               folder.File("p" + std::to_string(index) + ".png")));
  }
  window.Form().Form().AddDroppedFiles(files);
  Settings().OutputFolder = folder.File("out/");
  platform::CreateFolder(Settings().OutputFolder);
  app::QtControls& controls = window.Form().Controls();
  RunInWindow run;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    run.shown.push_back(box->text().toStdString());
    box->button(QMessageBox::Ok)->click();
  });
  closer.start(1);
  bool interrupted = false;
  window.Shell().SetAwaitGrace(std::chrono::milliseconds(0));
  window.Shell().onAwait = [&] {
    if (interrupted) return;
    interrupted = true;
    for (ControlId id :
         {kExecuteButton, kInputList, kAddFileButton, kDeleteAllButton, kFormatPngRadio, kCropCheck,
          kWidthEdit, kCompressionSlider, kPreviewButton, kBrowseFolderButton}) {
      run.enabledDuringRun[id] = controls.IsEnabled(id);
    }
    interrupt();
  };
  controls.SetChecked(kFormatPngRadio, true);
  run.outcome = window.Form().Form().BatchRun();
  window.Shell().onAwait = nullptr;
  run.outputs = testsupport::FolderEntries(folder.File("out"));
  EXPECT_TRUE(interrupted) << "the run never waited";
  return run;
}

TEST_F(MainWindowTest, DuringARunTheJobIsLockedAndEscStopsIt) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  const RunInWindow run =
      RunAndInterrupt(*window, folder, [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
  for (const auto& [id, enabled] : run.enabledDuringRun) EXPECT_FALSE(enabled) << id;
  for (const auto& [id, enabled] : run.enabledDuringRun)
    EXPECT_TRUE(Controls().IsEnabled(id)) << id;
  EXPECT_TRUE(run.outcome.cancelled);
  EXPECT_LT(run.outputs.size(), 24u) << "entries after Esc were started";
  EXPECT_EQ(run.outcome.notWritten, 24 - static_cast<int>(run.outputs.size()));
  for (const std::string& name : run.outputs)
    EXPECT_EQ(name.rfind(".tessellarion-", 0), std::string::npos);
  EXPECT_EQ(run.shown, (Texts{std::to_string(run.outcome.notWritten) +
                                  "件のファイルを変換できませんでした！！",
                              "変換完了！！"}));
}

TEST_F(MainWindowTest, ClosingTheWindowDuringARunStopsItWithoutMessages) {
  window->show();
  const RunInWindow run = RunAndInterrupt(*window, folder, [&] { window->close(); });
  EXPECT_TRUE(window->isVisible()) << "the window waits for the run";
  EXPECT_TRUE(run.outcome.cancelled);
  EXPECT_TRUE(run.shown.empty());
  for (const std::string& name : run.outputs)
    EXPECT_EQ(name.rfind(".tessellarion-", 0), std::string::npos);
  QTest::qWait(200);
  EXPECT_FALSE(window->isVisible()) << "the window closes once the run has ended";
}

TEST_F(MainWindowTest, TheTitleMenuAcceleratorsAndRecentFiles) {
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  QStringList texts{window->windowTitle()};
  for (QAction* menu : window->menuBar()->actions()) {
    texts << menu->text();
    for (QAction* item : menu->menu()->actions()) texts << "  " + item->text();
  }
  // Undo, cut, copy, paste and F6 stay with the focused control.
  for (QAction* action : window->findChildren<QAction*>()) {
    for (const QKeySequence& keys : action->shortcuts()) texts << keys.toString();
  }
  EXPECT_EQ(texts.join("|").toStdString(),
            "TessellarionβＶｅｒ１．０２|FILE(&F)|  ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)|HELP(&H)|  ヘルプ|"
            "  ヴァージョン|Ctrl+N|Ctrl+O|Ctrl+S|Esc");

  // What Ctrl+O opens heads the recent-file list: each file once, four at most.
  for (const char* name : {"a", "b", "c", "d", "b", "e"}) {
    window->OpenDocument(QString::fromStdString(folder.File(name)));
  }
  QSettings settings(app::kSettingsOrganization, app::kSettingsApplication);
  EXPECT_EQ(app::RecentFiles(settings).join("").remove(folder.Path().c_str()).toStdString(),
            "ebdc");
}

TEST(HelpTest, TheTopPageIsOpenedFromTheCurrentFolderElseBesideTheProgram) {
  testsupport::TempFolder current;
  testsupport::TempFolder program;
  const std::string previous = platform::CurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(current.Path()));
  platform::HeadlessShell shell;
  app::OpenHelp(shell, program.Path());
  for (const testsupport::TempFolder* folder : {&program, &current}) {
    platform::CreateFolder(folder->File("HELP"));
    testsupport::WriteFileText(folder->File("HELP/HTop.html"), "");
    app::OpenHelp(shell, program.Path());
  }
  platform::SetCurrentFolder(previous);
  EXPECT_EQ(shell.messages, Texts{"HELPが見つかりませんでした。"});
  EXPECT_EQ(shell.openedDocuments,
            (Texts{program.File("HELP/HTop.html"), current.File("HELP/HTop.html")}));
}

TEST(AboutBoxTest, ShowsTheVersionAndOpensItsLinks) {
  platform::HeadlessShell shell;
  app::AboutBox box(shell);
  QStringList texts{box.windowTitle()};
  for (QLabel* label : box.findChildren<QLabel*>()) texts << label->text();
  EXPECT_EQ(texts.join("|").toStdString(),
            std::string("Tessellarionバージョン情報||Tessellarion Version 1.02|2004/01/24 VerUp|"
                        "（・∀・）ｺﾄｼﾓﾖﾛｼｸ!! |ホムペ|メル|→ ") +
                app::kHomePage + "|→ " + app::kMailAddress);
  QTest::mouseClick(box.HomePageLink(), Qt::LeftButton);
  QTest::mouseClick(box.MailLink(), Qt::LeftButton);
  EXPECT_EQ(shell.openedDocuments,
            (Texts{app::kHomePage, std::string("mailto:") + app::kMailAddress}));
}

}  // namespace
