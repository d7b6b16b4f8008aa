// The window on Qt: the form built from the control table, user actions reaching the form's
// handlers, the window's title, menu and accelerators, help and the About box.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>
#include <QtWidgets>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <functional>

#include "app/AboutBox.h"
#include "app/Desktop.h"
#include "app/Help.h"
#include "app/MainWindow.h"
#include "app/QtShell.h"
#include "engine/ControlIds.h"
#include "engine/Session.h"
#include "form/MainForm.h"
#include "imaging/Imaging.h"
#include "platform/FileSystem.h"
#include "platform/Headless.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace engine;
using Texts = std::vector<std::string>;

constexpr int kHangMilliseconds = static_cast<int>(
    std::chrono::duration_cast<std::chrono::milliseconds>(testsupport::kHangLimit).count());

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

// The controls a run must lock, from each kind the form has, then three read-only fields, which
// stay readable, not greyed.
constexpr ControlId kLockedDuringRun[] = {
    kExecuteButton,  kInputList,         kAddFileButton, kDeleteAllButton,    kFormatPngRadio,
    kCropCheck,      kCompressionSlider, kWidthEdit,     kBrowseFolderButton, kPreviewButton,
    kEntryCountEdit, kOutputFolderEdit,  kBeforeSizeEdit};

