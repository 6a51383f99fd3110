#include "system/text.h"

#include <algorithm>
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

std::string TrimSpaces(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

std::string_view TrimSpacesAndTabs(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::string_view TrimWhitespace(std::string_view text) {
  auto space = [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
  };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(
        pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

Result<int32_t> ParseWholeNumber(std::string_view text) {
  std::string s = TrimSpaces(text);
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
