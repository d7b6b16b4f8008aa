// The main form's handlers on the headless backend, grouped by handler.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/ControlIds.h"
#include "engine/ProcessState.h"
#include "form/MainForm.h"
#include "imaging/Imaging.h"
#include "platform/FileSystem.h"
#include "tests/support/FormFixture.h"

namespace {

using namespace engine;
using testsupport::FileExists;
using Messages = std::vector<std::string>;

const std::string kGif = "GIFです!!この形式は変換できません!!";
const std::string kCannot = "このファイルは変換できません!!";
const std::string kLimit = "1001個以上のリスト登録はできません。";
const std::string kAddFiles = "入力ファイルを追加してください！！";

class MainFormTest : public testsupport::FormFixture {
 protected:
  MainFormTest() {
    form->InitialUpdate();
    shell.messages.clear();
    ClearOutputs();
    Settings().OutputFolder = outFolder;
    letter = SaveImage(testsupport::LetterF(), "f.png");
    testsupport::WriteFileText(gif, "GIF89a......");
  }
  void Select(ControlId radio, ControlId first, int count) {
    for (ControlId id = first; id < first + count; ++id) controls.SetChecked(id, id == radio);
  }
  void Format(ControlId radio) { Select(radio, kFormatBmpRadio, 4); }
  void List(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) controls.AppendListEntry(kInputList, path);
    Flags().InputPresent = 1;
  }
  void ClearOutputs() {
    std::filesystem::remove_all(outFolder);
    platform::CreateFolder(outFolder);
  }
  void Crop(const char* left, const char* top, const char* width, const char* height) {
    controls.SetChecked(kCropCheck, true);
    controls.SetText(kCropXEdit, left);
    controls.SetText(kCropYEdit, top);
    controls.SetText(kCropWidthEdit, width);
    controls.SetText(kCropHeightEdit, height);
  }
  std::string Shown(ControlId width, ControlId height) {
    return controls.Text(width) + "x" + controls.Text(height);
  }
  std::vector<std::string> Outputs() const { return testsupport::FolderEntries(outFolder); }
  std::string Log(const char* name) const { return folder.File(std::string("LogFile/") + name); }

  std::string outFolder = folder.File("out/");
  std::string gif = folder.File("a.gif");
  std::string letter;
};

// --- Initial update and slider -------------------------------------------------------------

TEST_F(MainFormTest, FirstStartShowsTheResetSettingsAndPlaceholders) {
  for (ControlId id : {kFormatBmpRadio, kSizeKeepRadio, kNamingKeepRadio}) {
    EXPECT_TRUE(controls.IsChecked(id)) << id;
  }
  EXPECT_FALSE(controls.IsChecked(kCropCheck));
  const std::pair<ControlId, std::string> texts[] = {{kWidthEdit, "320"},
                                                     {kHeightEdit, "240"},
                                                     {kCompressionEdit, "20"},
                                                     {kCropXEdit, "0"},
                                                     {kCropYEdit, "0"},
                                                     {kCropWidthEdit, "100"},
                                                     {kCropHeightEdit, "100"},
                                                     {kEntryCountEdit, "0"},
                                                     {kTotalSizeEdit, "0"},
                                                     {kBmpDepthCombo, "２４ビットカラー"},
                                                     {kRotationCombo, "そのまま"},
                                                     {kColorEffectCombo, "そのまま"},
                                                     {kOutputFolderEdit, folder.Path()},
                                                     {kBeforeSizeEdit, "???????????????????"},
                                                     {kAfterKindEdit, "????"}};
  for (const auto& [id, text] : texts) EXPECT_EQ(controls.Text(id), text) << id;
  EXPECT_EQ(controls.SliderPosition(kCompressionSlider), 20);
  EXPECT_EQ(controls.ComboCount(kBmpDepthCombo), 4);
  EXPECT_EQ(controls.ComboCount(kColorEffectCombo), 9);
  ASSERT_EQ(controls.ComboCount(kRotationCombo), 72);
  EXPECT_EQ(controls.ComboEntries(kRotationCombo).back(), "355°回転");
  EXPECT_TRUE(FileExists(Log("Log.ini")));
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
  const std::string before = testsupport::ReadFileText(Log("Log.ini"));
  controls.SetSliderPosition(kCompressionSlider, 100, true);
  form->OnHorizontalScroll(kProgressBar);  // another control's message changes nothing
  EXPECT_EQ(controls.Text(kCompressionEdit), "20");
  form->OnHorizontalScroll(kCompressionSlider);
  EXPECT_EQ(Settings().Compression, 100);
  EXPECT_EQ(controls.Text(kCompressionEdit), "100");
  EXPECT_EQ(testsupport::ReadFileText(Log("Log.ini")), before);
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
  ASSERT_EQ(shell.lastFilters.size(), 4u);
  EXPECT_EQ(shell.lastFilters[0].patterns, "*.bmp;*.jp*g;*.png");

  form->DeleteAllEntries();
  form->AddFileFromDialog();  // cancelled
  EXPECT_EQ(Flags().InputPresent, 0) << "a cancelled dialog changes nothing";

  shell.fileAnswers = {gif};
  form->AddFileFromDialog();
  EXPECT_EQ(Flags().InputPresent, 1) << "a confirmed dialog sets the flag even for a refusal";
  EXPECT_EQ(controls.ListCount(kInputList), 0);
  form->BatchRun();
  EXPECT_EQ(shell.messages, (Messages{kGif, kAddFiles}));
}

