// STUB: replaced on merge.
#include <chrono>
#include <string>
#include "app/form.h"
#include "app/run_log.h"
#include "update/wait.h"
#include "update/zip.h"
namespace mv {
int16_t UnZipFiles(Form& form, std::string_view z, std::string_view d, std::string_view s) {
  LogInfo(form, "DESTINATION      : " + std::string(d));
  LogInfo(form, "ZIPFILE          : " + std::string(z));
  LogInfo(form, "FILESPEC         : " + std::string(s));
  return 0;
}
int16_t ZipFiles(Form& form, std::string_view a, std::string_view s) {
  LogInfo(form, "Zip Files      : " + std::string(a));
  LogInfo(form, "File Spec      : " + std::string(s));
  return 0;
}
void WaitSeconds(Form& form, float seconds) {
  LogInfo(form, "SECONDS: " + std::to_string(static_cast<int>(seconds)));
  if (!(seconds > 0)) return;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) form.window.WaitForEvents(std::chrono::milliseconds(20));
}
}  // namespace mv
