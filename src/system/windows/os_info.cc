#include "system/os_info.h"

#include <string>

#include "system/windows/win32.h"

namespace mv {

std::string SystemComputerName() {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buf, &n)) return "";
  return Narrow(std::wstring_view(buf, n));
}

std::string GetWindowsVersionName(std::string_view) {
  // RtlGetVersion tells the truth; GetVersionEx gives what the program's
  // manifest claims to know.
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto get = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                         ::GetProcAddress(ntdll, "RtlGetVersion")))
                   : nullptr;
  OSVERSIONINFOEXW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  if (get == nullptr || get(&v) != 0) return WindowsVersionName(std::nullopt);
  WindowsVersionInfo info;
  info.platform_id = v.dwPlatformId;
  info.major = v.dwMajorVersion;
  info.minor = v.dwMinorVersion;
  info.build = v.dwBuildNumber;
  info.server = v.wProductType != VER_NT_WORKSTATION;
  return WindowsVersionName(info);
}

}  // namespace mv
