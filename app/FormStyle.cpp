#include "app/FormStyle.h"

#include <qdrawutil.h>

#include <QPainter>
#include <QStyleOption>

namespace app {
namespace {

// Pixels between a radio or check mark and its caption.
constexpr int kMarkToCaption = 3;
// Pixels of frame line left of a group's caption, and kept clear on either side of it.
constexpr int kCaptionIndent = 6;
constexpr int kCaptionGap = 2;

}  // namespace

int FormStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                           const QWidget* widget) const {
  if (metric == PM_RadioButtonLabelSpacing || metric == PM_CheckBoxLabelSpacing) {
    return kMarkToCaption;
  }
  return QProxyStyle::pixelMetric(metric, option, widget);
}

void FormStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                   QPainter* painter, const QWidget* widget) const {
  const auto* group = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
  if (control != CC_GroupBox || group == nullptr) {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    return;
  }
  const QFontMetrics& metrics = group->fontMetrics;
  const QRect caption(group->rect.left() + kCaptionIndent, group->rect.top(),
                      metrics.horizontalAdvance(group->text), metrics.height());

  // An etched frame of our own: the styles' group frames reserve room above the line for the
  // caption, which would push the line below where the table expects it.
  painter->save();
  QRegion visible(group->rect);
  if (!group->text.isEmpty()) visible -= caption.adjusted(-kCaptionGap, 0, kCaptionGap, 0);
  painter->setClipRegion(visible);
  qDrawShadeRect(painter, group->rect.adjusted(0, metrics.height() / 2, 0, 0), group->palette, true,
                 1, 0);
  painter->restore();

  if (!group->text.isEmpty()) {
    proxy()->drawItemText(painter, caption, Qt::AlignLeft | Qt::AlignVCenter, group->palette,
                          (group->state & State_Enabled) != 0, group->text, QPalette::WindowText);
  }
}

}  // namespace app