class MainWindowTest : public ::testing::Test {
 protected:
  // A run that never ends would hold the test in its nested loop: the program ends with a message.
  MainWindowTest() {
    testsupport::EndTheProgramAfter(200, "the window test did not end within 200 s: it hangs\n");
    NewWindow();
  }
  // A new window, shown and active, whose runs write to the folder out/.
  void NewWindow() {
    window = std::make_unique<app::MainWindow>(folder.Path());
    Session().Settings.OutputFolder = folder.File("out/");
    platform::CreateFolder(Session().Settings.OutputFolder);
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  app::QtControls& Controls() { return window->Form().Controls(); }
  engine::Session& Session() { return window->Form().Form().Session(); }
  QWidget* Widget(ControlId id) { return Controls().Widget(id); }
  QListWidget* List() { return static_cast<QListWidget*>(Widget(kInputList)); }
  void Click(ControlId id) { QTest::mouseClick(Widget(id), Qt::LeftButton); }
  // An x for each checked button of `ids` (a capital X for the one that has the focus), a dash for
  // each other.
  std::string Marks(std::initializer_list<ControlId> ids) {
    std::string marks;
    for (ControlId id : ids)
      marks += Controls().IsChecked(id) ? (Widget(id)->hasFocus() ? 'X' : 'x') : '-';
    return marks;
  }
  // An x for each of kLockedDuringRun and the photo menu's three items (as the menu opens) that is
  // enabled, a dash for each other.
  std::string EnabledMarks() {
    emit qobject_cast<QMenu*>(window->UprightAction()->parent())->aboutToShow();
    std::string marks;
    for (ControlId id : kLockedDuringRun) marks += Controls().IsEnabled(id) ? 'x' : '-';
    for (QAction* item :
         {window->UprightAction(), window->KeepMetadataAction(), window->KeepAspectAction()})
      marks += item->isEnabled() ? 'x' : '-';
    return marks;
  }
  // Runs 24 files that take a moment each, calling `interrupt` from the window's event loop once
  // the run waits for its first result (only a wait that runs the loop delivers it); returns the
  // files written.
  Texts RunAndInterrupt(const std::function<void()>& interrupt) {
    Texts files;
    for (int index = 0; index < 24; ++index) {
      files.push_back(testsupport::SaveImageFile(
          testsupport::PhotoLike(640, 480), folder.File("p" + std::to_string(index) + ".png")));
    }
    window->Form().Form().AddDroppedFiles(files);
    Controls().SetChecked(kFormatPngRadio, true);
    bool interrupted = false;
    window->Shell().SetAwaitGrace(std::chrono::milliseconds(0));
    window->Shell().onAwait = [&] {
      if (std::exchange(interrupted, true)) return;
      enabledInRun = EnabledMarks();
      QTimer::singleShot(0, window.get(), interrupt);
    };
    runMessages = CloseModals([&] { outcome = window->Form().Form().BatchRun(); });
    window->Shell().onAwait = nullptr;
    EXPECT_TRUE(interrupted) << "the run never waited";
    return testsupport::FolderEntries(folder.File("out"));
  }

  testsupport::TempFolder folder;
  std::unique_ptr<app::MainWindow> window;
  // What the last run in the window showed, the EnabledMarks while it ran, and what it reported.
  Texts runMessages;
  std::string enabledInRun;
  form::BatchOutcome outcome;
};

// The main form's 82 controls in their order, each as its id and a colon (frames and labels have
// no id) and its caption; a text field shows where its text stands instead: Qt's 1 for left, 2
// for right, 4 for centred.
constexpr const char* kFormControls =
    "１．ファイルの設定|１-１ 入力ファイル|1013:|1014:ファイルから追加|1015:一つ削除|"
    "1016:すべて削除|1037:総サイズ計算|総ファイル数|1045:4|総ファイルサイズ|1046:2|Byte|"
    "１-２ 出力フォルダ|1005:1|1007:参照|ファイルサイズ|容量|1017:2|Byte|1018:4|×|1019:4|拡張子|"
    "1024:4|↓変換後↓|容量|1020:2|Byte|1021:4|×|1022:4|拡張子|1025:4|２．ファイルの名前|"
    "1033:そのまま 　※同じファイルは上書き|1034:１．２．３．．．と数字だけを順番に付ける|"
    "1035:任意　　※任意の文字列に数字を順番に付ける|1036:1|半角20　全角10|３．拡張子の変換|"
    "1000:BMPに変換|1001:JPGに変換|1002:PNGに変換|1003:HTMに変換|４．サイズ|1008:そのまま|"
    "1009:640×480|1010:サイズ指定  　※2000×2000まで|1011:4|×|1012:4|５．主な設定|BMP限定|1023:|"
    "PNG限定|1027:インタレース|JPG限定|1028:プログレッシブ|画質|高|低|圧縮率|1029:|1032:2|%|"
    "６．編集|色|1039:|回転|1038:|切り抜き|1042:|左上Ｘ|1040:4|左上Ｙ|1041:4|1030:4|×|1043:4|"
    "1048:画質プレビュー|1031:実行|1047:|";

TEST_F(MainWindowTest, EveryControlIsBuiltWithItsIdAndCaption) {
  std::map<QWidget*, ControlId> ids;
  for (ControlId id = kFormatBmpRadio; id <= kPreviewButton; ++id) ids[Widget(id)] = id;
  std::string built;
  for (QWidget* widget : Controls().Widgets()) {
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) shown = group->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      shown = QString::number((edit->alignment() & Qt::AlignHorizontal_Mask).toInt());
    }
    if (ids.contains(widget)) built += std::to_string(ids[widget]) + ":";
    built += shown.toStdString() + "|";
  }
  EXPECT_EQ(built, kFormControls);
}

