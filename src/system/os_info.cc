#include "system/os_info.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "system/config.h"
#include "system/files.h"
#include "system/text.h"

namespace mv {

namespace {

constexpr size_t kComputerNameBuffer = 51;

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

std::string GetLocalComputerName() {
  std::string name;
  // MVUPDATE_COMPUTERNAME counts when set, even to nothing.
  if (const char* env = std::getenv("MVUPDATE_COMPUTERNAME"); env) {
    name = env;
  } else if (auto file = Configuration()->Get("COMPUTERNAME");
             file && !file->empty()) {
    name = *file;
  } else {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return "";
    name = buf;
  }
  if (name.size() >= kComputerNameBuffer) return "";
  return name;
}

std::string WindowsVersionName(const std::optional<WindowsVersionInfo>& info) {
  if (!info) return "Unable to identify your version of Windows.";
  switch (info->platform_id) {
    case 0:
      return "Win32s on Windows 3.1";
    case 1:
      if (info->minor == 0) return "Windows 95";
      if (info->minor == 90) return "Windows Me";
      return "Windows 98";
    case 2:
      if (info->major == 3) return "Windows NT 3.5";
      if (info->major == 4) return "Windows NT 4.0";
      if (info->major == 5 && info->minor == 0) return "Windows 2000";
      if (info->major == 5 && info->minor == 1) return "Windows XP";
      if (info->major == 5 && info->minor == 2) return "Windows Server 2003";
      if (info->major == 6 && info->minor == 0) {
        return "Windows Vista/Server 2008";
      }
      if (info->major == 6 && info->minor == 1) {
        return "Windows 7/Server 2008 R2";
      }
      return "Windows NT";
    default:
      return "";
  }
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
