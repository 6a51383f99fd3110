// A picture of a window as the user sees it, for documentation and tests.
#ifndef MVUPDATE_GUI_SCREENSHOT_H_
#define MVUPDATE_GUI_SCREENSHOT_H_

#include <QString>

class QWidget;

namespace mv {

// Lets pending layout and paint work finish, renders `window` and writes it
// to `file` as PNG. Returns an empty text, or what went wrong.
QString SaveScreenshot(QWidget& window, const QString& file);

}  // namespace mv

#endif  // MVUPDATE_GUI_SCREENSHOT_H_