TEST_F(MainWindowTest, UserActionsReachTheFormAndProgrammedChangesDoNot) {
  Controls().SetSliderPosition(kCompressionSlider, 60, true);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "20") << "a programmed move is not reported";
  QTest::keyClick(Widget(kCompressionSlider), Qt::Key_Right);
  EXPECT_EQ(Controls().Text(kCompressionEdit), "61");
  // The four format buttons, then the first two naming buttons and the first size button.
  const auto radios = {kFormatBmpRadio,  kFormatJpegRadio,   kFormatPngRadio, kFormatHtmRadio,
                       kNamingKeepRadio, kNamingNumberRadio, kSizeKeepRadio};
  // A click checks its button and unchecks the rest of its group alone; a second click keeps it.
  for (ControlId id : {kFormatJpegRadio, kFormatJpegRadio, kNamingNumberRadio}) Click(id);
  Texts steps{Marks(radios)};
  // From the field before the format buttons, Tab enters their group at its checked button; the
  // arrows move round the group and check the button they reach, alone; Tab goes on to the next
  // group's checked button.
  Widget(kCustomNameEdit)->setFocus();
  for (auto key :
       {Qt::Key_Tab, Qt::Key_Up, Qt::Key_Left, Qt::Key_Right, Qt::Key_Down, Qt::Key_Tab}) {
    QTest::keyClick(QApplication::focusWidget(), key);
    steps.push_back(Marks(radios));
  }
  EXPECT_EQ(steps,
            (Texts{"-x---Xx", "-X---xx", "X----xx", "---X-xx", "X----xx", "-X---xx", "-x---xX"}));
  // Each button reaches its own handler; the two dialogs are told apart by their titles.
  EXPECT_EQ(CloseModals([&] { Click(kAddFileButton), Click(kBrowseFolderButton); }),
            (Texts{"どのファイルを変換する？？", "フォルダを指定してください"}));
  EXPECT_EQ(CloseModals([&] { Click(kExecuteButton); }),
            Texts{"入力ファイルを追加してください！！"});
  // Qt draws an empty range as a moving "busy" bar.
  auto* bar = static_cast<QProgressBar*>(Widget(kProgressBar));
  EXPECT_LT(bar->minimum(), bar->maximum()) << "the bar of an empty run stays still";
  EXPECT_EQ(bar->value(), bar->minimum());
  // A BMP of the letter F dropped twice on the input list in one drop, as a file manager would.
  QMimeData files;
  const QUrl letterF = QUrl::fromLocalFile(QString::fromStdString(
      testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.bmp"))));
  files.setUrls({letterF, letterF});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(List()->viewport(), &enter);
  ASSERT_TRUE(enter.isAccepted()) << "the list takes the files a file manager drags over it";
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(List()->viewport(), &drop);
  QApplication::processEvents();  // the files are added once the drop has finished
  // Only the list takes drops: the drag machinery hands a drop to the first widget that does.
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    EXPECT_EQ(widget->acceptDrops(), widget == List() || widget == List()->viewport());
  }
  // An entry is shown once the user has completed its selection: a drag over the rows when the
  // button is released, a key at once. A selection by the program is not shown.
  const auto shown = [this] { return Controls().Text(kBeforeKindEdit); };
  Controls().SetListSelection(kInputList, 1);
  QWidget* rows = List()->viewport();
  const QPoint first = List()->visualItemRect(List()->item(0)).center();
  QTest::mousePress(rows, Qt::LeftButton, {}, List()->visualItemRect(List()->item(1)).center());
  QTest::mouseMove(rows, first);
  EXPECT_EQ(Controls().ListSelection(kInputList), 0);
  EXPECT_EQ(shown(), "????");
  QTest::mouseRelease(rows, Qt::LeftButton, {}, first);
  EXPECT_EQ(shown(), "BMP");
  // The blank area below the entries keeps the selection.
  QTest::mouseClick(rows, Qt::LeftButton, {}, QPoint(first.x(), rows->height() - 2));
  EXPECT_EQ(Controls().ListSelection(kInputList), 0);
  Controls().SetText(kBeforeKindEdit, "????");
  QTest::keyClick(List(), Qt::Key_Down);
  EXPECT_EQ(shown(), "BMP");
  Click(kTotalSizeButton);
  EXPECT_EQ(Controls().Text(kTotalSizeEdit), "308") << "two BMPs of 54 + 5 rows of 20 bytes";
  // One entry deleted, one converted.
  Click(kDeleteOneButton);
  EXPECT_EQ(CloseModals([&] { Click(kExecuteButton); }), Texts{"変換完了！！"});
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")), Texts{"1.jpg"});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is off again";
  Click(kDeleteAllButton);
  EXPECT_EQ(Controls().ListCount(kInputList), 0);
}

