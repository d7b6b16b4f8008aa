// The main form's handlers on the headless backend, grouped by handler.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include "engine/ControlIds.h"
#include "engine/Session.h"
#include "form/ControlTable.h"
#include "form/MainForm.h"
#include "imaging/Imaging.h"
#include "platform/FileSystem.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using Messages = std::vector<std::string>;

const std::string kGif = "GIFです!!この形式は変換できません!!";
const std::string kCannot = "このファイルは変換できません!!";
const std::string kLimit = "1001個以上のリスト登録はできません。";
const std::string kAddFiles = "入力ファイルを追加してください！！";

// A shell whose Await first lets `meanwhile` run, as a window's event loop goes on while it waits,
// then runs the work on another thread.
class ThreadedShell : public platform::HeadlessShell {
 public:
  void Await(const std::function<void()>& work) override {
    if (meanwhile) std::exchange(meanwhile, nullptr)();
    testsupport::RunWithinLimit(work, "the work the form waits for");
  }
  std::function<void()> meanwhile;
};

class MainFormTest : public testsupport::BatchFixture {
 protected:
  MainFormTest() { testsupport::WriteFileText(gif, "GIF89a......"); }
  std::string Shown(ControlId width, ControlId height, ControlId kind) {
    return controls.Text(width) + "x" + controls.Text(height) + controls.Text(kind);
  }
  std::string Log(const char* name) const { return folder.File(std::string("LogFile/") + name); }

  std::string gif = folder.File("a.gif");
  std::string letter = SaveImage(testsupport::LetterF(), "f.png");
};

TEST_F(MainFormTest, AStartShowsTheResetSettingsAndPlaceholdersAndARepeatedStartReloadsThem) {
  std::string shown;
  for (ControlId id : {kFormatBmpRadio, kSizeKeepRadio, kNamingKeepRadio, kCropCheck})
    shown += controls.IsChecked(id) ? "on|" : "off|";
  for (ControlId id :
       {kWidthEdit,      kHeightEdit,       kCompressionEdit, kCropXEdit,       kCropYEdit,
        kCropWidthEdit,  kCropHeightEdit,   kEntryCountEdit,  kTotalSizeEdit,   kBmpDepthCombo,
        kRotationCombo,  kColorEffectCombo, kBeforeSizeEdit,  kBeforeWidthEdit, kBeforeHeightEdit,
        kBeforeKindEdit, kAfterSizeEdit,    kAfterWidthEdit,  kAfterHeightEdit, kAfterKindEdit})
    shown += controls.Text(id) + "|";
  EXPECT_EQ(shown,
            "on|on|on|off|320|240|20|0|0|100|100|0|0|２４ビットカラー|そのまま|そのまま|"
            "???????????????????|????|????|????|???????????????????|????|????|????|");
  EXPECT_EQ(controls.Text(kOutputFolderEdit), folder.Path());
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 20);
  EXPECT_EQ(controls.SliderPageSize(kCompressionSlider), 5);
  EXPECT_EQ(controls.SliderTickFrequency(kCompressionSlider), 1);
  EXPECT_EQ(controls.ComboEntries(kColorEffectCombo),
            (std::vector<std::string>{"そのまま", "グレースケール", "セピア調", "ネガポジ反転",
                                      "くっきり画像", "ぼんやり画像", "赤っぽく", "緑っぽく",
                                      "青っぽく"}));
  EXPECT_EQ(controls.ComboEntries(kRotationCombo).back(), "355°回転");

  // A repeated start reloads the settings file without adding entries or placeholders.
  controls.SetText(kBeforeSizeEdit, "123");
  controls.SetComboSelection(kRotationCombo, 5);
  form->BatchRun();  // saves rotation 5
  controls.SetComboSelection(kRotationCombo, 0);
  form->InitialUpdate();
  EXPECT_EQ(controls.ComboCount(kRotationCombo), 72);
  EXPECT_EQ(controls.ComboCount(kBmpDepthCombo), 4);
  EXPECT_EQ(controls.ComboSelection(kRotationCombo), 5) << "the settings file is loaded again";
  EXPECT_EQ(controls.Text(kBeforeSizeEdit), "123") << "placeholders only the first time";
}

