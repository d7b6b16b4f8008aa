// The main form's handlers on the headless backend, grouped by handler.
#include "form/MainForm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/ControlTable.h"
#include "imaging/Imaging.h"
#include "platform/FileSystem.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using Messages = std::vector<std::string>;

class MainFormTest : public testsupport::FormFixture {
 protected:
  MainFormTest() {
    form->InitialUpdate();
    shell.messages.clear();
    outFolder = folder.File("out/");
    platform::CreateFolder(outFolder);
    Settings().OutputFolder = outFolder;
  }
  void Select(ControlId radio, ControlId first, int count) {
    for (ControlId id = first; id < first + count; ++id) controls.SetChecked(id, id == radio);
  }
  void List(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) controls.AppendListEntry(kInputList, path);
    Flags().InputPresent = 1;
  }
  std::vector<std::string> Outputs() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(outFolder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string outFolder;
};

// --- Initial update and slider -------------------------------------------------------------

TEST_F(MainFormTest, FirstStartShowsTheResetSettingsAndPlaceholders) {
  EXPECT_TRUE(controls.IsChecked(kFormatBmpRadio));
  EXPECT_TRUE(controls.IsChecked(kSizeKeepRadio));
  EXPECT_TRUE(controls.IsChecked(kNamingKeepRadio));
  EXPECT_EQ(controls.Text(kWidthEdit), "320");
  EXPECT_EQ(controls.Text(kHeightEdit), "240");
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 20);
  EXPECT_EQ(controls.Text(kCompressionEdit), "20");
  EXPECT_EQ(controls.Text(kBmpDepthCombo), "２４ビットカラー");
  EXPECT_EQ(controls.Text(kRotationCombo), "そのまま");
  EXPECT_EQ(controls.Text(kColorEffectCombo), "そのまま");
  EXPECT_EQ(controls.Text(kCropXEdit) + controls.Text(kCropYEdit), "00");
  EXPECT_EQ(controls.Text(kCropWidthEdit) + controls.Text(kCropHeightEdit), "100100");
  EXPECT_FALSE(controls.IsChecked(kCropCheck));
  EXPECT_EQ(controls.Text(kOutputFolderEdit), folder.Path());
  EXPECT_EQ(controls.Text(kEntryCountEdit), "0");
  EXPECT_EQ(controls.Text(kTotalSizeEdit), "0");
  EXPECT_EQ(controls.Text(kBeforeSizeEdit), "???????????????????");
  EXPECT_EQ(controls.Text(kAfterKindEdit), "????");
  EXPECT_EQ(controls.ComboCount(kBmpDepthCombo), 4);
  EXPECT_EQ(controls.ComboCount(kColorEffectCombo), 9);
  ASSERT_EQ(controls.ComboCount(kRotationCombo), 72);
  EXPECT_EQ(controls.ComboEntries(kRotationCombo).back(), "355°回転");
  EXPECT_TRUE(testsupport::FileExists(folder.File("LogFile/Log.ini")));
}

