// The window on Qt: the form built from the control table, user actions reaching the form's
// handlers, the window's title, menu and accelerators, help and the About box.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>
#include <QtWidgets>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>

#include "app/AboutBox.h"
#include "app/Desktop.h"
#include "app/DialogUnits.h"
#include "app/Help.h"
#include "app/MainWindow.h"
#include "app/QtShell.h"
#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/MainForm.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;
using Texts = std::vector<std::string>;

// Runs `action`, closing each modal window as soon as it is up, and returns what each showed: a
// message box's text (answered with OK) or another dialog's title (cancelled). Every message box
// is a warning captioned with the program's name, under the normal pointer.
Texts CloseModals(const std::function<void()>& action) {
  Texts shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    const QCursor* cursor = QApplication::overrideCursor();
    EXPECT_TRUE(cursor == nullptr || cursor->shape() == Qt::ArrowCursor) << "not the wait cursor";
    auto* box = qobject_cast<QMessageBox*>(dialog);
    shown.push_back((box != nullptr ? box->text() : dialog->windowTitle()).toStdString());
    if (box == nullptr) return dialog->reject();
    EXPECT_EQ(box->windowTitle().toStdString(), "Tessellarion");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    box->button(QMessageBox::Ok)->click();
  });
  closer.start(1);
  action();
  return shown;
}