TEST_F(MainFormTest, TheDialogListsConvertibleFilesAndShowsTheirInformation) {
  const std::string bmp = SaveImage(testsupport::LetterF(), "f.bmp");
  shell.fileAnswers = {bmp, bmp, std::nullopt, gif};
  form->AddFileFromDialog();
  form->AddFileFromDialog();
  controls.SetListSelection(kInputList, 0);
  form->DeleteSelectedEntry();
  EXPECT_EQ(controls.Text(kEntryCountEdit), "1") << "the same file listed twice, one deleted";
  EXPECT_EQ(controls.Text(kBeforeSizeEdit), std::to_string(54 + 5 * 20));
  EXPECT_EQ(shell.dialogTitles.back(), "どのファイルを変換する？？");
  std::string filters;
  for (const platform::FileFilter& filter : shell.lastFilters) {
    filters += filter.caption + "=" + filter.patterns + "|";
  }
  EXPECT_EQ(filters,
            "変換可能なすべてのピクチャ (*.bmp,*.jp*g,*.png,*.heic,*.heif,*.avif,*.webp)="
            "*.bmp;*.jp*g;*.png;*.heic;*.heif;*.avif;*.webp|"
            "ビットマップ (*.bmp)=*.bmp|ジェイぺグ (*.jp*g)=*.jp*g|ピング (*.png)=*.png|"
            "HEIC・AVIF・WebP (*.heic,*.heif,*.avif,*.webp)=*.heic;*.heif;*.avif;*.webp|");

  form->DeleteAllEntries();
  form->AddFileFromDialog();  // cancelled
  EXPECT_EQ(Session().Flags.InputPresent, 0) << "a cancelled dialog changes nothing";
  form->AddFileFromDialog();
  EXPECT_EQ(Session().Flags.InputPresent, 1)
      << "a confirmed dialog sets the flag even for a refusal";
  form->BatchRun();
  EXPECT_EQ(shell.messages, (Messages{kGif, kAddFiles}));
}

TEST_F(MainFormTest, ADropListsWhatCanBeConvertedUpToTheLimitAndLeavesTheBarAtZero) {
  std::vector<int> positions;
  controls.onProgress = [&](ControlId, int position, int) { positions.push_back(position); };
  form->AddDroppedFiles({letter, gif, letter, gif, folder.Path()});
  EXPECT_EQ(controls.Text(kEntryCountEdit), "2");
  EXPECT_EQ(*std::max_element(positions.begin(), positions.end()), 5);
  // The limit of 1000 entries: the dialog checks the kind first, a drop the limit first.
  for (int i = 0; i < 997; ++i) controls.AppendListEntry(kInputList, letter);
  int positionAtLimit = -1;
  shell.onMessage = [&](const std::string&) { positionAtLimit = positions.back(); };
  form->AddDroppedFiles({letter, letter});
  EXPECT_EQ(controls.Text(kEntryCountEdit), "1000");
  EXPECT_EQ(positionAtLimit, 2) << "the bar is full while the limit is shown";
  EXPECT_EQ(positions.back(), 0);
  shell.fileAnswers = {gif, letter};
  form->AddFileFromDialog();
  form->AddFileFromDialog();
  form->AddDroppedFiles({gif});
  EXPECT_EQ(shell.messages, (Messages{kGif, kGif, kCannot, kLimit, kGif, kLimit, kLimit}));
  EXPECT_EQ(controls.ListCount(kInputList), 1000);
}

TEST_F(MainFormTest, TheTotalSizeCountsRealSizesIn64Bits) {
  for (const char* name : {"a", "b"})
    testsupport::WriteFileText(folder.File(name), std::string(300, 'x'));
  // A sparse file of 5 GiB and a file that has gone: the total is the real 64-bit sum.
  const std::string big = folder.File("big");
  testsupport::WriteFileText(big, "");
  ASSERT_EQ(truncate(big.c_str(), 5LL << 30), 0);
  List({folder.File("a"), folder.File("b"), big, folder.File("gone")});
  form->ShowTotalSize();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), std::to_string((5LL << 30) + 600));
}