TEST_F(MainFormTest, ARepeatedStartReloadsWithoutAddingEntriesOrPlaceholders) {
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

TEST_F(MainFormTest, TheSliderShowsItsPositionWithoutSaving) {
  const std::string before = testsupport::ReadFileText(folder.File("LogFile/Log.ini"));
  controls.SetSliderPosition(kCompressionSlider, 100, true);
  form->OnHorizontalScroll(kProgressBar);  // another control's message changes nothing
  EXPECT_EQ(controls.Text(kCompressionEdit), "20");
  form->OnHorizontalScroll(kCompressionSlider);
  EXPECT_EQ(Settings().Compression, 100);
  EXPECT_EQ(controls.Text(kCompressionEdit), "100");
  EXPECT_EQ(testsupport::ReadFileText(folder.File("LogFile/Log.ini")), before);
}

// --- Input list -----------------------------------------------------------------------------

TEST_F(MainFormTest, TheDialogListsConvertibleFilesAndShowsTheirInformation) {
  const std::string bmp = SaveImage(testsupport::LetterF(), "f.bmp");
  shell.fileAnswers = {bmp, bmp, std::nullopt};
  form->AddFileFromDialog();
  form->AddFileFromDialog();
  EXPECT_EQ(controls.ListCount(kInputList), 2) << "the same file may be listed twice";
  EXPECT_EQ(controls.Text(kEntryCountEdit), "2");
  EXPECT_EQ(controls.Text(kBeforeSizeEdit), std::to_string(54 + 5 * 20));
  EXPECT_EQ(controls.Text(kBeforeWidthEdit), "6");
  EXPECT_EQ(shell.dialogTitles.back(), "どのファイルを変換する？？");
  EXPECT_EQ(shell.lastFilters.size(), 4u);
  EXPECT_EQ(shell.lastFilters[0].patterns, "*.bmp;*.jp*g;*.png");

  form->DeleteAllEntries();
  form->AddFileFromDialog();  // cancelled
  EXPECT_EQ(Flags().InputPresent, 0) << "a cancelled dialog changes nothing";
  EXPECT_EQ(Job().CurrentInputPath, "");

  testsupport::WriteFileText(folder.File("a.gif"), "GIF89a......");
  shell.fileAnswers = {folder.File("a.gif")};
  form->AddFileFromDialog();
  EXPECT_EQ(Flags().InputPresent, 1) << "a confirmed dialog sets the flag even for a refusal";
  EXPECT_EQ(controls.ListCount(kInputList), 0);
  EXPECT_EQ(shell.messages, Messages{"GIFです!!この形式は変換できません!!"});
  form->BatchRun();
  EXPECT_EQ(shell.messages.back(), "入力ファイルを追加してください！！");
}

TEST_F(MainFormTest, TheLimitOf1000Entries) {
  const std::string bmp = SaveImage(testsupport::LetterF(), "f.bmp");
  const std::string jpg = SaveImage(testsupport::LetterF(), "f.jpg");
  testsupport::WriteFileText(folder.File("a.gif"), "GIF89a......");
  for (int i = 0; i < 999; ++i) controls.AppendListEntry(kInputList, bmp);

  form->AddDroppedFiles({jpg, jpg, jpg});
  EXPECT_EQ(controls.ListCount(kInputList), 1000);
  EXPECT_EQ(shell.messages, Messages{"1001個以上のリスト登録はできません。"});
  EXPECT_EQ(controls.Text(kEntryCountEdit), "1000");
  EXPECT_EQ(controls.ProgressPosition(kProgressBar), 0);

  // The dialog checks the kind first, the drop the limit first.
  shell.messages.clear();
  shell.fileAnswers = {folder.File("a.gif"), bmp};
  form->AddFileFromDialog();
  form->AddFileFromDialog();
  form->AddDroppedFiles({folder.File("a.gif")});
  EXPECT_EQ(shell.messages, (Messages{"GIFです!!この形式は変換できません!!",
                                      "1001個以上のリスト登録はできません。",
                                      "1001個以上のリスト登録はできません。"}));
  EXPECT_EQ(controls.ListCount(kInputList), 1000);
}

TEST_F(MainFormTest, ADropListsWhatCanBeConvertedAndLeavesTheBarAtZero) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  testsupport::WriteFileText(folder.File("a.gif"), "GIF89a......");
  std::vector<int> positions;
  controls.onProgress = [&](ControlId, int position, int) { positions.push_back(position); };
  form->AddDroppedFiles({png, folder.File("a.gif"), png, folder.File("a.gif"), folder.Path()});
  EXPECT_EQ(controls.ListCount(kInputList), 2);
  EXPECT_EQ(shell.messages, (Messages{"GIFです!!この形式は変換できません!!",
                                      "GIFです!!この形式は変換できません!!",
                                      "このファイルは変換できません!!"}));
  EXPECT_EQ(controls.RangeMaximum(kProgressBar), 5);
  EXPECT_EQ(positions.back(), 0);
  EXPECT_EQ(*std::max_element(positions.begin(), positions.end()), 5);
  EXPECT_EQ(controls.Text(kEntryCountEdit), "2");
}

