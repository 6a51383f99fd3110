// Fuzz target of update detection and installation: the input is a whole
// update control file, put where a fetch leaves it and processed as an
// update run does, once on a server installation and once on a client, in
// the confined throwaway installation of installation.h.
//
// Besides crashes it checks what installation promises: the updates it
// starts have rising numbers, and the stored number is the last one it
// recorded.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "installation.h"
#include "system/last_update.h"
#include "update/control_file.h"
#include "update/update_detection.h"

namespace {

void Write(const std::string& path, std::string_view contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

// The number in a "   Installing update N..." or "   Update N installed."
// line, or nothing.
bool NumberAfter(const std::string& line, std::string_view head,
                 int64_t& number) {
  if (line.compare(0, head.size(), head) != 0) return false;
  number = std::strtoll(line.c_str() + head.size(), nullptr, 10);
  return true;
}

void CheckOutcome(const mv::fuzz::Session& session) {
  const mv::RecordingWindow& window = session.window;
  int64_t last_started = INT64_MIN;
  for (const std::string& line : window.history) {
    int64_t n;
    if (NumberAfter(line, "   Installing update ", n)) {
      if (n <= last_started) std::abort();  // an update installed twice
      last_started = n;
    }
  }
  bool recorded = false;
  int64_t last_recorded = 0;
  for (const std::string& line : window.lines) {
    if (NumberAfter(line, "   Update ", last_recorded)) recorded = true;
  }
  mv::Result<int32_t> stored = mv::ReadLastUpdateInstalled(session.store);
  if (!stored.ok()) return;  // the commands took the settings file away
  if (stored.value() != (recorded ? last_recorded : 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  mv::fuzz::NoteFuzzerArguments(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mv::fuzz::Installation& install = mv::fuzz::Installation::Get();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (mv::InstallationType type :
       {mv::InstallationType::kServer, mv::InstallationType::kClient}) {
    install.Reset();
    // A server run reads the Download copy, a client run the Update copy.
    Write(install.app() + "/Download/MVUpdate.dat", text);
    Write(install.app() + "/Update/MVUpdate.dat", text);
    mv::fuzz::Session session(install, type);
    if (mv::CheckForNewUpdate(session.context(), session.store) ==
        mv::UpdateCheck::kNewUpdate) {
      mv::ProcessUpdateControlFile(session.context(), session.store);
      CheckOutcome(session);
    }
  }
  return 0;
}
