#include "system/os_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <string>

#include "system/files.h"
#include "system/text.h"

namespace mv {

namespace {

// The value of `key=` in os-release text, without quotes.
std::string OsReleaseValue(std::string_view text, std::string_view key) {
  for (std::string_view line : SplitLines(text)) {
    if (line.size() > key.size() && line.substr(0, key.size()) == key &&
        line[key.size()] == '=') {
      std::string_view v = line.substr(key.size() + 1);
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') &&
          v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
      }
      std::string out;
      for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) ++i;
        out.push_back(v[i]);
      }
      return out;
    }
  }
  return "";
}

}  // namespace

std::string SystemComputerName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "";
  return buf;
}

std::string GetWindowsVersionName(std::string_view os_release) {
  Result<std::string> text = ReadWholeFile(os_release);
  if (text.ok()) {
    std::string pretty = OsReleaseValue(text.value(), "PRETTY_NAME");
    if (!pretty.empty()) return pretty;
  }
  utsname u;
  if (::uname(&u) == 0 && u.sysname[0] != '\0') {
    return std::string(u.sysname) + " " + u.release;
  }
  return WindowsVersionName(std::nullopt);
}

}  // namespace mv
