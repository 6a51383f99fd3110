#include "transport/site_address.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "system/date_time.h"
#include "system/text.h"

namespace mv {

namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

}  // namespace

bool ValidHost(std::string_view host) {
  std::string_view port;
  bool has_port = false;
  if (!host.empty() && host.front() == '[') {
    size_t close = host.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    for (char c : host.substr(1, close - 1)) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' &&
          c != '.') {
        return false;
      }
    }
    std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      has_port = true;
      port = rest.substr(1);
    }
  } else {
    size_t colon = host.find(':');
    std::string_view name = host.substr(0, colon);
    if (name.empty()) return false;
    for (char c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' &&
          c != '-' && c != '_') {
        return false;
      }
    }
    if (colon != std::string_view::npos) {
      has_port = true;
      port = host.substr(colon + 1);
    }
  }
  if (!has_port) return true;
  if (!AllDigits(port) || port.size() > 5) return false;
  long value = std::stol(std::string(port));
  return value >= 1 && value <= 65535;
}

bool IsWebAddress(std::string_view address) {
  return EqualsIgnoreCase(address.substr(0, 8), "https://") ||
         EqualsIgnoreCase(address.substr(0, 7), "http://");
}

std::optional<std::string> WebBase(std::string_view address) {
  bool https = EqualsIgnoreCase(address.substr(0, 8), "https://");
  std::string_view rest = address.substr(https ? 8 : 7);
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (!ValidHost(rest.substr(0, rest.find('/')))) return std::nullopt;
  for (char c : rest) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '?' || c == '#' ||
        c == '@' || c == '\\' || c == '"' || c == 0x7f) {
      return std::nullopt;
    }
  }
  return (https ? "https://" : "http://") + std::string(rest);
}

std::string_view UrlHost(std::string_view url) {
  size_t start = url.find("://");
  if (start == std::string_view::npos) return {};
  url.remove_prefix(start + 3);
  return url.substr(0, url.find('/'));
}

std::string HttpDate(int64_t time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm tm;
  char text[64];
  if (!ToUtcTime(t, tm)) return "";
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

}  // namespace mv