TEST_F(MainFormTest, PreconditionsAndTheirMessagesInOrder) {
  form->BatchRun();
  EXPECT_EQ(controls.RangeMaximum(kProgressBar), 0);
  EXPECT_FALSE(shell.waitCursor);
  SelectFormat(kFormatHtmRadio);
  Select(kSizeCustomRadio, kSizeKeepRadio, 3);
  controls.SetText(kWidthEdit, "0");
  form->BatchRun();
  EXPECT_EQ(shell.messages,
            (Messages{kAddFiles, kAddFiles,
                      "ファイルサイズは１*１以上２０００*２０００以内にしてください！！"}));

  // The custom size is looked at only when it is chosen.
  SelectFormat(kFormatPngRadio);
  const std::tuple<ControlId, const char*, const char*, bool> sizes[] = {
      {kSizeCustomRadio, "2000", "2000", true}, {kSizeCustomRadio, "1", "1", true},
      {kSizeCustomRadio, "12px", "9", true},    {kSizeCustomRadio, "2001", "100", false},
      {kSizeCustomRadio, "100", "2001", false}, {kSizeCustomRadio, "-5", "100", false},
      {kSize640Radio, "abc", "100", true}};
  for (const auto& [radio, width, height, runs] : sizes) {
    Select(radio, kSizeKeepRadio, 3);
    controls.SetText(kWidthEdit, width);
    controls.SetText(kHeightEdit, height);
    List({letter});
    EXPECT_EQ(form->BatchRun().ran, runs) << width << "x" << height;
  }

  // Table art takes at most ten files.
  SelectFormat(kFormatHtmRadio);
  List(std::vector<std::string>(10, letter));
  const form::BatchOutcome ten = form->BatchRun();
  EXPECT_TRUE(ten.ran && ten.entries == 10 && ten.notWritten == 0);
  List(std::vector<std::string>(11, letter));
  EXPECT_FALSE(form->BatchRun().ran);
  EXPECT_EQ(shell.messages, Messages{"TableArtは１０件までしか一括変換できません。"});
  SelectFormat(kFormatJpegRadio);
  EXPECT_TRUE(form->BatchRun().ran) << "only table art is limited";

  // A custom name that would leave the output folder is the last precondition.
  List({});
  Select(kNamingCustomRadio, kNamingKeepRadio, 3);
  controls.SetText(kCustomNameEdit, "../x");
  EXPECT_FALSE(form->BatchRun().ran);
  EXPECT_EQ(shell.messages,
            (Messages{kAddFiles, "任意の文字列には「/」を含む名前や「.」「..」は使えません！！"}));
}

TEST_F(MainFormTest, NumbersFollowTheListPositionAndSkippedEntriesAreCounted) {
  // The photo, added last, is the size shown; keeping the size, the letter keeps its own.
  shell.fileAnswers = {letter, SaveImage(testsupport::PhotoLike(37, 23), "photo.png")};
  form->AddFileFromDialog();
  controls.AppendListEntry(kInputList, folder.File("missing.png"));
  form->AddFileFromDialog();
  SelectFormat(kFormatPngRadio);
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  EXPECT_EQ(form->BatchRun().notWritten, 1);
  EXPECT_EQ(Outputs(), (Messages{"1.png", "3.png"})) << "a skipped entry still uses up its number";
  EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "1.png"), (std::pair{6, 5}));
  EXPECT_EQ(shell.messages,
            (Messages{kCannot, "1件のファイルを変換できませんでした！！", "変換完了！！"}));
}

TEST_F(MainFormTest, ACropTypedIntoTheBoxesMayHangOverOppositeEdgesAtOnce) {
  // The 7 × 5 photo, every pixel different; a crop as typed into the boxes, then the part of the
  // photo it keeps, worked out by hand: left, top, width, height (a width of 0 for none).
  const imaging::Bitmap photo = testsupport::PhotoLike(7, 5);
  const std::string input = SaveImage(photo, "photo.png");
  const std::array<int, 8> kCrops[] = {
      {-2, 1, 11, 3, 0, 1, 7, 3},  // over the left and the right edge
      {1, -3, 4, 12, 1, 0, 4, 5},  // over the top and the bottom edge
      {-1, -2, 9, 8, 0, 0, 7, 5},  // over all four
      {-6, -4, 7, 6, 0, 0, 1, 2},  // from far up and left, keeping the corner pixels
      {-9, 0, 10, 5, 0, 0, 1, 5},  // the first column alone
      {-9, 0, 9, 5, 0, 0, 0, 0},   // ends where the photo starts: nothing
      {6, -1, 9, 2, 6, 0, 1, 1},   // the last column, over the top and the right edge
  };
  // PNG, written once: a BMP's first write, of the image as loaded, would stand where the crop
  // left nothing.
  SelectFormat(kFormatPngRadio);
  Select(kSizeKeepRadio, kSizeKeepRadio, 3);
  controls.SetChecked(kCropCheck, true);
  for (const auto& [left, top, width, height, partLeft, partTop, partWidth, partHeight] : kCrops) {
    SCOPED_TRACE(std::to_string(left) + "," + std::to_string(top) + " " + std::to_string(width) +
                 "x" + std::to_string(height));
    List({input});
    const std::pair<platform::ControlId, int> typed[] = {
        {kCropXEdit, left}, {kCropYEdit, top}, {kCropWidthEdit, width}, {kCropHeightEdit, height}};
    for (const auto& [box, value] : typed) controls.SetText(box, std::to_string(value));
    const form::BatchOutcome outcome = form->BatchRun();
    EXPECT_EQ(outcome.notWritten, partWidth == 0 ? 1 : 0);
    if (partWidth == 0) {
      EXPECT_EQ(Outputs(), Messages{});
      continue;
    }
    const imaging::Bitmap expected = testsupport::Painted(partWidth, partHeight, [&](int x, int y) {
      return testsupport::PixelAt(photo, partLeft + x, partTop + y);
    });
    const std::uint32_t written = imaging::LoadImageFile(outFolder + "photo.png");
    EXPECT_EQ(testsupport::ColorsOf(testsupport::PixelsOf(written)),
              testsupport::ColorsOf(expected));
    imaging::FreeImage(written);
  }
}

