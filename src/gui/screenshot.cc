#include "gui/screenshot.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QWidget>

namespace mv {

QString SaveScreenshot(QWidget& window, const QString& file) {
  // Item views lay out their rows on a zero timer; run it first.
  QCoreApplication::processEvents();
  QPixmap picture = window.grab();
  if (picture.isNull()) return "could not render the window";
  if (!picture.save(file, "PNG")) return "could not write " + file;
  return {};
}

}  // namespace mv
