#include "system/os_info.h"

#include <cstdlib>
#include <string>

#include "system/config.h"

namespace mv {

namespace {

constexpr size_t kComputerNameBuffer = 51;

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
    name = SystemComputerName();
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
      if (info->major == 6 && info->minor == 2) return "Windows 8/Server 2012";
      if (info->major == 6 && info->minor == 3) {
        return "Windows 8.1/Server 2012 R2";
      }
      // Windows 10 and later all say 10.0; the build number tells them
      // apart (the first build of each release).
      if (info->major == 10 && info->minor == 0 && info->server) {
        if (info->build >= 26100) return "Windows Server 2025";
        if (info->build >= 20348) return "Windows Server 2022";
        if (info->build >= 17763) return "Windows Server 2019";
        return "Windows Server 2016";
      }
      if (info->major == 10 && info->minor == 0) {
        return info->build >= 22000 ? "Windows 11" : "Windows 10";
      }
      return "Windows NT";
    default:
      return "";
  }
}

}  // namespace mv
