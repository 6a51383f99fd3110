// The Qt window against the seam's table it shares with the Win32 window.
#include "support/window_contract.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>

#include "gtest/gtest.h"
#include "gui/main_window.h"

namespace mv {
namespace {

WindowView ViewOf(const MainWindow& w) {
  WindowView view;
  auto* list = w.findChild<QListWidget*>("lstOutput");
  for (int i = 0; i < list->count(); ++i) {
    view.lines.push_back(list->item(i)->text().toStdString());
  }
  // The note is cut to the status bar's width; its tooltip holds all of it.
  view.note = w.findChild<QLabel*>("statusNote")->toolTip().toStdString();
  view.use_alternate_enabled =
      w.findChild<QCheckBox*>("chkUseAltSite")->isEnabled();
  view.progress_shown = !w.findChild<QProgressBar*>("progressBar")->isHidden();
  return view;
}

TEST(QtWindowTest, SharedSeamTable) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "gui_window_contract_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  for (const WindowContractRow& row : WindowContractRows()) {
    MainWindow w;
    row.calls(w);
    EXPECT_EQ(ViewOf(w), row.view) << row.name;
  }
}

}  // namespace
}  // namespace mv