TEST_F(MainFormTest, PreviewsWriteThePageAndBothImagesAndShowTheMeasuredSizeOrAFailure) {
  // Without a selection the button saves the settings and asks for one.
  std::filesystem::remove(Log("Log.ini"));
  form->QualityPreview();
  EXPECT_EQ(shell.messages, Messages{"プレビューしたい画像をリストボックスから選択してください。"});
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), Messages{"Log.ini"});
  List({SaveImage(testsupport::PhotoLike(37, 23), "photo.png")});
  controls.SetListSelection(kInputList, 0);
  SelectFormat(kFormatJpegRadio);
  controls.SetComboSelection(kRotationCombo, 18);
  form->QualityPreview();
  EXPECT_EQ(testsupport::ReadFileText(Log("LOG.html")),
            testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/LOG.html"));
  EXPECT_EQ(imaging::ProbeFileKind(Log("Now.log"), 0), 3) << "the input's format";
  EXPECT_EQ(imaging::ProbeFileKind(Log("Temp.log"), 0), 2);
  EXPECT_EQ(Shown(kBeforeWidthEdit, kBeforeHeightEdit, kBeforeKindEdit), "37x23PNG");
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit, kAfterKindEdit), "23x37JPG");
  EXPECT_EQ(controls.Text(kAfterSizeEdit), std::to_string(*platform::FileSize(Log("Temp.log"))));
  // A listed file that has since become a PCX (its header's first bytes) is shown as one.
  testsupport::WriteFileText(
      controls.ListEntry(kInputList, 0),
      std::string("\x0A\x05\x01\x08\0\0\0\0\x05\0\x04\0", 12) + std::string(116, '\0'));
  form->ShowSelectedFile();
  EXPECT_EQ(controls.Text(kBeforeKindEdit), "PCX");
  // A lossless WebP of 7 × 5 (cwebp's output, translucent): shown as one, and its unedited copy
  // for the page is a PNG, which the browser shows.
  testsupport::WriteFileBytes(
      controls.ListEntry(kInputList, 0),
      {0x52, 0x49, 0x46, 0x46, 0x36, 0x00, 0x00, 0x00, 0x57, 0x45, 0x42, 0x50, 0x56,
       0x50, 0x38, 0x4C, 0x29, 0x00, 0x00, 0x00, 0x2F, 0x06, 0x00, 0x01, 0x10, 0x99,
       0x8C, 0xE8, 0x7F, 0x6C, 0x22, 0xA2, 0xFF, 0x01, 0x05, 0x6D, 0xDB, 0x30, 0x81,
       0x13, 0xFE, 0x14, 0xDB, 0x1D, 0x08, 0xF3, 0x1F, 0x62, 0xD2, 0x34, 0x84, 0xAF,
       0x39, 0x36, 0x01, 0xC8, 0x24, 0xB9, 0x54, 0xFC, 0x02, 0x00});
  form->QualityPreview();
  EXPECT_EQ(Shown(kBeforeWidthEdit, kBeforeHeightEdit, kBeforeKindEdit), "7x5WEBP");
  EXPECT_EQ(imaging::ProbeFileKind(Log("Now.log"), 0), 3);
  EXPECT_EQ(testsupport::ImageSizeOf(Log("Now.log")), std::pair(7, 5));
  EXPECT_EQ(shell.openedDocuments, (Messages{Log("LOG.html"), Log("LOG.html")}));
  form->RemovePreviewImages();
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), (Messages{"LOG.html", "Log.ini"}));

  // Table art shows the size measured after the edits, the crop's rather than the gathered width
  // and height; the quarter turn chosen above stays.
  Select(kSize640Radio, kSizeKeepRadio, 3);
  List({letter});
  controls.SetListSelection(kInputList, 0);
  SelectFormat(kFormatHtmRadio);
  form->ShowSelectedFile();
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit, kAfterKindEdit), "640x480HTM");
  Select(kSizeKeepRadio, kSizeKeepRadio, 3);
  controls.SetChecked(kCropCheck, true);
  controls.SetText(kCropWidthEdit, "4");
  controls.SetText(kCropHeightEdit, "3");
  form->ShowSelectedFile();
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit, kAfterKindEdit), "3x4HTM");
  // A failed preview shows as failed, not as the earlier result.
  SelectFormat(kFormatPngRadio);
  form->ShowSelectedFile();
  ASSERT_TRUE(testsupport::FileExists(Log("Temp.log")));
  controls.SetText(kCropXEdit, "500");  // outside the image: nothing is written
  form->ShowSelectedFile();
  EXPECT_FALSE(testsupport::FileExists(Log("Temp.log")));
  EXPECT_EQ(controls.Text(kAfterSizeEdit), "-1");
}

