#include "system/date_time.h"

#include <cstdio>
#include <ctime>

namespace mv {

DateTime Now() { return LocalDateTime(std::time(nullptr)); }

DateTime LocalDateTime(std::time_t unix_time) {
  std::tm tm{};
  ToLocalTime(unix_time, tm);
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

std::string GeneralDate(const DateTime& t) {
  int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%02d:%02d %s", t.month, t.day,
                t.year, hour12, t.minute, t.second, t.hour < 12 ? "AM" : "PM");
  return buf;
}

std::string FormatMmDdYyyy(const DateTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.month,
                t.day, t.year, t.hour, t.minute, t.second);
  return buf;
}

std::string FormatStampDigits(const DateTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.year % 100,
                t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

}  // namespace mv
