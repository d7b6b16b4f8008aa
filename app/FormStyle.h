// The application's style, adjusted to the proportions the control table was laid out for: group
// boxes draw an etched frame whose top line runs through the middle of the caption, so the
// contents start just below the caption, and radio buttons and check boxes leave a narrow gap
// between mark and caption.
#pragma once

#include <QProxyStyle>

namespace app {

class FormStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget = nullptr) const override;
};

}  // namespace app