TEST_F(MainFormTest, APreviewWhosePageOrTableArtCannotBeWrittenSaysSoAndGoesOn) {
  // Folders in the way of the page and of the after image, which no user, root included, can
  // write as files. The page's failure is shown, and the before copy, the conversion and the
  // opening of the page go on.
  std::filesystem::create_directories(Log("LOG.html/in the way"));
  List({SaveImage(testsupport::PhotoLike(37, 23), "photo.png")});
  controls.SetListSelection(kInputList, 0);
  SelectFormat(kFormatJpegRadio);
  form->QualityPreview();
  EXPECT_EQ(shell.messages, Messages{"オープン失敗"});
  EXPECT_EQ(imaging::ProbeFileKind(Log("Now.log"), 0), 3);
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit, kAfterKindEdit), "37x23JPG");
  EXPECT_EQ(shell.openedDocuments, Messages{Log("LOG.html")});
  // A table-art after image that cannot be made shows its own failure and an empty page.
  std::filesystem::remove(Log("Temp.log"));
  std::filesystem::create_directories(Log("Temp.log/in the way"));
  SelectFormat(kFormatHtmRadio);
  shell.messages.clear();
  form->QualityPreview();
  EXPECT_EQ(shell.messages, (Messages{"オープン失敗", "オープン失敗"}));
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit, kAfterKindEdit), "0x0HTM");
  EXPECT_EQ(shell.openedDocuments.size(), 2u);
}

TEST_F(MainFormTest, KeptProportionsShowTheFittedSizeAfterAPreviewAndAfterABatch) {
  // 37 × 23 fitted into 640 × 480 is 640 × 398 (397.8): the preview's fields, the size a batch
  // of two entries (two workers) leaves measured, and the file written.
  const std::string photo = SaveImage(testsupport::PhotoLike(37, 23), "photo.png");
  Session().Photo.KeepAspect = 1;
  Select(kSize640Radio, kSizeKeepRadio, 3);
  form->SetJobs(2);
  for (const testsupport::OutputFormat& format : testsupport::kOutputFormats) {
    SCOPED_TRACE(format.extension);
    SelectFormat(format.radio);
    List({photo, photo});
    controls.SetListSelection(kInputList, 0);
    form->ShowSelectedFile();
    EXPECT_EQ(controls.Text(kAfterWidthEdit) + "x" + controls.Text(kAfterHeightEdit), "640x398");
    Session().Engine.LastOutputWidth = Session().Engine.LastOutputHeight = 0;
    EXPECT_TRUE(form->BatchRun().ran);
    EXPECT_EQ(std::pair(Session().Engine.LastOutputWidth, Session().Engine.LastOutputHeight),
              std::pair(640, 398));
    if (format.extension != "htm") {
      EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "photo." + format.extension),
                std::pair(640, 398));
    }
  }
}

