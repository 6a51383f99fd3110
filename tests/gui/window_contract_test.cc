// The Qt window against the seam's table it shares with the Win32 window.
#include "support/window_contract.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "gtest/gtest.h"
#include "gui/main_window.h"

namespace mv {
namespace {

// A label's whole text: notes are cut to their room, their tooltip holds
// all of it.
std::string Shown(const QLabel* label) {
  return label->isHidden() ? "" : label->toolTip().toStdString();
}

WindowView ViewOf(const MainWindow& w) {
  WindowView view;
  auto* list = w.findChild<QListWidget*>("lstOutput");
  bool marked = false;
  for (int i = 0; i < list->count(); ++i) {
    QListWidgetItem* row = list->item(i);
    view.lines.push_back(row->text().toStdString());
    const QString mark = row->data(Qt::AccessibleDescriptionRole).toString();
    view.marks += mark.isEmpty() ? '-' : mark[0].toLatin1();
    marked = marked || !mark.isEmpty();
  }
  if (!marked) view.marks.clear();
  view.note = Shown(w.findChild<QLabel*>("statusNote"));
  auto* count = w.findChild<QLabel*>("markCount");
  view.mark_count = count->isHidden() ? "" : count->text().toStdString();
  view.current_row = list->currentRow();
  view.progress_text = Shown(w.findChild<QLabel*>("progressText"));
  auto* box = w.findChild<QCheckBox*>("chkUseAltSite");
  view.use_alternate_enabled = box->isEnabled();
  // The status bar as it is laid out once the window's events have run.
  QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  std::vector<Pane> panes;
  for (const auto& [name, whole] : {std::pair{"statusNote", view.note},
                                    {"markCount", view.mark_count},
                                    {"progressText", view.progress_text}}) {
    auto* pane = w.findChild<QLabel*>(name);
    if (pane->isHidden()) continue;
    const QString shown = pane->text();
    panes.push_back({shown.toStdString(), whole,
                     pane->fontMetrics().horizontalAdvance(shown) <=
                         pane->contentsRect().width()});
  }
  view.shortened = Shortened(panes);
  view.use_alternate_tip = box->toolTip().toStdString();
  view.progress_shown = !w.findChild<QProgressBar*>("progressBar")->isHidden();
  view.stop_enabled = w.findChild<QPushButton*>("cmdStop")->isEnabled();
  view.stop_requested = w.StopRequested();
  auto* question = w.findChild<QMessageBox*>("closeQuestion");
  view.question_open = question != nullptr && question->isVisible();
  return view;
}

void Do(MainWindow& w, Action action) {
  auto answer = [&](const char* text) {
    for (QAbstractButton* b :
         w.findChild<QMessageBox*>("closeQuestion")->buttons()) {
      if (b->text() == text) b->click();
    }
  };
  switch (action) {
    case Action::kNextError:
      return QTest::keyClick(&w, Qt::Key_F8);
    case Action::kPreviousError:
      return QTest::keyClick(&w, Qt::Key_F8, Qt::ShiftModifier);
    case Action::kEscape:
      return QTest::keyClick(&w, Qt::Key_Escape);
    case Action::kStop:
      return w.findChild<QPushButton*>("cmdStop")->click();
    case Action::kClose:
      w.close();
      return;
    case Action::kStopThenClose:
      return answer("&Stop, then close");
    case Action::kCloseWhenFinished:
      return answer("Close when &finished");
    case Action::kKeepTheWindow:
      return answer("&Keep the window");
  }
}

TEST(QtWindowTest, SharedSeamTable) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "gui_window_contract_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  for (const WindowContractRow& row : WindowContractRows()) {
    MainWindow w;
    RowCommands commands;
    w.SetCommands(&commands);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    WindowView view;
    commands.during = [&] {
      row.calls(w);
      for (Action action : row.actions) Do(w, action);
      view = ViewOf(w);
    };
    if (row.in_command) {
      w.findChild<QPushButton*>("cmdUpdate")->click();
      view.closed = !w.isVisible();
      MainWindow next;
      next.SetCommands(&commands);
      next.RunLoad();
      view.next_start = ViewOf(next).lines;
    } else {
      commands.during();
    }
    EXPECT_EQ(view, row.view) << row.name;
  }
}

}  // namespace
}  // namespace mv
