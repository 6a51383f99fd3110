// Fuzz target of the command interpreter: the input is one command line,
// carried out on a server and on a client installation in the confined
// throwaway installation of installation.h.
#include <cstdint>
#include <string>

#include "installation.h"
#include "update/command_interpreter.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  mv::fuzz::NoteFuzzerArguments(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mv::fuzz::Installation& install = mv::fuzz::Installation::Get();
  for (mv::InstallationType type :
       {mv::InstallationType::kServer, mv::InstallationType::kClient}) {
    install.Reset();
    mv::fuzz::Session session(install, type);
    std::string line(reinterpret_cast<const char*>(data), size);
    mv::ExecuteCommandLine(session.context(), line);
  }
  return 0;
}
