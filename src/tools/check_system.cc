#include "tools/check_system.h"

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "system/failure.h"
#include "system/paths.h"

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

void Line(RunLog& log, std::string_view text) {
  log.LogMessage(kLevelInformation, text, kStampedLine);
}

// What an exception escaping the loop is reported as.
Failure FailureOf(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return Failure(kOutOfMemory);
  return Failure(kInvalidArgument, e.what());
}

void CheckFiles(const InstallSettings& settings, FileVersionReader& reader,
                RunLog& log) {
  bool server = settings.is_server();
  for (const ProgramFile& file : kProgramFiles) {
    if (file.server_only && !server) continue;
    std::string name(file.name);
    reader.FullPathName(settings.App("\\" + name));
    if (reader.Available()) {
      Line(log, "...Checking: " + name + "..." + reader.FileVersion());
    } else {
      Line(log, "!!! Checking: " + name + "...not found!!!");
    }
  }
}

}  // namespace

void CheckSystemVersion(const InstallSettings& settings,
                        FileVersionReader& reader, RunLog& log) {
  log.Clear();
  Line(log, "[Check System Version]");
  Line(log,
       "The Merivane files will be checked. The version of each file should ");
  Line(log,
       "match the other files.  The version should match the version you "
       "downloaded. ");
  Line(log,
       "If they don't, click the 'Reset Last Update' button to redo the "
       "update. ");
  Line(log, " ");
  try {
    CheckFiles(settings, reader, log);
  } catch (const std::exception& e) {
    log.LogMessage(kLevelError,
                   "!!! Check System Version Error: " + FailureOf(e).Text(),
                   kStampedLine);
  }
  Line(log, " ");
}

}  // namespace mv