TEST_F(MainFormTest, TheLimitOf1000Entries) {
  for (int i = 0; i < 999; ++i) controls.AppendListEntry(kInputList, letter);
  form->AddDroppedFiles({letter, letter, letter});
  EXPECT_EQ(controls.ListCount(kInputList), 1000);
  EXPECT_EQ(controls.Text(kEntryCountEdit), "1000");
  EXPECT_EQ(controls.ProgressPosition(kProgressBar), 0);

  // The dialog checks the kind first, the drop the limit first.
  shell.fileAnswers = {gif, letter};
  form->AddFileFromDialog();
  form->AddFileFromDialog();
  form->AddDroppedFiles({gif});
  EXPECT_EQ(shell.messages, (Messages{kLimit, kGif, kLimit, kLimit}));
  EXPECT_EQ(controls.ListCount(kInputList), 1000);
}

TEST_F(MainFormTest, ADropListsWhatCanBeConvertedAndLeavesTheBarAtZero) {
  std::vector<int> positions;
  controls.onProgress = [&](ControlId, int position, int) { positions.push_back(position); };
  form->AddDroppedFiles({letter, gif, letter, gif, folder.Path()});
  EXPECT_EQ(controls.ListCount(kInputList), 2);
  EXPECT_EQ(shell.messages, (Messages{kGif, kGif, kCannot}));
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
  EXPECT_EQ(shell.messages, Messages{kAddFiles});
}

TEST_F(MainFormTest, TheTotalSizeCountsRealSizesIn64Bits) {
  for (std::size_t size : {100u, 200u, 300u}) {
    testsupport::WriteFileText(folder.File(std::to_string(size)), std::string(size, 'x'));
    List({folder.File(std::to_string(size))});
  }
  form->ShowTotalSize();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), "600");
  controls.SetListSelection(kInputList, 0);
  form->DeleteSelectedEntry();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), "600") << "kept until the button is pressed again";

  // A sparse file of 5 GiB and a file that has gone: the total is the real 64-bit sum.
  const std::string big = folder.File("big");
  testsupport::WriteFileText(big, "");
  ASSERT_EQ(truncate(big.c_str(), 5LL << 30), 0);
  List({big, folder.File("gone")});
  form->ShowTotalSize();
  EXPECT_EQ(controls.Text(kTotalSizeEdit), std::to_string((5LL << 30) + 500));
}

// --- Batch run ------------------------------------------------------------------------------

TEST_F(MainFormTest, PreconditionsAndTheirMessagesInOrder) {
  form->BatchRun();
  EXPECT_EQ(controls.RangeMaximum(kProgressBar), 0);
  EXPECT_FALSE(shell.waitCursor);
  Format(kFormatHtmRadio);
  Select(kSizeCustomRadio, kSizeKeepRadio, 3);
  controls.SetText(kWidthEdit, "0");
  form->BatchRun();
  EXPECT_EQ(shell.messages,
            (Messages{kAddFiles, kAddFiles,
                      "ファイルサイズは１*１以上２０００*２０００以内にしてください！！"}));

  Format(kFormatPngRadio);
  for (const auto& [width, height, runs] :
       std::vector<std::tuple<std::string, std::string, bool>>{{"2000", "2000", true},
                                                               {"1", "1", true},
                                                               {"12px", "9", true},
                                                               {"2001", "100", false},
                                                               {"100", "2001", false},
                                                               {"-5", "100", false}}) {
    controls.SetText(kWidthEdit, width);
    controls.SetText(kHeightEdit, height);
    List({letter});
    EXPECT_EQ(form->BatchRun().ran, runs) << width << "x" << height;
    form->DeleteAllEntries();
  }
  Select(kSize640Radio, kSizeKeepRadio, 3);
  controls.SetText(kWidthEdit, "abc");  // not looked at outside the custom size
  List({letter});
  EXPECT_TRUE(form->BatchRun().ran);
}

