#include "app/AboutBox.h"

#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <functional>
#include <string>
#include <utility>

#include "app/DialogUnits.h"
#include "app/FormStyle.h"
#include "app/Resources.h"

namespace app {
namespace {

constexpr int kBoxWidth = 203;
constexpr int kBoxHeight = 116;

// A static that reports a click of the left button released over it.
class LinkLabel : public QLabel {
 public:
  LinkLabel(const QString& text, std::function<void()> onClick, QWidget* parent)
      : QLabel(text, parent), onClick_(std::move(onClick)) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = palette();
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    setPalette(linkPalette);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      onClick_();
    }
    QLabel::mouseReleaseEvent(event);
  }

 private:
  std::function<void()> onClick_;
};

QLabel* Static(const QString& text, QWidget* parent, const QRect& geometry,
               Qt::Alignment alignment = Qt::AlignLeft) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment | Qt::AlignTop);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

AboutBox::AboutBox(platform::Shell& shell, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Tessellarionバージョン情報"));
  setModal(true);
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits units(font);
  auto place = [&units](int left, int top, int width, int height) {
    return units.ToPixels({left, top, width, height});
  };
  setFixedSize(units.Horizontal(kBoxWidth), units.Vertical(kBoxHeight));

  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  icon->setGeometry(place(7, 7, 21, 20));
  Static(QStringLiteral("Tessellarion Version 1.02"), this, place(34, 12, 92, 8));
  Static(QStringLiteral("2004/01/24 VerUp"), this, place(128, 7, 68, 8), Qt::AlignRight);
  Static(QStringLiteral("（・∀・）ｺﾄｼﾓﾖﾛｼｸ!! "), this, place(106, 20, 90, 8), Qt::AlignRight);

  auto* support = new QGroupBox(QStringLiteral("サポート"), this);
  auto* style = new FormStyle;
  support->setStyle(style);
  style->setParent(this);
  support->setGeometry(place(7, 35, 189, 52));
  support->lower();
  Static(QStringLiteral("ホムペ"), this, place(15, 50, 26, 8));
  Static(QStringLiteral("メル"), this, place(15, 68, 26, 8));

  const std::string homePage = kHomePage;
  const std::string mail = std::string("mailto:") + kMailAddress;
  homePageLink_ = new LinkLabel(
      QStringLiteral("→ ") + QString::fromUtf8(kHomePage),
      [&shell, homePage] { shell.OpenDocument(homePage); }, this);
  homePageLink_->setGeometry(place(42, 50, 150, 8));
  mailLink_ = new LinkLabel(
      QStringLiteral("→ ") + QString::fromUtf8(kMailAddress),
      [&shell, mail] { shell.OpenDocument(mail); }, this);
  mailLink_->setGeometry(place(42, 68, 150, 8));

  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setDefault(true);
  close->setGeometry(place(7, 95, 189, 15));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace app
