#include "update/string_helpers.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

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
  std::string s = TrimBlanks(text);
  // Plain decimal notation only: strtod alone would also take hexadecimal,
  // "inf" and "nan".
  bool has_digit = false;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      has_digit = true;
    } else if (c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') {
      return Failure(kTypeMismatch);
    }
  }
  if (!has_digit) return Failure(kTypeMismatch);
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return Failure(kTypeMismatch);
  double rounded = std::nearbyint(v);  // the default mode rounds half to even
  if (!(rounded >= std::numeric_limits<int32_t>::min() &&
        rounded <= std::numeric_limits<int32_t>::max())) {
    return Failure(kOverflow);
  }
  return static_cast<int32_t>(rounded);
}

std::string_view MidFrom(std::string_view text, size_t pos) {
  if (pos == 0 || pos > text.size()) return {};
  return text.substr(pos - 1);
}

}  // namespace mv
