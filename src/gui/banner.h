// The banner across the top of the window (Picture1) with the program icon
// (Image1) at its left. A double-click anywhere on it, the icon included,
// is reported through on_double_click.
#ifndef MVUPDATE_GUI_BANNER_H_
#define MVUPDATE_GUI_BANNER_H_

#include <QWidget>
#include <functional>

namespace mv {

class Banner : public QWidget {
 public:
  explicit Banner(QWidget* parent = nullptr);

  std::function<void()> on_double_click;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace mv

#endif  // MVUPDATE_GUI_BANNER_H_
