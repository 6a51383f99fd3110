// Questions start-up asks of the operating system: this computer's name and
// the name of the running system.
#ifndef MVUPDATE_SYSTEM_OS_INFO_H_
#define MVUPDATE_SYSTEM_OS_INFO_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mv {

// MVUPDATE_COMPUTERNAME when set, else the host name. A name that does not
// fit the 51-character buffer of the original query (over 50 characters) or
// cannot be obtained gives empty text.
std::string GetLocalComputerName();

// The name the system gives this computer; empty when it has none.
std::string SystemComputerName();

// The version record of the original platform's query.
struct WindowsVersionInfo {
  uint32_t platform_id = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  bool server = false;  // a server edition (not a workstation)
};

// Maps a version record to its name; nothing means the query failed.
std::string WindowsVersionName(const std::optional<WindowsVersionInfo>& info);

// The name of the running system: PRETTY_NAME of `os_release` (normally
// /etc/os-release); else the kernel's name and release; else the text the
// original gives when the query fails. On Windows: the version record of
// RtlGetVersion through WindowsVersionName (`os_release` is not read).
std::string GetWindowsVersionName(
    std::string_view os_release = "/etc/os-release");

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_OS_INFO_H_