// The controls a run must lock, from each kind the form has.
constexpr ControlId kLockedDuringRun[] = {
    kExecuteButton, kInputList,         kAddFileButton, kDeleteAllButton,    kFormatPngRadio,
    kCropCheck,     kCompressionSlider, kWidthEdit,     kBrowseFolderButton, kPreviewButton};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    ResetProcessState();
    window = std::make_unique<app::MainWindow>(folder.Path());
  }
  app::QtControls& Controls() { return window->Form().Controls(); }
  QWidget* Widget(ControlId id) { return Controls().Widget(id); }
  QListWidget* List() { return static_cast<QListWidget*>(Widget(kInputList)); }
  void Click(ControlId id) { QTest::mouseClick(Widget(id), Qt::LeftButton); }
  // An x for each checked button of `ids`, a dash for each other.
  std::string Marks(std::initializer_list<ControlId> ids) {
    std::string marks;
    for (ControlId id : ids) marks += Controls().IsChecked(id) ? 'x' : '-';
    return marks;
  }
  void ShowActive() {
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  std::string MakeOutputFolder() {
    Settings().OutputFolder = folder.File("out/");
    platform::CreateFolder(Settings().OutputFolder);
    return folder.File("out");
  }
  // Drops a BMP of the letter F on the input list, as a file manager would.
  void DropLetterF() {
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(
        testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.bmp"))))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &drop);
    QApplication::processEvents();  // the files are added once the drop has finished
  }
  // Runs 24 files that take a moment each, calling `interrupt` once the run waits for its first
  // result; returns the files written.
  Texts RunAndInterrupt(const std::function<void()>& interrupt) {
    Texts files;
    for (int index = 0; index < 24; ++index) {
      files.push_back(testsupport::SaveImageFile(
          testsupport::PhotoLike(640, 480), folder.File("p" + std::to_string(index) + ".png")));
    }
    window->Form().Form().AddDroppedFiles(files);
    const std::string out = MakeOutputFolder();
    Controls().SetChecked(kFormatPngRadio, true);
    bool interrupted = false;
    window->Shell().SetAwaitGrace(std::chrono::milliseconds(0));
    window->Shell().onAwait = [&] {
      if (std::exchange(interrupted, true)) return;
      for (ControlId id : kLockedDuringRun) {
        if (Controls().IsEnabled(id)) enabledDuringRun.push_back(id);
      }
      // The read-only fields stay readable, not greyed.
      for (ControlId id : {kEntryCountEdit, kOutputFolderEdit, kBeforeSizeEdit}) {
        if (!Controls().IsEnabled(id)) enabledDuringRun.push_back(id);
      }
      interrupt();
    };
    runMessages = CloseModals([&] { outcome = window->Form().Form().BatchRun(); });
    window->Shell().onAwait = nullptr;
    EXPECT_TRUE(interrupted) << "the run never waited";
    return testsupport::FolderEntries(out);
  }

  testsupport::TempFolder folder;
  std::unique_ptr<app::MainWindow> window;
  // What the last run in the window showed, left enabled (or a read-only field disabled) while it
  // ran, and reported.
  Texts runMessages;
  std::vector<ControlId> enabledDuringRun;
  form::BatchOutcome outcome;
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

TEST_F(MainWindowTest, EveryControlIsBuiltWithItsIdAndCaption) {
  ASSERT_EQ(Controls().Widgets().size(), std::size(kFormControls));
  for (std::size_t index = 0; index < std::size(kFormControls); ++index) {
    const auto& [id, caption] = kFormControls[index];
    QWidget* widget = Controls().Widgets()[index];
    SCOPED_TRACE(std::string(caption) + " " + std::to_string(id));
    EXPECT_EQ(Widget(id), id == platform::kNoControlId ? nullptr : widget);
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) shown = group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    EXPECT_EQ(shown.toStdString(), caption);
  }
  // The sizes in bytes and the compression stand right-aligned, the count and kinds centred.
  std::string aligned;
  for (ControlId id : {kTotalSizeEdit, kBeforeSizeEdit, kAfterSizeEdit, kCompressionEdit,
                       kEntryCountEdit, kBeforeKindEdit, kAfterKindEdit}) {
    const Qt::Alignment alignment = qobject_cast<QLineEdit*>(Widget(id))->alignment();
    aligned += alignment.testFlag(Qt::AlignRight)     ? 'R'
               : alignment.testFlag(Qt::AlignHCenter) ? 'C'
                                                      : 'L';
  }
  EXPECT_EQ(aligned, "RRRRCCC");
}

TEST_F(MainWindowTest, UserActionsReachTheFormAndProgrammedChangesDoNot) {
  Controls().SetSliderPosition(kCompressionSlider, 60, true);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "20") << "a programmed move is not reported";
  QTest::keyClick(Widget(kCompressionSlider), Qt::Key_Right);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "61");
  // A click checks its button and unchecks the rest of its group alone; a second click keeps it.
  for (ControlId id : {kFormatJpegRadio, kFormatJpegRadio, kNamingNumberRadio}) Click(id);
  EXPECT_EQ(Marks({kFormatBmpRadio, kFormatJpegRadio, kNamingKeepRadio, kNamingNumberRadio,
                   kSizeKeepRadio}),
            "-x-xx");
  // Each button reaches its own handler; the two dialogs are told apart by their titles.
  EXPECT_EQ(CloseModals([&] { Click(kAddFileButton), Click(kBrowseFolderButton); }),
            (Texts{"どのファイルを変換する？？", "フォルダを指定してください"}));
  EXPECT_EQ(CloseModals([&] { Click(kExecuteButton); }),
            Texts{"入力ファイルを追加してください！！"});
  // Qt draws an empty range as a moving "busy" bar.
  auto* bar = static_cast<QProgressBar*>(Widget(kProgressBar));
  EXPECT_LT(bar->minimum(), bar->maximum()) << "the bar of an empty run stays still";
  EXPECT_EQ(bar->value(), bar->minimum());
  DropLetterF();
  DropLetterF();
  Click(kTotalSizeButton);
  EXPECT_EQ(Controls().Text(kTotalSizeEdit), "308") << "two BMPs of 54 + 5 rows of 20 bytes";
  Controls().SetListSelection(kInputList, 1);
  Click(kDeleteOneButton);
  EXPECT_EQ(Controls().ListCount(kInputList), 1) << "the selected entry alone";
  const std::string out = MakeOutputFolder();
  EXPECT_EQ(CloseModals([&] { Click(kExecuteButton); }), Texts{"変換完了！！"});
  EXPECT_EQ(testsupport::FolderEntries(out), Texts{"1.jpg"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is off again";
  Click(kDeleteAllButton);
  EXPECT_EQ(Controls().ListCount(kInputList), 0);
}

TEST_F(MainWindowTest, DuringARunTheJobIsLockedAndEscStopsIt) {
  ShowActive();
  // The photo menu, opened during the run, offers no choice: each reaches every conversion.
  auto* photoMenu = qobject_cast<QMenu*>(window->UprightAction()->parent());
  ASSERT_NE(photoMenu, nullptr);
  bool photoChoiceDuringRun = true;
  const Texts outputs = RunAndInterrupt([&] {
    emit photoMenu->aboutToShow();
    photoChoiceDuringRun =
        window->UprightAction()->isEnabled() || window->KeepMetadataAction()->isEnabled();
    QTest::keyClick(window.get(), Qt::Key_Escape);
  });
  EXPECT_FALSE(photoChoiceDuringRun);
  emit photoMenu->aboutToShow();
  EXPECT_TRUE(window->UprightAction()->isEnabled() && window->KeepMetadataAction()->isEnabled());
  EXPECT_EQ(enabledDuringRun, std::vector<ControlId>{});
  for (ControlId id : kLockedDuringRun) EXPECT_TRUE(Controls().IsEnabled(id)) << id;
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_LT(outputs.size(), 24u) << "entries after Esc were started";
  const std::string notWritten = std::to_string(24 - outputs.size());
  EXPECT_EQ(runMessages,
            (Texts{notWritten + "件のファイルを変換できませんでした！！", "変換完了！！"}));
}

TEST_F(MainWindowTest, ClosingTheWindowDuringARunStopsItWithoutMessages) {
  ShowActive();
  RunAndInterrupt([&] { window->close(); });
  EXPECT_TRUE(window->isVisible()) << "the window waits for the run";
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(runMessages, Texts{});
  QTest::qWait(200);
  EXPECT_FALSE(window->isVisible()) << "the window closes once the run has ended";
}

TEST_F(MainWindowTest, TheTitleMenuAndAcceleratorsAndTheChoicesANewStartFinds) {
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
            "  ヴァージョン|PHOTO(&P)|  写真の向きを自動で直す(&U)|"
            "  撮影情報とカラープロファイルを残す(&M)|Ctrl+N|Ctrl+O|Ctrl+S|Esc");
  // What Ctrl+O opens heads the recent-file list: each file once, four at most.
  for (const char* name : {"a", "b", "c", "d", "b", "e"}) {
    window->OpenDocument(QString::fromStdString(folder.File(name)));
  }
  QSettings settings(app::kSettingsOrganization, app::kSettingsApplication);
  EXPECT_EQ(app::RecentFiles(settings).join("").remove(folder.Path().c_str()).toStdString(),
            "ebdc");
  EXPECT_EQ(settings.value("Recent File List/File1").toString().toStdString(), folder.File("e"))
      << "the keys run from File1 to File4";
  // The photo choices are on at first and reach the engine at once.
  EXPECT_TRUE(window->UprightAction()->isChecked() && window->KeepMetadataAction()->isChecked());
  EXPECT_EQ(Photo().AutoOrient + Photo().KeepMetadata, 2);
  window->KeepMetadataAction()->trigger();
  EXPECT_EQ(Photo().AutoOrient * 10 + Photo().KeepMetadata, 10);
  // A new window (a new start) finds the choice in the application's settings, beside the
  // recent-file list; the settings file of the form is not touched.
  ResetProcessState();
  window = std::make_unique<app::MainWindow>(folder.Path());
  EXPECT_FALSE(window->KeepMetadataAction()->isChecked());
  EXPECT_EQ(Photo().KeepMetadata, 0);
}

