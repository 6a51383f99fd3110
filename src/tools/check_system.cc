#include "tools/check_system.h"

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "app/form.h"
#include "app/run_log.h"
#include "system/failure.h"
#include "system/paths.h"
#include "tools/file_version.h"

namespace mv {

namespace {

struct ProgramFile {
  std::string_view name;
  bool server_only;
};

// The suite's program files in the Application folder, in the order listed.
constexpr ProgramFile kProgramFiles[] = {
    {"QorinMVCore.dll", false}, {"QorinSetup.dll", false},
    {"Merivane.exe", false},    {"POS.exe", false},
    {"MerivaneLM.exe", true},   {"MerivaneTM.exe", true},
};

void Line(Form& form, std::string_view text) {
  LogMessage(form, kLevelInformation, text, true, false, false);
}

// What an exception escaping the loop is reported as.
Failure FailureOf(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return Failure(kOutOfMemory);
  return Failure(kInvalidArgument, e.what());
}

void CheckFiles(Form& form) {
  if (!form.file_version) {
    form.file_version = std::make_unique<clsQorinFileVersion>();
  }
  clsQorinFileVersion& reader = *form.file_version;
  bool server = form.settings.InstallationType == 0;
  for (const ProgramFile& file : kProgramFiles) {
    if (file.server_only && !server) continue;
    std::string name(file.name);
    reader.FullPathName(JoinPath(form.settings.ApplicationPath, "\\" + name));
    if (reader.Available()) {
      Line(form, "...Checking: " + name + "..." + reader.FileVersion());
    } else {
      Line(form, "!!! Checking: " + name + "...not found!!!");
    }
  }
}

}  // namespace

void CheckSystemVersion(Form& form) {
  form.settings.LastError.clear();
  form.window.ClearLines();
  Line(form, "[Check System Version]");
  Line(form,
       "The Merivane files will be checked. The version of each file should ");
  Line(form,
       "match the other files.  The version should match the version you "
       "downloaded. ");
  Line(form,
       "If they don't, click the 'Reset Last Update' button to redo the "
       "update. ");
  Line(form, " ");
  try {
    CheckFiles(form);
  } catch (const std::exception& e) {
    form.settings.LastError =
        "!!! Check System Version Error: " + FailureOf(e).Text();
    LogMessage(form, kLevelError, form.settings.LastError, true, false, false);
  }
  Line(form, " ");
}

}  // namespace mv