TEST_F(MainWindowTest, TheKeysWalkTheListAndPressTheFocusedButton) {
  Texts files;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"})
    files.push_back(testsupport::SaveImageFile(testsupport::LetterF(), folder.File(name)));
  window->Form().Form().AddDroppedFiles(files);
  // Each selection shows its entry with a preview conversion, which locks the controls while the
  // window waits for it; the list keeps the focus through it, so the keys go on walking the
  // entries.
  window->Shell().SetAwaitGrace(std::chrono::milliseconds(0));
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                    List()->visualItemRect(List()->item(1)).center());
  std::string walk = std::to_string(Controls().ListSelection(kInputList));
  for (auto key : {Qt::Key_Down, Qt::Key_End, Qt::Key_Home, Qt::Key_Down, Qt::Key_Up}) {
    QTest::keyClick(QApplication::focusWidget(), key);
    walk += (List()->hasFocus() ? " " : " lost ") +
            std::to_string(Controls().ListSelection(kInputList));
  }
  EXPECT_EQ(walk, "1 2 3 0 1 0");
  EXPECT_EQ(Controls().Text(kBeforeKindEdit), "BMP");
  // Return and keypad Enter press the focused button as Space does: 実行 runs, 一つ削除 deletes.
  Widget(kExecuteButton)->setFocus();
  EXPECT_EQ(CloseModals([&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }),
            Texts{"変換完了！！"});
  EXPECT_EQ(testsupport::FolderEntries(folder.File("out")).size(), 4u);
  Widget(kDeleteOneButton)->setFocus();
  QTest::keyClick(Widget(kDeleteOneButton), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(Controls().ListCount(kInputList), 3);
}

TEST_F(MainWindowTest, DuringARunTheJobIsLockedAndEscOrClosingTheWindowStopsIt) {
  const Texts outputs = RunAndInterrupt([&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
  // The photo menu offers no choice during a run either: each choice reaches every conversion.
  EXPECT_EQ(enabledInRun, "----------xxx---");
  EXPECT_EQ(EnabledMarks(), "xxxxxxxxxxxxxxxx");
  EXPECT_TRUE(outcome.cancelled);
  // The entries Esc kept from starting are counted as not written.
  const std::string notWritten = std::to_string(24 - outputs.size());
  EXPECT_EQ(runMessages,
            (Texts{notWritten + "件のファイルを変換できませんでした！！", "変換完了！！"}));
  // Closing the window stops a run without its messages.
  RunAndInterrupt([&] { window->close(); });
  EXPECT_TRUE(window->isVisible()) << "the window waits for the run";
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(runMessages, Texts{});
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, kHangMilliseconds))
      << "the window closes once the run has ended";
}

// A negative origin and a size past the far edge, typed into the window's crop boxes, reach the
// run: the 7 × 5 photo cropped from (−2, −1) by 11 × 3 keeps all its columns of its first two rows.
TEST_F(MainWindowTest, ACropTypedIntoTheBoxesHangsOverBothEdges) {
  const imaging::Bitmap photo = testsupport::PhotoLike(7, 5);
  window->Form().Form().AddDroppedFiles(
      {testsupport::SaveImageFile(photo, folder.File("photo.png"))});
  for (const ControlId id : {kFormatPngRadio, kSizeKeepRadio, kCropCheck})
    Controls().SetChecked(id, true);
  const std::pair<ControlId, const char*> typed[] = {
      {kCropXEdit, "-2"}, {kCropYEdit, "-1"}, {kCropWidthEdit, "11"}, {kCropHeightEdit, "3"}};
  for (const auto& [id, text] : typed) {
    static_cast<QLineEdit*>(Widget(id))->clear();
    QTest::keyClicks(Widget(id), text);
    EXPECT_EQ(Controls().Text(id), text);
  }
  EXPECT_EQ(CloseModals([&] { Click(kExecuteButton); }), Texts{"変換完了！！"});
  const Texts outputs = testsupport::FolderEntries(folder.File("out"));
  ASSERT_EQ(outputs.size(), 1u);
  const imaging::Bitmap expected =
      testsupport::Painted(7, 2, [&](int x, int y) { return testsupport::PixelAt(photo, x, y); });
  const std::uint32_t written = imaging::LoadImageFile(folder.File("out/") + outputs[0]);
  EXPECT_EQ(testsupport::ColorsOf(testsupport::PixelsOf(written)), testsupport::ColorsOf(expected));
  imaging::FreeImage(written);
}

