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

// The file system ignores case itself.
std::string ResolveCase(std::string_view native) { return std::string(native); }

}  // namespace mv
