#include "system/paths.h"

#include <shlobj.h>

#include <string>

#include "system/config.h"
#include "system/windows/win32.h"

namespace mv {

std::string DefaultConfigFile() {
  PWSTR folder = nullptr;
  std::string data = "C:/ProgramData";
  if (::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder) ==
      S_OK) {
    data = Narrow(folder);
  }
  ::CoTaskMemFree(folder);
  return data + "\\Qorin\\mvupdate.conf";
}

extern const char kSeparator = '\\';

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

namespace {

bool HasDrive(std::string_view native) {
  return native.size() >= 2 && native[1] == ':' &&
         ((native[0] >= 'A' && native[0] <= 'Z') ||
          (native[0] >= 'a' && native[0] <= 'z'));
}

}  // namespace

bool IsAbsolutePath(std::string_view native) {
  if (native.size() >= 2 && IsSeparator(native[0]) && IsSeparator(native[1])) {
    return true;  // \\SERVER\Share
  }
  return HasDrive(native) && native.size() >= 3 && IsSeparator(native[2]);
}

bool IsRootFolder(std::string_view native) {
  if (HasDrive(native)) {
    return native.size() == 2 || (native.size() == 3 && IsSeparator(native[2]));
  }
  if (native.size() < 2 || !IsSeparator(native[0]) || !IsSeparator(native[1])) {
    return false;
  }
  // "//SERVER/Share" and "//SERVER/Share/": nothing below the share.
  size_t server_end = native.find_first_of("/\\", 2);
  if (server_end == std::string_view::npos) return true;
  size_t share_end = native.find_first_of("/\\", server_end + 1);
  return share_end == std::string_view::npos || share_end + 1 == native.size();
}

// The file system ignores case itself.
std::string ResolveCase(std::string_view native) { return std::string(native); }

}  // namespace mv
