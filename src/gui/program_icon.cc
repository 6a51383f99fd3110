#include "gui/program_icon.h"

#include <QPainter>
#include <QSvgRenderer>

namespace mv {

QPixmap ProgramPixmap(int size, qreal pixel_ratio) {
  QSvgRenderer renderer(QStringLiteral(":/mvupdate.svg"));
  const int device = qRound(size * pixel_ratio);
  QPixmap pixmap(device, device);
  pixmap.fill(Qt::transparent);
  if (renderer.isValid()) {
    QPainter painter(&pixmap);
    renderer.render(&painter);
  }
  pixmap.setDevicePixelRatio(pixel_ratio);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(ProgramPixmap(size));
  }
  return icon;
}

}  // namespace mv
