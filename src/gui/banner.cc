#include "gui/banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include "gui/program_icon.h"

namespace mv {

namespace {
constexpr int kIconSize = 48;
constexpr int kMargin = 8;
}  // namespace

Banner::Banner(QWidget* parent) : QWidget(parent) {
  setObjectName("Picture1");
  auto* image = new QLabel(this);
  image->setObjectName("Image1");
  image->setPixmap(ProgramPixmap(kIconSize, devicePixelRatioF()));
  image->setFixedSize(kIconSize, kIconSize);
  // Clicks on the icon belong to the banner.
  image->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->addWidget(image);
  layout->addStretch(1);
  setFixedHeight(kIconSize + 2 * kMargin);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Banner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient fill(0, 0, width(), 0);
  fill.setColorAt(0.0, QColor(16, 45, 94));
  fill.setColorAt(0.6, QColor(52, 104, 176));
  fill.setColorAt(1.0, QColor(192, 192, 192));
  painter.fillRect(rect(), fill);
}

void Banner::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (on_double_click) on_double_click();
}

}  // namespace mv