TEST_F(MainFormTest, DeletingEntries) {
  List({"a", "b"});
  form->DeleteSelectedEntry();
  EXPECT_EQ(controls.ListCount(kInputList), 2) << "no selection, nothing removed";
  controls.SetListSelection(kInputList, 0);
  form->DeleteSelectedEntry();
  EXPECT_EQ(controls.ListEntry(kInputList, 0), "b");
  EXPECT_EQ(controls.Text(kEntryCountEdit), "1");
  controls.SetListSelection(kInputList, 0);
  form->DeleteSelectedEntry();
  EXPECT_EQ(Flags().InputPresent, 1) << "deleting one by one keeps the flag";
  form->BatchRun();
  EXPECT_EQ(shell.messages, Messages{"入力ファイルを追加してください！！"});
}

TEST_F(MainFormTest, TheTotalSizeCountsRealSizesIn64Bits) {
  testsupport::WriteFileText(folder.File("100"), std::string(100, 'x'));
  testsupport::WriteFileText(folder.File("200"), std::string(200, 'x'));
  testsupport::WriteFileText(folder.File("300"), std::string(300, 'x'));
  List({folder.File("100"), folder.File("200"), folder.File("300")});
  form->ShowTotalSize();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), "600");
  controls.SetListSelection(kInputList, 0);
  form->DeleteSelectedEntry();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), "600") << "kept until the button is pressed again";

  // A sparse file of 3 GiB and a file that has gone: the total is the real 64-bit sum.
  const std::string big = folder.File("big");
  testsupport::WriteFileText(big, "");
  ASSERT_EQ(truncate(big.c_str(), 3LL << 30), 0);
  List({big, folder.File("gone")});
  form->ShowTotalSize();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), std::to_string((3LL << 30) + 500));
}

// --- Batch run ------------------------------------------------------------------------------

TEST_F(MainFormTest, PreconditionsAndTheirMessagesInOrder) {
  form->BatchRun();
  EXPECT_EQ(shell.messages, Messages{"入力ファイルを追加してください！！"});
  EXPECT_EQ(controls.RangeMaximum(kProgressBar), 0);
  EXPECT_EQ(controls.ProgressPosition(kProgressBar), 0);
  EXPECT_FALSE(shell.waitCursor);

  shell.messages.clear();
  Select(kFormatHtmRadio, kFormatBmpRadio, 4);
  Select(kSizeCustomRadio, kSizeKeepRadio, 3);
  controls.SetText(kWidthEdit, "0");
  controls.SetText(kHeightEdit, "0");
  form->BatchRun();
  EXPECT_EQ(shell.messages, (Messages{"入力ファイルを追加してください！！",
                                      "ファイルサイズは１*１以上２０００*２０００以内にしてください！！"}));

  const std::string bmp = SaveImage(testsupport::LetterF(), "f.bmp");
  for (const auto& [width, height, runs] :
       std::vector<std::tuple<std::string, std::string, bool>>{{"2000", "2000", true},
                                                               {"1", "1", true},
                                                               {"12px", "9", true},
                                                               {"2001", "100", false},
                                                               {"100", "2001", false},
                                                               {"-5", "100", false}}) {
    controls.SetText(kWidthEdit, width);
    controls.SetText(kHeightEdit, height);
    List({bmp});
    Select(kFormatPngRadio, kFormatBmpRadio, 4);
    EXPECT_EQ(form->BatchRun().ran, runs) << width << "x" << height;
    form->DeleteAllEntries();
  }
  Select(kSize640Radio, kSizeKeepRadio, 3);
  controls.SetText(kWidthEdit, "abc");  // not looked at outside the custom size
  List({bmp});
  EXPECT_TRUE(form->BatchRun().ran);
}

TEST_F(MainFormTest, TableArtRunsTakeAtMostTenFiles) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  Select(kFormatHtmRadio, kFormatBmpRadio, 4);
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  List(std::vector<std::string>(10, png));
  EXPECT_TRUE(form->BatchRun().ran);
  EXPECT_EQ(Outputs().size(), 10u);
  List({png});
  shell.messages.clear();
  EXPECT_FALSE(form->BatchRun().ran);
  EXPECT_EQ(shell.messages, Messages{"TableArtは１０件までしか一括変換できません。"});
  Select(kFormatJpegRadio, kFormatBmpRadio, 4);
  EXPECT_TRUE(form->BatchRun().ran) << "only table art is limited";
}

