#include "app/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace app {
namespace {

// Proportional Japanese gothic faces, best first. Fontconfig reports some under their Japanese
// and some under their Latin names, so both are listed.
constexpr const char* kFamilies[] = {
    "ＭＳ Ｐゴシック", "MS PGothic", "IPAPGothic",
    "IPA Pゴシック",   "VL PGothic", "Noto Sans CJK JP",
};

constexpr int kPointSize = 9;

// Scales like the platform's MulDiv: the exact quotient rounded half away from zero.
int Scale(int units, int base, int divisor) {
  return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

}  // namespace

QFont DialogFont() {
  const QStringList installed = QFontDatabase::families();
  for (const char* family : kFamilies) {
    const QString name = QString::fromUtf8(family);
    if (installed.contains(name, Qt::CaseInsensitive)) {
      QFont font(name);
      font.setPointSize(kPointSize);
      return font;
    }
  }
  QFont font;
  font.setPointSize(kPointSize);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = std::max(1, Scale(letters, 1, 52));
  baseY_ = std::max(1, metrics.height());
}

int DialogUnits::Horizontal(int units) const { return Scale(units, baseX_, 4); }

int DialogUnits::Vertical(int units) const { return Scale(units, baseY_, 8); }

QRect DialogUnits::ToPixels(const platform::DialogRect& rect) const {
  return {Horizontal(rect.left), Vertical(rect.top), Horizontal(rect.width), Vertical(rect.height)};
}

}  // namespace app
