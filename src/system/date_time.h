// Calendar date and time as the suite records it, and its text forms.
#ifndef MVUPDATE_SYSTEM_DATE_TIME_H_
#define MVUPDATE_SYSTEM_DATE_TIME_H_

#include <compare>
#include <ctime>
#include <string>

namespace mv {

struct DateTime {
  // The zero of the OLE Automation date: 30 December 1899, midnight.
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  auto operator<=>(const DateTime&) const = default;
};

// The present local date and time.
DateTime Now();

// `unix_time` (seconds since 1970, UTC) as a local date and time.
DateTime LocalDateTime(std::time_t unix_time);

// A time broken down in the local time zone or in UTC; false when it cannot
// be (the platform's thread-safe conversions).
bool ToLocalTime(std::time_t t, std::tm& out);
bool ToUtcTime(std::time_t t, std::tm& out);

// General date in the US form, always with the time: "12/5/2026 4:14:29 AM".
std::string GeneralDate(const DateTime& t);

// "MM/DD/YYYY HH:NN:SS" with a 24-hour clock: "03/07/2016 14:05:09".
std::string FormatMmDdYyyy(const DateTime& t);

// Twelve digits YYMMDDhhmmss: "261205142509".
std::string FormatStampDigits(const DateTime& t);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_DATE_TIME_H_