TEST_F(MainFormTest, OutputNamesFollowTheNamingScheme) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  Select(kFormatPngRadio, kFormatBmpRadio, 4);
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  List({png, folder.File("missing.png"), png});
  const form::BatchOutcome outcome = form->BatchRun();
  EXPECT_EQ(Outputs(), (std::vector<std::string>{"1.png", "3.png"}))
      << "a skipped entry still uses up its number";
  EXPECT_EQ(outcome.notWritten, 1);
  EXPECT_EQ(shell.messages, (Messages{"このファイルは変換できません!!",
                                      "1件のファイルを変換できませんでした！！", "変換完了！！"}));

  form->DeleteAllEntries();
  std::filesystem::remove_all(outFolder);
  platform::CreateFolder(outFolder);
  Select(kNamingCustomRadio, kNamingKeepRadio, 3);
  controls.SetText(kCustomNameEdit, "img");
  List({png, png});
  form->BatchRun();
  EXPECT_EQ(Outputs(), (std::vector<std::string>{"img1.png", "img2.png"}));

  form->DeleteAllEntries();
  std::filesystem::remove_all(outFolder);
  platform::CreateFolder(outFolder);
  Select(kNamingKeepRadio, kNamingKeepRadio, 3);
  platform::CreateFolder(folder.File("in"));
  const std::string dotted = SaveImage(testsupport::LetterF(), "in/holiday.final.jpg");
  const std::string japanese = SaveImage(testsupport::LetterF(), "in/ソフト.bmp");
  List({dotted, japanese});
  form->BatchRun();
  EXPECT_EQ(Outputs(), (std::vector<std::string>{"holiday.final.png", "ソフト.png"}));
}

TEST_F(MainFormTest, SameNamesReplaceEarlierOutputsAndTheLastNumberIs1000) {
  platform::CreateFolder(folder.File("one"));
  platform::CreateFolder(folder.File("two"));
  const std::string first = SaveImage(testsupport::LetterF(), "one/a.bmp");
  const std::string second = SaveImage(*imaging::MakeBitmap(3, 7), "two/a.bmp");
  Select(kFormatBmpRadio, kFormatBmpRadio, 4);
  List({first, second});
  form->BatchRun();
  ASSERT_EQ(Outputs(), std::vector<std::string>{"a.bmp"});
  const imaging::ImageHandle result = imaging::LoadImageFile(outFolder + "a.bmp");
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(result, record);
  imaging::FreeImage(result);
  EXPECT_EQ(record[1], 3) << "the later entry's conversion";

  form->DeleteAllEntries();
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  List(std::vector<std::string>(1000, first));
  EXPECT_EQ(form->BatchRun().notWritten, 0);
  EXPECT_TRUE(testsupport::FileExists(outFolder + "1000.bmp"));
  EXPECT_EQ(controls.ProgressPosition(kProgressBar), 0);
}

TEST_F(MainFormTest, TheRunTakesTheOptionsShownWhenExecuteIsPressed) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  Select(kFormatPngRadio, kFormatBmpRadio, 4);
  controls.SetComboSelection(kColorEffectCombo, 3);  // negative
  controls.SetChecked(kCropCheck, true);
  controls.SetText(kCropXEdit, "1");
  controls.SetText(kCropYEdit, "1");
  controls.SetText(kCropWidthEdit, "2");
  controls.SetText(kCropHeightEdit, "2");
  List({png});
  form->BatchRun();
  const imaging::ImageHandle result = imaging::LoadImageFile(outFolder + "f.png");
  imaging::ImageInfoRecord record{};
  imaging::GetImageInfo(result, record);
  EXPECT_EQ(record[1], 2);
  EXPECT_EQ(imaging::ReadPixelColor(result, 0, 0), 0x00FFFFu) << "negative of blue is yellow";
  imaging::FreeImage(result);
  EXPECT_EQ(Options().EffectIndex, 3);
}