TEST_F(MainWindowTest, RadioGroupsWorkFromTheKeyboard) {
  ShowActive();
  Controls().SetChecked(kFormatBmpRadio, false);
  Controls().SetChecked(kFormatPngRadio, true);
  QWidget* before = Widget(kFormatBmpRadio)->previousInFocusChain();
  while ((before->focusPolicy() & Qt::TabFocus) == 0) before = before->previousInFocusChain();
  before->setFocus(Qt::OtherFocusReason);
  // Tab enters the group at its checked button; the arrows move round the group and check the
  // button they reach, alone; Tab goes on to the next group's checked button.
  const std::tuple<Qt::Key, const char*, ControlId> kSteps[] = {
      {Qt::Key_Tab, "--x-", kFormatPngRadio},
      {Qt::Key_Down, "---x", kFormatHtmRadio},
      {Qt::Key_Right, "x---", kFormatBmpRadio},
      {Qt::Key_Up, "---x", kFormatHtmRadio},
      {Qt::Key_Tab, "---x", kSizeKeepRadio}};
  for (const auto& [key, checked, focused] : kSteps) {
    QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_EQ(Marks({kFormatBmpRadio, kFormatJpegRadio, kFormatPngRadio, kFormatHtmRadio}), checked)
        << key;
    EXPECT_EQ(QApplication::focusWidget(), Widget(focused)) << key;
  }
}

