#include "data/column_values.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "system/text.h"

namespace mv {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to `max_digits` digits from the front of `s`.
bool TakeNumber(std::string_view& s, size_t max_digits, int* out) {
  size_t n = 0;
  int v = 0;
  while (n < s.size() && n < max_digits && IsDigit(s[n])) {
    v = v * 10 + (s[n] - '0');
    ++n;
  }
  if (n == 0) return false;
  s.remove_prefix(n);
  *out = v;
  return true;
}

// Reads exactly `digits` digits.
bool TakeFixed(std::string_view& s, size_t digits, int* out) {
  if (s.size() < digits) return false;
  int v = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (!IsDigit(s[i])) return false;
    v = v * 10 + (s[i] - '0');
  }
  s.remove_prefix(digits);
  *out = v;
  return true;
}

bool Take(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

void SkipBlanks(std::string_view& s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool ValidDate(const DateTime& t) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  if (t.year < 100 || t.year > 9999 || t.month < 1 || t.month > 12) {
    return false;
  }
  int days = kDays[t.month - 1] + (t.month == 2 && IsLeap(t.year) ? 1 : 0);
  return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour < 24 &&
         t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

// "HH:MM[:SS[.fraction]]" of the ISO form.
bool TakeIsoTime(std::string_view& s, DateTime* t) {
  if (!TakeFixed(s, 2, &t->hour) || !Take(s, ':') ||
      !TakeFixed(s, 2, &t->minute)) {
    return false;
  }
  if (Take(s, ':')) {
    if (!TakeFixed(s, 2, &t->second)) return false;
    if (Take(s, '.')) {
      int ignored;
      if (!TakeNumber(s, 9, &ignored)) return false;
    }
  }
  return true;
}

// An optional zone offset: "Z", "+HH", "+HHMM" or "+HH:MM".
bool TakeOffset(std::string_view& s) {
  if (Take(s, 'Z')) return true;
  if (!Take(s, '+') && !Take(s, '-')) return true;
  int hh, mm;
  if (!TakeFixed(s, 2, &hh)) return false;
  Take(s, ':');
  if (!s.empty()) return TakeFixed(s, 2, &mm);
  return true;
}

bool ParseIso(std::string_view s, DateTime* t) {
  if (!TakeFixed(s, 4, &t->year) || !Take(s, '-') ||
      !TakeFixed(s, 2, &t->month) || !Take(s, '-') ||
      !TakeFixed(s, 2, &t->day)) {
    return false;
  }
  if (s.empty()) return true;
  if (!Take(s, ' ') && !Take(s, 'T')) return false;
  return TakeIsoTime(s, t) && TakeOffset(s) && s.empty();
}

bool ParseUs(std::string_view s, DateTime* t) {
  if (!TakeNumber(s, 2, &t->month) || !Take(s, '/') ||
      !TakeNumber(s, 2, &t->day) || !Take(s, '/') ||
      !TakeFixed(s, 4, &t->year)) {
    return false;
  }
  SkipBlanks(s);
  if (s.empty()) return true;
  if (!TakeNumber(s, 2, &t->hour) || !Take(s, ':') ||
      !TakeFixed(s, 2, &t->minute)) {
    return false;
  }
  if (Take(s, ':') && !TakeFixed(s, 2, &t->second)) return false;
  SkipBlanks(s);
  if (s.empty()) return true;
  std::string suffix;
  for (char c : s) {
    suffix.push_back(
        static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  if (suffix != "AM" && suffix != "PM") return false;
  if (t->hour < 1 || t->hour > 12) return false;
  t->hour = t->hour % 12 + (suffix == "PM" ? 12 : 0);
  return true;
}

}  // namespace

Result<DateTime> ToDateTime(std::string_view text) {
  std::string trimmed = TrimSpaces(text);
  std::string_view s = trimmed;
  DateTime t;
  t.hour = t.minute = t.second = 0;
  bool parsed =
      s.find('/') != std::string_view::npos ? ParseUs(s, &t) : ParseIso(s, &t);
  if (!parsed || !ValidDate(t)) return Failure(kTypeMismatch);
  return t;
}

}  // namespace mv
