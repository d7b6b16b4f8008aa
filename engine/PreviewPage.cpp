// The quality preview's page: the before and after images one below the other, each with a zoom
// list. Its text is fixed; it is written in Shift_JIS with CR LF line ends.
#include <string>
#include <string_view>

#include "engine/Converter.h"
#include "platform/Encoding.h"
#include "platform/Shell.h"
#include "platform/TextFile.h"

namespace engine {
namespace {

constexpr std::string_view kPageStart =
    "<HTML> \n<HEAD> \n<TITLE>画質プレビュー</TITLE> \n</HEAD> \n<BODY> \n<br> \n"
    "<b><font size=\"5\">Tessellarion Ver1.02 for プレビュー \n<br> \n";
constexpr std::string_view kBeforeImage =
    "<br> 変換前 <br> \n<IMG id=\"img\" src=\"Now.log\"> \n"
    "<SELECT onChange=\"img.style.zoom=this.options[this.selectedIndex].value\">\n";
constexpr std::string_view kAfterImage =
    "<br> 変換後 <br> \n<IMG id=\"Temp\" src=\"Temp.log\"> \n"
    "<SELECT onChange=\"Temp.style.zoom=this.options[this.selectedIndex].value\">\n";
// The zoom list; 100% is preselected and the last option also closes the list.
constexpr std::string_view kZoomList =
    "<OPTION value=\"10%\">10% \n"
    "<OPTION value=\"50%\">50% \n"
    "<OPTION value=\"75%\">75% \n"
    "<OPTION value=\"100%\" selected>100% \n"
    "<OPTION value=\"125%\">125% \n"
    "<OPTION value=\"150%\">150% \n"
    "<OPTION value=\"175%\">175% \n"
    "<OPTION value=\"200%\">200% \n"
    "<OPTION value=\"225%\">225% \n"
    "<OPTION value=\"250%\">250% \n"
    "<OPTION value=\"275%\">275% \n"
    "<OPTION value=\"300%\">300% \n</SELECT> \n<br> \n";
constexpr std::string_view kPageEnd = "</BODY> \n</HTML>";

}  // namespace

int Converter::WritePreviewPage(const std::string& path) {
  std::string page;
  for (std::string_view piece :
       {kPageStart, kBeforeImage, kZoomList, kAfterImage, kZoomList, kPageEnd}) {
    page += piece;
  }
  const std::optional<std::string> shiftJis = platform::Utf8ToShiftJis(page);
  if (!shiftJis || !platform::WriteTextFile(path, *shiftJis)) {
    platform::MessageBox("オープン失敗");
  }
  return 0;
}

}  // namespace engine