TEST_F(MainWindowTest, TheListTakesDropsAndShowsAnEntryWhenTheUserHasCompletedTheSelection) {
  window->show();
  DropLetterF();
  DropLetterF();
  QListWidget* list = List();
  // Only the list takes drops: the drag machinery hands a drop to the first widget that does.
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    EXPECT_EQ(widget->acceptDrops(), widget == list || widget == list->viewport());
  }
  QWidget* rows = list->viewport();
  const QPoint second = list->visualItemRect(list->item(1)).center();
  const auto shown = [this] { return Controls().Text(kBeforeKindEdit); };
  Controls().SetListSelection(kInputList, 0);
  EXPECT_EQ(shown(), "????") << "a programmed selection is not shown";
  // A drag over the rows selects as it goes and shows the entry it ends on.
  QTest::mousePress(rows, Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
  QMouseEvent drag(QEvent::MouseMove, second, rows->mapToGlobal(second), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(rows, &drag);
  EXPECT_EQ(Controls().ListSelection(kInputList), 1);
  EXPECT_EQ(shown(), "????");
  QTest::mouseRelease(rows, Qt::LeftButton, {}, second);
  EXPECT_EQ(shown(), "BMP");
  // The selected entry clicked again is shown afresh; the blank area keeps the selection.
  Controls().SetText(kBeforeKindEdit, "????");
  QTest::mouseClick(rows, Qt::LeftButton, {}, second);
  EXPECT_EQ(shown(), "BMP");
  QTest::mouseClick(rows, Qt::LeftButton, {}, QPoint(second.x(), rows->height() - 2));
  EXPECT_EQ(Controls().ListSelection(kInputList), 1);
  // A key completes its selection at once.
  Controls().SetText(kBeforeKindEdit, "????");
  QTest::keyClick(list, Qt::Key_Up);
  EXPECT_EQ(Controls().ListSelection(kInputList), 0);
  EXPECT_EQ(shown(), "BMP");
}

TEST_F(MainWindowTest, FilesOnTheCommandLineAreAddedAsOneDrop) {
  testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.bmp"));
  testsupport::WriteFileText(folder.File("a.gif"), "GIF89a");
  const std::string previous = platform::CurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(folder.Path()));
  window->Shell().SetWaitCursor(true);
  EXPECT_EQ(CloseModals([&] {
              window->AddCommandLineFiles({"f.bmp", folder.File("a.gif"), "./f.bmp"});
            }),
            Texts{"GIFです!!この形式は変換できません!!"});
  platform::SetCurrentFolder(previous);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor) << "back after the box";
  window->Shell().SetWaitCursor(false);
  EXPECT_EQ((Texts{Controls().ListEntry(kInputList, 0), Controls().ListEntry(kInputList, 1),
                   Controls().Text(kEntryCountEdit)}),
            (Texts{folder.File("f.bmp"), folder.File("./f.bmp"), "2"}));
}

TEST_F(MainWindowTest, QtsOwnTextsAreJapaneseAndTheFileDialogShowsTheFilterTextsAlone) {
  ASSERT_TRUE(app::InstallQtTranslation()) << "qt6-translations-l10n (scripts/install-deps)";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "キャンセル");
  const std::vector<platform::FileFilter> filters{
      {"変換可能なすべてのピクチャ (*.bmp,*.jp*g,*.png)", "*.bmp;*.jp*g;*.png"},
      {"ピング (*.png)", "*.png"}};
  const QString filter = app::FileDialogFilter(filters);
  QFileDialog dialog(nullptr, QString(), QString(), filter);
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  auto* shownFilters = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(shownFilters, nullptr);
  EXPECT_EQ(shownFilters->itemText(0).toStdString(), filters[0].caption);
  EXPECT_EQ(shownFilters->itemText(1).toStdString(), filters[1].caption);
  // The patterns behind each text, as the dialog reads them, match names in any case: a digit
  // for each name and filter.
  QString matched;
  for (const char* name : {"IMG_0001.JPG", "a.Jpeg", "b.bmp", "c.gif", "D.PNG"}) {
    for (const QString& entry : filter.split(QStringLiteral(";;"))) {
      const QStringList patterns = entry.mid(entry.lastIndexOf(u'(') + 1).chopped(1).split(u' ');
      matched += QString::number(std::ranges::any_of(patterns, [name](const QString& pattern) {
        return QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(name).hasMatch();
      }));
    }
  }
  EXPECT_EQ(matched.toStdString(), "1010100011");
}

