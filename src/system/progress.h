// Progress of long steps as a person reads it, and the way a step runs on a
// worker thread while the window's thread goes on handling events.
#ifndef MVUPDATE_SYSTEM_PROGRESS_H_
#define MVUPDATE_SYSTEM_PROGRESS_H_

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "system/window.h"

namespace mv {

// "512 bytes", "12.0 KB", "495.3 MB", "1.2 GB" (units of 1024).
std::string ByteText(int64_t bytes);
// "13 s", "2 min 5 s", "1 h 3 min".
std::string DurationText(int64_t seconds);

// Turns the byte counts of one file's transfer, extraction or copy into
// "Patch1.zip: 12.0 MB of 64.0 MB, 4.1 MB/s, 13 s left"; before the first
// count, the name alone. Rate and time left appear once a second of data
// has been seen; a step that has moved no
// byte for kStallSeconds reads "Patch1.zip: 12.0 MB of 64.0 MB, waiting
// for the site (12 s)" (`waiting_for` names what it waits for).
class ProgressMeter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kStallSeconds = 2;

  explicit ProgressMeter(std::string name = "",
                         std::string waiting_for = "the site")
      : name_(std::move(name)), waiting_for_(std::move(waiting_for)) {}

  // Starts a new file; the clock starts now.
  void Start(std::string name, Clock::time_point now = Clock::now());
  // Notes `done` of `total` bytes (`total` < 0: unknown) at `now`.
  void Note(int64_t done, int64_t total, Clock::time_point now = Clock::now());
  // The text as of `now`.
  std::string Text(Clock::time_point now = Clock::now()) const;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::string waiting_for_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_change_ = start_;
  int64_t done_ = 0;
  int64_t total_ = -1;
  bool noted_ = false;
};

// "waiting for the database (8 s)": what a wait of `seconds` says once it
// has lasted a second; empty before.
std::string WaitingText(std::string_view what,
                        std::chrono::steady_clock::duration waited);

// Runs `work` on a thread of its own while the calling thread waits in
// `pump`, running the window's events, and gives what `work` gave; without a
// pump, runs it right here. `tick`, when given, runs on the calling thread
// after each look at the worker, with the time waited so far. `work` must
// touch neither the window nor anything the window's events touch.
template <typename Work>
auto WhilePumping(
    EventPump* pump, Work work,
    const std::function<void(std::chrono::steady_clock::duration)>& tick = {})
    -> decltype(work()) {
  if (pump == nullptr) return work();
  // Then a step is looked at after 1 ms, doubling to every 10 ms.
  constexpr std::chrono::milliseconds kFirstPoll(1), kPoll(10);
  std::optional<decltype(work())> result;
  std::exception_ptr thrown;
  std::atomic<bool> done{false};
  const auto start = std::chrono::steady_clock::now();
  std::thread worker([&] {
    try {
      result.emplace(work());
    } catch (...) {
      thrown = std::current_exception();
    }
    done.store(true, std::memory_order_release);
  });
  // Most steps are quick (a small file, a refused connection): they are
  // looked at every 50 us for their first millisecond, which the window
  // does not notice, before the window's events are let through.
  for (auto quick = start + kFirstPoll;
       !done.load(std::memory_order_acquire) &&
       std::chrono::steady_clock::now() < quick;) {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  try {
    for (std::chrono::milliseconds poll = kFirstPoll;
         !done.load(std::memory_order_acquire);
         poll = std::min(poll * 2, kPoll)) {
      pump->WaitForEvents(poll);
      if (tick) tick(std::chrono::steady_clock::now() - start);
    }
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (thrown) std::rethrow_exception(thrown);
  return std::move(*result);
}

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_PROGRESS_H_
