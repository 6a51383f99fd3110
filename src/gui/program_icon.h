// The program icon, drawn from the SVG built into the program.
#ifndef MVUPDATE_GUI_PROGRAM_ICON_H_
#define MVUPDATE_GUI_PROGRAM_ICON_H_

#include <QIcon>
#include <QPixmap>

namespace mv {

// The icon at `size` logical pixels for a screen with `pixel_ratio`.
QPixmap ProgramPixmap(int size, qreal pixel_ratio = 1.0);
// The window icon, in the sizes window managers ask for.
QIcon ProgramIcon();

}  // namespace mv

#endif  // MVUPDATE_GUI_PROGRAM_ICON_H_