TEST(ControlTableTest, HoldsEveryControlOfTheFormAndTheHeadlessFormBuildsThem) {
  const auto& table = form::MainFormControls();
  platform::HeadlessControls controls(table);
  int withId = 0;
  for (const auto& definition : table) {
    if (definition.id == platform::kNoControlId) continue;
    ++withId;
    EXPECT_TRUE(controls.Exists(definition.id)) << definition.id;
    EXPECT_EQ(controls.KindOf(definition.id), definition.kind) << definition.id;
  }
  EXPECT_EQ(table.size(), 82u);
  EXPECT_EQ(withId, 45);
  EXPECT_EQ(controls.Text(kExecuteButton), "実行");
  EXPECT_FALSE(controls.IsChecked(kFormatBmpRadio)) << "buttons start unchecked";
}

TEST(FileNameOfTest, NameWithoutExtension) {
  EXPECT_EQ(form::FileNameOf("C:\\in\\photo.jpg"), "photo");
  EXPECT_EQ(form::FileNameOf("C:\\in\\a.b.c.png"), "a.b.c");
  EXPECT_EQ(form::FileNameOf("C:\\in\\noext"), "noext");
  EXPECT_EQ(form::FileNameOf("C:\\my.pics\\scan"), "scan");
  EXPECT_EQ(form::FileNameOf("C:/in/x.bmp"), "x");
  EXPECT_EQ(form::FileNameOf("C:\\in\\name."), "name.");
  EXPECT_EQ(form::FileNameOf("/表/ソフト.bmp"), "ソフト");
  EXPECT_EQ(form::FileNameOf("nofolder.bmp"), "");
  EXPECT_EQ(form::ExtensionOf("a.b.c"), "c");
  EXPECT_EQ(form::ExtensionOf("none"), "");
  EXPECT_EQ(form::ExtensionOf("end."), "");
}

// --- Quality preview ------------------------------------------------------------------------

TEST_F(MainFormTest, PreviewWithoutSelectionSavesAndAsks) {
  std::filesystem::remove(folder.File("LogFile/Log.ini"));
  form->QualityPreview();
  EXPECT_TRUE(testsupport::FileExists(folder.File("LogFile/Log.ini")));
  EXPECT_EQ(shell.messages,
            Messages{"プレビューしたい画像をリストボックスから選択してください。"});
  for (const char* name : {"LOG.html", "Now.log", "Temp.log"}) {
    EXPECT_FALSE(testsupport::FileExists(folder.File(std::string("LogFile/") + name))) << name;
  }
}

TEST_F(MainFormTest, SelectingAnEntryConvertsItForTheAfterColumn) {
  const std::string png = SaveImage(testsupport::PhotoLike(37, 23), "photo.png");
  List({png});
  controls.SetListSelection(kInputList, 0);
  Select(kFormatJpegRadio, kFormatBmpRadio, 4);
  controls.SetComboSelection(kRotationCombo, 18);
  form->ShowSelectedFile();
  EXPECT_EQ(imaging::ProbeFileKind(folder.File("LogFile/Temp.log"), 0), 2);
  EXPECT_EQ(controls.Text(kBeforeWidthEdit) + "x" + controls.Text(kBeforeHeightEdit), "37x23");
  EXPECT_EQ(controls.Text(kBeforeKindEdit), "PNG");
  EXPECT_EQ(controls.Text(kAfterWidthEdit) + "x" + controls.Text(kAfterHeightEdit), "23x37");
  EXPECT_EQ(controls.Text(kAfterKindEdit), "JPG");
  EXPECT_EQ(controls.Text(kAfterSizeEdit),
            std::to_string(*platform::FileSize(folder.File("LogFile/Temp.log"))));
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile/Now.log")));
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile/LOG.html")));
  EXPECT_TRUE(shell.openedDocuments.empty());
  EXPECT_FALSE(shell.waitCursor);
}

