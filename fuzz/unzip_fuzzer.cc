// Fuzz target of extraction: the input is an archive, extracted with the
// file pattern "*.*" into a folder of the confined throwaway
// installation of installation.h. Besides crashes it checks that nothing
// was written beside the destination folder: an entry that left it would
// show up there (the confinement keeps anything further away from the
// machine).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "installation.h"
#include "update/zip.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  mv::fuzz::NoteFuzzerArguments(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  mv::fuzz::Installation& install = mv::fuzz::Installation::Get();
  install.Reset();
  // The archive and the destination sit in a folder of their own, two
  // levels below the installation's root.
  std::string work = install.app() + "/Download/work";
  fs::create_directories(work + "/out/deep");
  std::ofstream(work + "/in.zip", std::ios::binary)
      .write(reinterpret_cast<const char*>(data),
             static_cast<std::streamsize>(size));
  {
    mv::RecordingWindow window;
    mv::RunLog log(&window);
    mv::UnZipFiles(mv::Env::Default(), log, work + "/in.zip",
                   work + "/out/deep", "*.*");
  }
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(work, ec)) {
    std::string name = e.path().filename().string();
    if (name != "in.zip" && name != "out") std::abort();
  }
  for (const fs::directory_entry& e :
       fs::directory_iterator(work + "/out", ec)) {
    if (e.path().filename() != "deep") std::abort();
  }
  return 0;
}