// Each stop signal to this process while the run waits in its nested loop, with the signals
// handled as the program's main() handles them: the run stops as closing the window stops it,
// every output is complete, no temporary stays, and the window closes, which ends the program.
TEST_F(MainWindowTest, AStopSignalDuringARunStopsItAsClosingTheWindowDoes) {
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sigabbrev_np(signalNumber));
    std::filesystem::remove_all(folder.File("out"));
    platform::CreateFolder(folder.File("out"));
    if (signalNumber != SIGTERM) NewWindow();
    const app::TerminationSignals termination(
        [&] { return window->CloseForTermination(); },
        [&] { ADD_FAILURE() << "the signal ended the program"; });
    const Texts outputs = RunAndInterrupt([signalNumber] { std::raise(signalNumber); });
    EXPECT_EQ(termination.Received(), signalNumber);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(runMessages, Texts{});
    EXPECT_LT(outputs.size(), 24u);
    for (const std::string& name : outputs) {
      EXPECT_EQ(testsupport::ImageSizeOf(folder.File("out/") + name), (std::pair{640, 480}))
          << name;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, kHangMilliseconds))
        << "the window closes once the run has ended";
  }
}

// Calls `seen` each time `watched` is sent an event of `type`.
class EventWatch : public QObject {
 public:
  EventWatch(QObject* watched, QEvent::Type type, std::function<void()> seen)
      : type_(type), seen_(std::move(seen)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == type_) seen_();
    return false;
  }

 private:
  QEvent::Type type_;
  std::function<void()> seen_;
};

// The state letter of a thread of this process ('S' while it sleeps in the kernel).
char ThreadState(pid_t thread) {
  const std::string stat =
      testsupport::ReadFileText("/proc/self/task/" + std::to_string(thread) + "/stat");
  const std::size_t end = stat.rfind(')');
  return end != std::string::npos && end + 2 < stat.size() ? stat[end + 2] : '?';
}

// The window waiting for work that is not done: the test holds the work until the nested loop has
// repainted the window and the window's thread has been seen asleep, then counts how often that
// thread wakes while the work is held a while longer. A loop that polls instead of sleeping wakes
// for every poll; one that sleeps wakes only for what comes (a blinking cursor at most).
TEST_F(MainWindowTest, AWaitForWorkNotDoneRepaintsTheWindowAndSleeps) {
  const pid_t windowThread = gettid();
  std::atomic<bool> painted = false;
  std::atomic<int> wakeUps = 0;
  const EventWatch watch(window.get(), QEvent::Paint, [&] { painted = true; });
  // A loop that sleeps says so before each sleep; one that polls says it is awake at each poll.
  for (const auto signal :
       {&QAbstractEventDispatcher::awake, &QAbstractEventDispatcher::aboutToBlock})
    QObject::connect(QAbstractEventDispatcher::instance(), signal, window.get(),
                     [&] { ++wakeUps; });
  window->Shell().SetAwaitGrace(std::chrono::milliseconds(0));
  window->Shell().onAwait = [&] { window->update(); };
  int wokenWhileHeld = 0;
  window->Shell().Await([&] {
    testsupport::WaitUntil([&] { return painted && ThreadState(windowThread) == 'S'; },
                           "the window repainted and its thread asleep during the wait");
    const int before = wakeUps;
    for (int look = 0; look < 200; ++look) usleep(1000);
    wokenWhileHeld = wakeUps - before;
  });
  window->Shell().onAwait = nullptr;
  EXPECT_TRUE(painted);
  EXPECT_LE(wokenWhileHeld, 5) << "the window's thread polls while it waits";
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
            "  撮影情報とカラープロファイルを残す(&M)|  縦横比を保つ(&A)|Ctrl+N|Ctrl+O|Ctrl+S|Esc");
  // What Ctrl+O opens heads the recent-file list: each file once, four at most.
  for (auto name : {"a", "b", "c", "d", "b", "e"}) window->OpenDocument(folder.File(name).c_str());
  QSettings settings(app::kSettingsOrganization, app::kSettingsApplication);
  EXPECT_EQ(app::RecentFiles(settings).join("").remove(folder.Path().c_str()).toStdString(),
            "ebdc");
  EXPECT_EQ(settings.value("Recent File List/File1").toString().toStdString(), folder.File("e"))
      << "the keys run from File1 to File4";
  // Upright and metadata are on at first, proportions off; each choice reaches the engine at once.
  EXPECT_TRUE(window->UprightAction()->isChecked() && window->KeepMetadataAction()->isChecked());
  EXPECT_FALSE(window->KeepAspectAction()->isChecked());
  window->KeepMetadataAction()->trigger();
  window->KeepAspectAction()->trigger();
  EXPECT_EQ(Session().Photo.AutoOrient * 100 + Session().Photo.KeepMetadata * 10 +
                Session().Photo.KeepAspect,
            101);
  // A new window (a new start) finds the choices in the application's settings, beside the
  // recent-file list; the settings file of the form is not touched.
  window = std::make_unique<app::MainWindow>(folder.Path());
  EXPECT_FALSE(window->KeepMetadataAction()->isChecked());
  EXPECT_TRUE(window->KeepAspectAction()->isChecked());
  EXPECT_EQ(Session().Photo.KeepMetadata * 10 + Session().Photo.KeepAspect, 1);
}