TEST_F(MainFormTest, TableArtRunsTakeAtMostTenFiles) {
  Format(kFormatHtmRadio);
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  List(std::vector<std::string>(10, letter));
  EXPECT_TRUE(form->BatchRun().ran);
  EXPECT_EQ(Outputs().size(), 10u);
  List({letter});
  shell.messages.clear();
  EXPECT_FALSE(form->BatchRun().ran);
  EXPECT_EQ(shell.messages, Messages{"TableArtは１０件までしか一括変換できません。"});
  Format(kFormatJpegRadio);
  EXPECT_TRUE(form->BatchRun().ran) << "only table art is limited";
}

TEST_F(MainFormTest, OutputNamesFollowTheNamingScheme) {
  Format(kFormatPngRadio);
  Select(kNamingNumberRadio, kNamingKeepRadio, 3);
  List({letter, folder.File("missing.png"), letter});
  EXPECT_EQ(form->BatchRun().notWritten, 1);
  EXPECT_EQ(Outputs(), (Messages{"1.png", "3.png"})) << "a skipped entry still uses up its number";
  EXPECT_EQ(shell.messages,
            (Messages{kCannot, "1件のファイルを変換できませんでした！！", "変換完了！！"}));

  form->DeleteAllEntries();
  ClearOutputs();
  Select(kNamingCustomRadio, kNamingKeepRadio, 3);
  controls.SetText(kCustomNameEdit, "img");
  List({letter, letter});
  form->BatchRun();
  EXPECT_EQ(Outputs(), (Messages{"img1.png", "img2.png"}));

  form->DeleteAllEntries();
  ClearOutputs();
  Select(kNamingKeepRadio, kNamingKeepRadio, 3);
  platform::CreateFolder(folder.File("in"));
  List({SaveImage(testsupport::LetterF(), "in/holiday.final.jpg"),
        SaveImage(testsupport::LetterF(), "in/ソフト.bmp")});
  form->BatchRun();
  EXPECT_EQ(Outputs(), (Messages{"holiday.final.png", "ソフト.png"}));
}

TEST_F(MainFormTest, SameNamesReplaceEarlierOutputs) {
  platform::CreateFolder(folder.File("one"));
  platform::CreateFolder(folder.File("two"));
  List({SaveImage(testsupport::LetterF(), "one/a.bmp"),
        SaveImage(*imaging::MakeBitmap(3, 7), "two/a.bmp")});
  form->BatchRun();
  ASSERT_EQ(Outputs(), Messages{"a.bmp"});
  EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "a.bmp"), (std::pair{3, 7}))
      << "the later entry's conversion";
}

TEST_F(MainFormTest, TheRunTakesTheOptionsShownWhenExecuteIsPressed) {
  Format(kFormatPngRadio);
  controls.SetComboSelection(kColorEffectCombo, 3);  // negative
  Crop("1", "1", "2", "2");
  List({letter});
  form->BatchRun();
  EXPECT_EQ(testsupport::ImageSizeOf(outFolder + "f.png"), (std::pair{2, 2}));
  const imaging::ImageHandle result = imaging::LoadImageFile(outFolder + "f.png");
  EXPECT_EQ(imaging::ReadPixelColor(result, 0, 0), 0x00FFFFu) << "negative of blue is yellow";
  imaging::FreeImage(result);
}

