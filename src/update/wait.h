// The wait after a program was started: a number of seconds during which the
// window goes on handling its events.
#ifndef MVUPDATE_UPDATE_WAIT_H_
#define MVUPDATE_UPDATE_WAIT_H_

#include <chrono>

#include "log/run_log.h"
#include "system/window.h"

namespace mv {

// The longest wait: requests above it (and an infinite one) wait this long,
// so that no request can block the window for good.
inline constexpr std::chrono::milliseconds kLongestWait =
    std::chrono::hours(24);

// Waits `length` against the steady clock, letting the window's events run
// meanwhile and leaving the processor idle.
void PumpFor(EventPump& pump, std::chrono::milliseconds length);

// Logs "SECONDS: " and the number; for a number greater than 0 it then waits
// that long (rounded to whole milliseconds, a half to the even neighbour)
// against the steady clock, letting the window's events run meanwhile and
// leaving the processor idle. Returns when the wait is over.
void WaitSeconds(EventPump& pump, RunLog& log, float seconds);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_WAIT_H_