TEST_F(MainWindowTest, FilesOnTheCommandLineAreAddedAsOneDrop) {
  testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.bmp"));
  testsupport::WriteFileText(folder.File("a.gif"), "GIF89a");
  const std::string previous = platform::CurrentFolder();
  ASSERT_TRUE(platform::SetCurrentFolder(folder.Path()));
  window->Shell().SetWaitCursor(true);
  const Texts names{"f.bmp", folder.File("a.gif"), "./f.bmp"};
  EXPECT_EQ(CloseModals([&] { window->AddCommandLineFiles(names); }),
            Texts{"GIFです!!この形式は変換できません!!"});
  platform::SetCurrentFolder(previous);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor) << "back after the box";
  EXPECT_EQ((Texts{Controls().ListEntry(kInputList, 0), Controls().ListEntry(kInputList, 1),
                   Controls().Text(kEntryCountEdit)}),
            (Texts{folder.File("f.bmp"), folder.File("./f.bmp"), "2"}));
}

TEST_F(MainWindowTest, TheProgramsCommandLineAddsItsFilesOnceTheWindowRuns) {
  // As the program starts: without files nothing is added or shown; with files, nothing before
  // the event loop runs, then the files as one drop, a refusal over the window.
  const std::string bmp = testsupport::SaveImageFile(testsupport::LetterF(), folder.File("f.bmp"));
  testsupport::WriteFileText(folder.File("a.gif"), "GIF89a");
  // The names, the messages shown, and the entries listed after each run (they add up).
  const std::tuple<Texts, Texts, std::string> runs[] = {
      {{}, {}, "0"},
      {{bmp}, {}, "1"},
      {{bmp, folder.File("a.gif"), bmp}, {"GIFです!!この形式は変換できません!!"}, "3"}};
  for (const auto& [names, shown, listed] : runs) {
    SCOPED_TRACE(names.size());
    const int listedBefore = List()->count();
    int listedAtOnce = -1;
    EXPECT_EQ(CloseModals([&, files = names] {
                window->AddCommandLineFilesOnceRunning(files);
                listedAtOnce = List()->count();
                QTest::qWait(20);
              }),
              shown);
    EXPECT_EQ(listedAtOnce, listedBefore);
    EXPECT_EQ(Controls().Text(kEntryCountEdit), listed);
  }
}