TEST_F(MainWindowTest, TheCropHeightBoxShowsFourDigits) {
  // A line edit scrolls its text unless text and cursor fit inside its frame, text margins and
  // Qt's own margin of two pixels a side.
  auto* edit = static_cast<QLineEdit*>(Widget(kCropHeightEdit));
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.rect = edit->rect();
  option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
  const QRect inside = edit->style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                           .marginsRemoved(edit->textMargins());
  EXPECT_LE(edit->fontMetrics().horizontalAdvance(QStringLiteral("9999")) + 1,
            inside.width() - 2 * 2);
}

// The window of a program whose folder cannot hold LogFile, as under /usr/bin for a user.
TEST(WorkingFolderWindowTest, WithoutLogFileBesideTheProgramTheUsersFoldersAreUsed) {
  testsupport::TempFolder program;
  testsupport::TempFolder home;
  testsupport::WriteFileText(program.File("LogFile"), "");  // in the way of the folder
  // ctest runs every test in a process of its own, so the environment is the test's to change.
  qputenv("HOME", QByteArray::fromStdString(home.Path()));
  qunsetenv("XDG_CONFIG_HOME");
  qunsetenv("XDG_CACHE_HOME");
  ResetProcessState();
  const std::string image = testsupport::SaveImageFile(testsupport::LetterF(), home.File("f.bmp"));
  {
    app::MainWindow window(program.Path());
    window.AddCommandLineFiles({image});
    window.Form().Controls().SetListSelection(kInputList, 0);
    window.Form().Form().ShowSelectedFile();
    EXPECT_TRUE(testsupport::FileExists(home.File(".config/tessellarion/Log.ini")));
    EXPECT_TRUE(testsupport::FileExists(home.File(".cache/tessellarion/Temp.log")));
    EXPECT_EQ(window.Form().Controls().Text(kOutputFolderEdit), home.Path());
  }
  EXPECT_FALSE(testsupport::FileExists(home.File(".cache/tessellarion/Temp.log")));
  EXPECT_EQ(program.Entries(), Texts{"LogFile"});
}

TEST(TerminationTest, SigtermRemovesThePreviewImagesAsClosingTheWindowDoes) {
  testsupport::TempFolder program;
  const std::string executable = program.File("tessellarion");
  std::filesystem::copy_file(TESSELLARION_APP_PATH, executable);
  platform::CreateFolder(program.File("LogFile"));
  for (const char* name : {"LOG.html", "Now.log", "Temp.log"}) {
    testsupport::WriteFileText(program.File("LogFile/") + name, "left by a preview");
  }
  const pid_t child = fork();
  if (child == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The window has started when its settings file is there.
  const std::string settings = program.File("LogFile/Log.ini");
  for (int wait = 0; wait < 2000 && !testsupport::FileExists(settings); ++wait) usleep(10000);
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "ended by the signal";
  EXPECT_EQ(testsupport::FolderEntries(program.File("LogFile")), (Texts{"LOG.html", "Log.ini"}));
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
  // A page that no program can open is reported as missing.
  shell.opensDocuments = false;
  app::OpenHelp(shell, program.Path());
  platform::SetCurrentFolder(previous);
  EXPECT_EQ(shell.messages, Texts(2, "HELPが見つかりませんでした。"));
  EXPECT_EQ(shell.openedDocuments,
            (Texts{program.File("HELP/HTop.html"), current.File("HELP/HTop.html"),
                   current.File("HELP/HTop.html")}));
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