TEST_F(MainFormTest, ChoosingTheOutputFolder) {
  const std::string current = platform::CurrentFolder();
  const std::string japanese = folder.File("表");
  platform::CreateFolder(japanese);
  using enum platform::FolderChoiceOutcome;
  // The dialog's answers and the folder chosen after each: the root stays the root, a cancel or
  // an answer without a path changes nothing, a folder ending in "/" gets no second one.
  const std::tuple<platform::FolderChoiceOutcome, std::string, std::string> answers[] = {
      {kChosen, "/", "/"},
      {kCancelled, "", "/"},
      {kNoFileSystemPath, "", "/"},
      {kChosen, outFolder, outFolder},
      {kChosen, japanese, japanese + "/"}};
  for (const auto& [outcome, path, chosen] : answers) {
    shell.folderAnswers = {{outcome, path}};
    form->ChooseOutputFolder();
    EXPECT_EQ(Session().Settings.OutputFolder, chosen) << path;
  }
  EXPECT_EQ(controls.Text(kOutputFolderEdit), japanese + "/");
  EXPECT_NE(testsupport::ReadFileText(Log("Log.ini")).find(japanese + "/\r\n"), std::string::npos);
  EXPECT_EQ(shell.dialogTitles.back(), "フォルダを指定してください");
  EXPECT_EQ(platform::CurrentFolder(), current);
}

}  // namespace

namespace {

TEST_F(MainFormTest, TwoFormsKeepTheirSessionsApart) {
  testsupport::TempFolder otherFolder;
  platform::HeadlessControls otherControls(form::MainFormControls());
  auto other = std::make_unique<form::MainForm>(otherControls, shell, otherFolder.Path());
  other->InitialUpdate();
  other->AddDroppedFiles({letter});
  otherControls.SetChecked(kFormatPngRadio, true);
  other->GatherJobOptions();
  // This form's session is its own: its folders, flags and job stay as its own start left them.
  EXPECT_EQ(Session().Settings.OutputFolder, outFolder);
  EXPECT_EQ(other->Session().Settings.OutputFolder, other->Folders().output);
  EXPECT_NE(Session().Job.SettingsFolder, other->Session().Job.SettingsFolder);
  EXPECT_EQ(Session().Job.OutputKind, 0);  // table art, as the start left it
  EXPECT_EQ(Session().Flags.InputPresent * 10 + other->Session().Flags.InputPresent, 1);
  form->BatchRun();
  EXPECT_EQ(shell.messages, Messages{kAddFiles}) << "the other form's list is not this one's";
  other.reset();
  // A new form starts like a new process, whatever the last one held.
  Session().Photo.KeepMetadata = 0;
  Session().Information.ShownWidthText = "37";
  Restart();
  EXPECT_EQ(Session().Photo.KeepMetadata, 1);
  EXPECT_EQ(Session().Information.ShownWidthText, "");
}

TEST_F(MainFormTest, APreviewConvertsWhatItWasStartedWithWhateverChangesWhileItWaits) {
  ThreadedShell threaded;
  form = std::make_unique<form::MainForm>(controls, threaded, folder.Path());
  form->InitialUpdate();
  const std::string photo = SaveImage(testsupport::PhotoLike(37, 23), "photo.png");
  List({photo});
  controls.SetListSelection(kInputList, 0);
  SelectFormat(kFormatJpegRadio);
  form->ShowSelectedFile();
  // While the conversion waits, the controls and the session change: another file, another
  // format, another turn and other photo options. The conversion sees none of it.
  threaded.meanwhile = [&] {
    SelectFormat(kFormatPngRadio);
    controls.SetComboSelection(kRotationCombo, 18);
    Session().Job.CurrentInputPath = letter;
    Session().Job.OutputKind = 3;  // PNG
    Session().Options.RotationStep = 18;
    Session().Photo.AutoOrient = 0;
  };
  form->ConvertForPreview();
  EXPECT_EQ(threaded.meanwhile, nullptr) << "the preview never waited";
  EXPECT_EQ(imaging::ProbeFileKind(Log("Temp.log"), 0), 2) << "the JPEG it was started as";
  EXPECT_EQ(testsupport::ImageSizeOf(Log("Temp.log")), (std::pair{37, 23}));
  EXPECT_EQ(controls.Text(kAfterWidthEdit) + "x" + controls.Text(kAfterHeightEdit), "37x23");
}

}  // namespace
