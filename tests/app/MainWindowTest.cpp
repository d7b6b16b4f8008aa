// The window on Qt: the form built from the control table, user actions reaching the form's
// handlers, the window's title, menu and accelerators, help and the About box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include "app/AboutBox.h"
#include "app/DialogUnits.h"
#include "app/Help.h"
#include "app/MainWindow.h"
#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
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

// The main form's 82 controls in their order: id (-1 for frames and labels) and caption.
// clang-format off
const std::pair<int, const char*> kFormControls[] = {
    {-1, "１．ファイルの設定"}, {-1, "１-１ 入力ファイル"}, {1013, ""}, {1014, "ファイルから追加"},
    {1015, "一つ削除"}, {1016, "すべて削除"}, {1037, "総サイズ計算"}, {-1, "総ファイル数"},
    {1045, ""}, {-1, "総ファイルサイズ"}, {1046, ""}, {-1, "Byte"}, {-1, "１-２ 出力フォルダ"},
    {1005, ""}, {1007, "参照"}, {-1, "ファイルサイズ"}, {-1, "容量"}, {1017, ""}, {-1, "Byte"},
    {1018, ""}, {-1, "×"}, {1019, ""}, {-1, "拡張子"}, {1024, ""}, {-1, "↓変換後↓"},
    {-1, "容量"}, {1020, ""}, {-1, "Byte"}, {1021, ""}, {-1, "×"}, {1022, ""}, {-1, "拡張子"},
    {1025, ""}, {-1, "２．ファイルの名前"}, {1033, "そのまま 　※同じファイルは上書き"},
    {1034, "１．２．３．．．と数字だけを順番に付ける"},
    {1035, "任意　　※任意の文字列に数字を順番に付ける"}, {1036, ""}, {-1, "半角20　全角10"},
    {-1, "３．拡張子の変換"}, {1000, "BMPに変換"}, {1001, "JPGに変換"}, {1002, "PNGに変換"},
    {1003, "HTMに変換"}, {-1, "４．サイズ"}, {1008, "そのまま"}, {1009, "640×480"},
    {1010, "サイズ指定  　※2000×2000まで"}, {1011, ""}, {-1, "×"}, {1012, ""},
    {-1, "５．主な設定"}, {-1, "BMP限定"}, {1023, ""}, {-1, "PNG限定"}, {1027, "インタレース"},
    {-1, "JPG限定"}, {1028, "プログレッシブ"}, {-1, "画質"}, {-1, "高"}, {-1, "低"},
    {-1, "圧縮率"}, {1029, ""}, {1032, ""}, {-1, "%"}, {-1, "６．編集"}, {-1, "色"}, {1039, ""},
    {-1, "回転"}, {1038, ""}, {-1, "切り抜き"}, {1042, ""}, {-1, "左上Ｘ"}, {1040, ""},
    {-1, "左上Ｙ"}, {1041, ""}, {1030, ""}, {-1, "×"}, {1043, ""}, {1048, "画質プレビュー"},
    {1031, "実行"}, {1047, ""}};
// clang-format on

TEST_F(MainWindowTest, EveryControlIsBuiltWithItsIdCaptionAndPlace) {
  const auto& table = form::MainFormControls();
  ASSERT_EQ(Controls().Widgets().size(), std::size(kFormControls));
  const app::DialogUnits& units = Controls().Units();
  for (std::size_t index = 0; index < table.size(); ++index) {
    const auto& [id, caption] = kFormControls[index];
    QWidget* widget = Controls().Widgets()[index];
    SCOPED_TRACE(std::string(caption) + " " + std::to_string(id));
    EXPECT_EQ(table[index].id, id);
    EXPECT_EQ(Widget(id), id == platform::kNoControlId ? nullptr : widget);
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) shown = group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    EXPECT_EQ(shown.toStdString(), caption);
    // A combo box shows its edit field; the table gives the height of the dropped list.
    QRect place = units.ToPixels(table[index].rect);
    if (table[index].kind == platform::ControlKind::kComboBox) place.setHeight(units.Vertical(12));
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
  QTest::mouseClick(Widget(kTotalSizeButton), Qt::LeftButton);
  EXPECT_EQ(Controls().Text(kTotalSizeEdit), "154") << "the BMP's bytes: 54 + 5 rows of 20";
  DropLetterF();
  QTest::mouseClick(Widget(kDeleteOneButton), Qt::LeftButton);
  EXPECT_EQ(Controls().ListCount(kInputList), 1) << "the selected entry alone";
  DropLetterF();
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

TEST_F(MainWindowTest, TheAddAndBrowseButtonsOpenTheirOwnDialogs) {
  // Each dialog is recorded by its title and cancelled as soon as it is up.
  Texts titles;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    titles.push_back(dialog->windowTitle().toStdString());
    dialog->reject();
  });
  closer.start(1);
  QTest::mouseClick(Widget(kAddFileButton), Qt::LeftButton);
  QTest::mouseClick(Widget(kBrowseFolderButton), Qt::LeftButton);
  EXPECT_EQ(titles, (Texts{"どのファイルを変換する？？", "フォルダを指定してください"}));
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
            "  ヴァージョン|Ctrl+N|Ctrl+O|Ctrl+S");

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
  const app::DialogUnits units(box.font());
  EXPECT_EQ(box.size(), QSize(units.Horizontal(203), units.Vertical(116)));
  QStringList texts{box.windowTitle()};
  for (QLabel* label : box.findChildren<QLabel*>()) texts << label->text();
  for (QGroupBox* group : box.findChildren<QGroupBox*>()) texts << group->title();
  for (QAbstractButton* button : box.findChildren<QAbstractButton*>()) texts << button->text();
  EXPECT_EQ(texts.join("|").toStdString(),
            std::string("Tessellarionバージョン情報||Tessellarion Version 1.02|2004/01/24 VerUp|"
                        "（・∀・）ｺﾄｼﾓﾖﾛｼｸ!! |ホムペ|メル|→ ") +
                app::kHomePage + "|→ " + app::kMailAddress + "|サポート|閉じる");
  QTest::mouseClick(box.HomePageLink(), Qt::LeftButton);
  QTest::mouseClick(box.MailLink(), Qt::LeftButton);
  EXPECT_EQ(shell.openedDocuments,
            (Texts{app::kHomePage, std::string("mailto:") + app::kMailAddress}));
}

}  // namespace