TEST_F(MainFormTest, ThePreviewButtonWritesThePageAndBothImagesAndOpensThePage) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  List({png});
  controls.SetListSelection(kInputList, 0);
  Select(kFormatJpegRadio, kFormatBmpRadio, 4);
  form->QualityPreview();
  EXPECT_EQ(testsupport::ReadFileText(folder.File("LogFile/LOG.html")),
            testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/LOG.html"));
  EXPECT_EQ(imaging::ProbeFileKind(folder.File("LogFile/Now.log"), 0), 3) << "the input's format";
  EXPECT_EQ(imaging::ProbeFileKind(folder.File("LogFile/Temp.log"), 0), 2);
  EXPECT_EQ(shell.openedDocuments, Messages{folder.File("LogFile/LOG.html")});

  form->RemovePreviewImages();
  EXPECT_EQ(std::vector<std::string>(
                {"LOG.html", "Log.ini"}),
            [&] {
              std::vector<std::string> names;
              for (const auto& entry : std::filesystem::directory_iterator(folder.File("LogFile"))) {
                names.push_back(entry.path().filename().string());
              }
              std::sort(names.begin(), names.end());
              return names;
            }());
}

TEST_F(MainFormTest, TableArtPreviewShowsTheMeasuredTableSize) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  List({png});
  controls.SetListSelection(kInputList, 0);
  Select(kFormatHtmRadio, kFormatBmpRadio, 4);
  Select(kSize640Radio, kSizeKeepRadio, 3);
  form->ShowSelectedFile();
  EXPECT_EQ(controls.Text(kAfterWidthEdit) + "x" + controls.Text(kAfterHeightEdit), "640x480");
  EXPECT_EQ(controls.Text(kAfterKindEdit), "HTM");

  // With a crop the page shows the cropped size, not the gathered width and height.
  Select(kSizeKeepRadio, kSizeKeepRadio, 3);
  controls.SetChecked(kCropCheck, true);
  controls.SetText(kCropXEdit, "0");
  controls.SetText(kCropYEdit, "0");
  controls.SetText(kCropWidthEdit, "4");
  controls.SetText(kCropHeightEdit, "3");
  form->ShowSelectedFile();
  EXPECT_EQ(controls.Text(kAfterWidthEdit) + "x" + controls.Text(kAfterHeightEdit), "4x3");
}

TEST_F(MainFormTest, AFailedPreviewShowsAsFailedNotAsTheEarlierResult) {
  const std::string png = SaveImage(testsupport::LetterF(), "f.png");
  List({png});
  controls.SetListSelection(kInputList, 0);
  Select(kFormatPngRadio, kFormatBmpRadio, 4);
  form->ShowSelectedFile();
  ASSERT_TRUE(testsupport::FileExists(folder.File("LogFile/Temp.log")));
  controls.SetChecked(kCropCheck, true);
  controls.SetText(kCropXEdit, "500");  // outside the image: nothing is written
  shell.messages.clear();
  form->ShowSelectedFile();
  EXPECT_FALSE(testsupport::FileExists(folder.File("LogFile/Temp.log")));
  EXPECT_EQ(controls.Text(kAfterSizeEdit), "-1");
}

// --- Output folder --------------------------------------------------------------------------

TEST_F(MainFormTest, ChoosingTheOutputFolder) {
  const std::string current = platform::CurrentFolder();
  const std::string japanese = folder.File("表");
  platform::CreateFolder(japanese);
  using platform::FolderChoiceOutcome;
  shell.folderAnswers = {{FolderChoiceOutcome::kChosen, japanese},
                         {FolderChoiceOutcome::kCancelled, ""},
                         {FolderChoiceOutcome::kNoFileSystemPath, ""},
                         {FolderChoiceOutcome::kChosen, "/"},
                         {FolderChoiceOutcome::kChosen, outFolder}};
  form->ChooseOutputFolder();
  EXPECT_EQ(controls.Text(kOutputFolderEdit), japanese + "/");
  EXPECT_NE(testsupport::ReadFileText(folder.File("LogFile/Log.ini")).find(japanese + "/\r\n"),
            std::string::npos);
  EXPECT_EQ(shell.dialogTitles.back(), "フォルダを指定してください");
  form->ChooseOutputFolder();
  form->ChooseOutputFolder();
  EXPECT_EQ(Settings().OutputFolder, japanese + "/") << "cancel and no path change nothing";
  form->ChooseOutputFolder();
  EXPECT_EQ(Settings().OutputFolder, "/") << "the root stays the root";
  form->ChooseOutputFolder();
  EXPECT_EQ(Settings().OutputFolder, outFolder) << "no second separator is added";
  EXPECT_EQ(platform::CurrentFolder(), current);
}

}  // namespace