TEST(FileNameOfTest, NameWithoutExtension) {
  const std::pair<const char*, const char*> names[] = {
      {"C:\\in\\photo.jpg", "photo"}, {"C:\\in\\a.b.c.png", "a.b.c"},
      {"C:\\in\\noext", "noext"},     {"C:\\my.pics\\scan", "scan"},
      {"C:/in/x.bmp", "x"},           {"C:\\in\\name.", "name."},
      {"/表/ソフト.bmp", "ソフト"},   {"nofolder.bmp", ""}};
  for (const auto& [path, name] : names) EXPECT_EQ(form::FileNameOf(path), name) << path;
  EXPECT_EQ(form::ExtensionOf("a.b.c"), "c");
  EXPECT_EQ(form::ExtensionOf("none"), "");
  EXPECT_EQ(form::ExtensionOf("end."), "");
}

// --- Quality preview ------------------------------------------------------------------------

TEST_F(MainFormTest, PreviewWithoutSelectionSavesAndAsks) {
  std::filesystem::remove(Log("Log.ini"));
  form->QualityPreview();
  EXPECT_TRUE(FileExists(Log("Log.ini")));
  EXPECT_EQ(shell.messages, Messages{"プレビューしたい画像をリストボックスから選択してください。"});
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), Messages{"Log.ini"});
}

TEST_F(MainFormTest, SelectingAnEntryConvertsItForTheAfterColumn) {
  List({SaveImage(testsupport::PhotoLike(37, 23), "photo.png")});
  controls.SetListSelection(kInputList, 0);
  Format(kFormatJpegRadio);
  controls.SetComboSelection(kRotationCombo, 18);
  form->ShowSelectedFile();
  EXPECT_EQ(imaging::ProbeFileKind(Log("Temp.log"), 0), 2);
  EXPECT_EQ(Shown(kBeforeWidthEdit, kBeforeHeightEdit), "37x23");
  EXPECT_EQ(controls.Text(kBeforeKindEdit), "PNG");
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit), "23x37");
  EXPECT_EQ(controls.Text(kAfterKindEdit), "JPG");
  EXPECT_EQ(controls.Text(kAfterSizeEdit), std::to_string(*platform::FileSize(Log("Temp.log"))));
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), (Messages{"Log.ini", "Temp.log"}));
  EXPECT_TRUE(shell.openedDocuments.empty());
}

TEST_F(MainFormTest, ThePreviewButtonWritesThePageAndBothImagesAndOpensThePage) {
  List({letter});
  controls.SetListSelection(kInputList, 0);
  Format(kFormatJpegRadio);
  form->QualityPreview();
  EXPECT_EQ(testsupport::ReadFileText(Log("LOG.html")),
            testsupport::ReadFileText(std::string(TESSELLARION_GOLDEN_DIR) + "/LOG.html"));
  EXPECT_EQ(imaging::ProbeFileKind(Log("Now.log"), 0), 3) << "the input's format";
  EXPECT_EQ(imaging::ProbeFileKind(Log("Temp.log"), 0), 2);
  EXPECT_EQ(shell.openedDocuments, Messages{Log("LOG.html")});
  form->RemovePreviewImages();
  EXPECT_EQ(testsupport::FolderEntries(folder.File("LogFile")), (Messages{"LOG.html", "Log.ini"}));
}

TEST_F(MainFormTest, TableArtPreviewShowsTheMeasuredTableSize) {
  List({letter});
  controls.SetListSelection(kInputList, 0);
  Format(kFormatHtmRadio);
  Select(kSize640Radio, kSizeKeepRadio, 3);
  form->ShowSelectedFile();
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit), "640x480");
  EXPECT_EQ(controls.Text(kAfterKindEdit), "HTM");

  // With a crop the page shows the cropped size, not the gathered width and height.
  Select(kSizeKeepRadio, kSizeKeepRadio, 3);
  Crop("0", "0", "4", "3");
  form->ShowSelectedFile();
  EXPECT_EQ(Shown(kAfterWidthEdit, kAfterHeightEdit), "4x3");
}

TEST_F(MainFormTest, AFailedPreviewShowsAsFailedNotAsTheEarlierResult) {
  List({letter});
  controls.SetListSelection(kInputList, 0);
  Format(kFormatPngRadio);
  form->ShowSelectedFile();
  ASSERT_TRUE(FileExists(Log("Temp.log")));
  Crop("500", "0", "100", "100");  // outside the image: nothing is written
  form->ShowSelectedFile();
  EXPECT_FALSE(FileExists(Log("Temp.log")));
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
  EXPECT_NE(testsupport::ReadFileText(Log("Log.ini")).find(japanese + "/\r\n"), std::string::npos);
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