TEST_F(MainWindowTest, QtsOwnTextsAreJapaneseAndTheFileDialogShowsTheFilterTextsAlone) {
  ASSERT_TRUE(app::InstallQtTranslation()) << "qt6-translations-l10n (scripts/install-deps)";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "キャンセル");
  const std::string caption = "ピクチャ (*.bmp,*.jp*g)";
  const QString filter = app::FileDialogFilter({{caption, "*.bmp;*.jp*g"}});
  QFileDialog dialog(nullptr, QString(), QString(), filter);
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  EXPECT_EQ(dialog.findChild<QComboBox*>("fileTypeCombo")->currentText().toStdString(), caption);
  // The patterns behind the text, as the dialog reads them, match names in any case.
  const QStringList patterns = filter.mid(filter.lastIndexOf(u'(') + 1).chopped(1).split(u' ');
  const auto listed = [&patterns](const char* name) {
    return std::ranges::any_of(patterns, [name](const QString& pattern) {
      return QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(name).hasMatch();
    });
  };
  std::string matched;
  for (auto name : {"IMG_0001.JPG", "a.Jpeg", "b.bmp", "c.gif"})
    matched += listed(name) ? 'x' : '-';
  EXPECT_EQ(matched, "xxx-");
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

TEST(TerminationTest, EachStopSignalRemovesThePreviewImagesAsClosingTheWindowDoes) {
  // SIGHUP comes to a program started with a file on its command line, whose refusal may be on
  // the screen then.
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sigabbrev_np(signalNumber));
    testsupport::TempFolder program;
    const std::string executable = program.File("tessellarion");
    std::filesystem::copy_file(TESSELLARION_APP_PATH, executable);
    platform::CreateFolder(program.File("LogFile"));
    for (const char* name : {"LOG.html", "Now.log", "Temp.log"})
      testsupport::WriteFileText(program.File("LogFile/") + name, "left by a preview");
    const std::string gif = program.File("a.gif");
    testsupport::WriteFileText(gif, "GIF89a");
    const pid_t child = fork();
    if (child == 0) {
      // The program inherits this test program's offscreen platform.
      execl(executable.c_str(), executable.c_str(),
            signalNumber == SIGHUP ? gif.c_str() : static_cast<char*>(nullptr),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // The window has started when its settings file is there.
    const std::string settings = program.File("LogFile/Log.ini");
    testsupport::WaitUntil([&] { return testsupport::FileExists(settings); }, "the window's start");
    kill(child, signalNumber);
    const int status = testsupport::WaitForExit(child, "the window after the signal");
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << "ended by the signal";
    EXPECT_EQ(testsupport::FolderEntries(program.File("LogFile")), (Texts{"LOG.html", "Log.ini"}));
  }
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

// The window's shell with its message boxes recorded instead of shown.
class RecordingShell : public app::QtShell {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  Texts messages;
};

TEST(HelpTest, AnXdgOpenThatFindsNoProgramIsReportedAsNoHelp) {
  testsupport::TempFolder program;
  platform::CreateFolder(program.File("HELP"));
  testsupport::WriteFileText(program.File("HELP/HTop.html"), "");
  testsupport::TempFolder tools;
  const std::string opened = tools.File("opened");
  // xdg-open as on a desktop without a browser (it ends with status 3), as on one with a browser
  // (it notes the page), and no xdg-open at all. The shell finds it on the PATH.
  RecordingShell shell;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QByteArray::fromStdString(tools.Path()));
  for (const std::string& script : Texts{"exit 3", "echo \"$1\" >" + opened, ""}) {
    std::filesystem::remove(tools.File("xdg-open"));
    if (!script.empty()) {
      testsupport::WriteFileText(tools.File("xdg-open"), "#!/bin/sh\n" + script + "\n");
      std::filesystem::permissions(tools.File("xdg-open"), std::filesystem::perms(0755));
    }
    app::OpenHelp(shell, program.Path());
  }
  qputenv("PATH", path);
  EXPECT_EQ(shell.messages, Texts(2, app::kHelpMissingMessage));
  EXPECT_EQ(testsupport::ReadFileText(opened), program.File("HELP/HTop.html") + "\n");
}

TEST(AboutBoxTest, ShowsTheVersionAndOpensItsLinks) {
  platform::HeadlessShell shell;
  app::AboutBox box(shell);
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
