// Dialog units: the font-relative measure the control table uses. One horizontal unit is a quarter
// of the font's average character width, one vertical unit an eighth of its height, so a form laid
// out in these units keeps its proportions whatever font it is shown in.
#pragma once

#include <QFont>
#include <QRect>

#include "platform/Controls.h"

namespace app {

// The font of the main form and the About box: "ＭＳ Ｐゴシック" at 9 points where it is
// installed, otherwise the closest Japanese proportional gothic found.
QFont DialogFont();

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  // Pixels per four horizontal units: the average width of the Latin letters, rounded.
  int BaseX() const { return baseX_; }
  // Pixels per eight vertical units: the font's height.
  int BaseY() const { return baseY_; }

  int Horizontal(int units) const;
  int Vertical(int units) const;
  QRect ToPixels(const platform::DialogRect& rect) const;

 private:
  int baseX_ = 0;
  int baseY_ = 0;
};

}  // namespace app
