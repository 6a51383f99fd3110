#include "update/string_helpers.h"

#include <cctype>

namespace mv {

int32_t FindLast(std::string_view text, std::string_view search) {
  int64_t p =
      static_cast<int64_t>(text.size()) - static_cast<int64_t>(search.size());
  while (p >= 1) {
    if (text.substr(static_cast<size_t>(p - 1), search.size()) == search) {
      return static_cast<int32_t>(p);
    }
    --p;
  }
  return static_cast<int32_t>(p);
}

std::string StripCharacter(std::string_view text, std::string_view character) {
  std::string s(text);
  if (character.empty()) return s;
  size_t p = s.find(character);
  while (p != std::string::npos) {
    s.erase(p, 1);
    p = s.find(character);
  }
  return s;
}

std::string TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

Result<int32_t> ParseWholeNumber(std::string_view text) {
  std::string t = TrimBlanks(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  size_t int_begin = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  std::string_view whole(t.data() + int_begin, i - int_begin);
  std::string_view fraction;
  if (i < t.size() && t[i] == '.') {
    size_t frac_begin = ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    fraction = std::string_view(t.data() + frac_begin, i - frac_begin);
  }
  if (i != t.size() || (whole.empty() && fraction.empty())) {
    return Failure(kTypeMismatch);
  }
  // Whole part, exactly, with an overflow check before every digit.
  int64_t value = 0;
  for (char c : whole) {
    value = value * 10 + (c - '0');
    if (value > int64_t{1} << 32) return Failure(kOverflow);
  }
  // Round half to even on the fraction's digits.
  if (!fraction.empty()) {
    char first = fraction[0];
    bool above_half =
        first > '5' || (first == '5' && fraction.find_first_not_of('0', 1) !=
                                            std::string_view::npos);
    bool exactly_half = first == '5' && fraction.find_first_not_of('0', 1) ==
                                            std::string_view::npos;
    if (above_half || (exactly_half && value % 2 == 1)) ++value;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return Failure(kOverflow);
  return static_cast<int32_t>(value);
}

std::string_view MidFrom(std::string_view text, size_t pos) {
  if (pos == 0 || pos > text.size()) return {};
  return text.substr(pos - 1);
}

}  // namespace mv
