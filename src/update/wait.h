// The wait after a program was started: a number of seconds during which the
// window goes on handling its events.
#ifndef MVUPDATE_UPDATE_WAIT_H_
#define MVUPDATE_UPDATE_WAIT_H_

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "log/run_log.h"
#include "system/progress.h"
#include "system/window.h"

namespace mv {

// The longest wait: requests above it (and an infinite one) wait this long,
// so that no request can block the window for good.
inline constexpr std::chrono::milliseconds kLongestWait =
    std::chrono::hours(24);

// Waits `length` against the steady clock, letting the window's events run
// meanwhile and leaving the processor idle. `tick`, when given, runs after
// each pass with the time left.
void PumpFor(EventPump& pump, std::chrono::milliseconds length,
             const std::function<void(std::chrono::milliseconds)>& tick = {});

// Logs "SECONDS: " and the number; for a number greater than 0 it then waits
// that long (rounded to whole milliseconds, a half to the even neighbour)
// against the steady clock, letting the window's events run meanwhile and
// leaving the processor idle; the status bar counts it down ("waiting 10 s
// after RUN (7 s left)"). Returns when the wait is over, or early when the
// person asked the command to stop.
void WaitSeconds(EventPump& pump, RunLog& log, float seconds);

// How far a step on files (extracting, archiving, copying) has come. Its
// worker reports each file and its bytes; the window's thread shows them:
// the list names each file ("   3 of 120: Bin/Core.dll"), the status bar
// its bytes, rate and time left.
class FileProgress {
 public:
  // `verb` leads the status bar's text ("Extracting").
  FileProgress(std::string verb, RunLog& worker_log, bool list_files)
      : verb_(std::move(verb)),
        worker_log_(worker_log),
        list_files_(list_files) {}

  // On the worker: file `item` of `items` (from 1), `done` of its `total`
  // bytes (`total` < 0: unknown).
  void Report(std::string_view name, int item, int items, int64_t done,
              int64_t total);
  // On the window's thread: shows what was last reported.
  void Show(Window& window);

 private:
  std::string verb_;
  RunLog& worker_log_;
  bool list_files_;
  std::chrono::steady_clock::time_point last_line_{};
  int listed_item_ = 0;

  std::mutex mutex_;  // guards the fields below
  std::string name_;
  int item_ = 0, items_ = 0;
  int64_t done_ = 0, total_ = -1;

  int shown_item_ = 0;  // window's thread only
  ProgressMeter meter_{"", "the disk"};
};

// Runs `work(log, progress)` on a worker thread while the window goes on
// handling its events. `work` logs to the log it is given: its lines reach
// `log` (list and event log) in order while the step runs; with
// `list_files`, so does a line for each file. Gives what `work` gave.
template <typename Work>
auto RunFileStep(Window& window, RunLog& log, std::string verb, Work work,
                 bool list_files = true) {
  LineQueue queue;
  RunLog worker_log;
  worker_log.set_verbosity(log.verbosity());
  worker_log.set_queue(&queue);
  FileProgress progress(std::move(verb), worker_log, list_files);
  auto result = WhilePumping(
      &window, [&] { return work(worker_log, progress); },
      [&](std::chrono::steady_clock::duration) {
        queue.MoveTo(log);
        progress.Show(window);
      });
  queue.MoveTo(log);
  window.ShowActivity("");
  window.HideProgress();
  return result;
}

}  // namespace mv

#endif  // MVUPDATE_UPDATE_WAIT_H_
