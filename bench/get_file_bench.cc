// One GetFile of a site's file, timed: the program half of the Windows
// download benchmark (bench/windows_bench runs it under Wine beside Linux's
// curl, against the same loopback site in the same run). Built for Linux
// too, where it gives the same figure without Wine.
//
// Usage: get_file_bench ADDRESS USER PASSWORD FILE WORK
//   The file lands in WORK/Application/Download (made when missing).
#include <chrono>
#include <cstdio>
#include <string>

#include "app/form.h"
#include "bench_window.h"
#include "system/files.h"
#include "transport/ftp_session.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr,
                 "usage: get_file_bench ADDRESS USER PASSWORD FILE WORK\n");
    return 2;
  }
  std::string work = argv[5];
  for (const char* tail : {"/Application", "/Application/Download"}) {
    // An existing folder is fine.
    static_cast<void>(mv::MakeFolder(work + tail));
  }
  mv::BenchWindow window(true);
  mv::Form form(window);
  form.settings.application_path = work + "/Application";
  mv::InitFTPControl(form.session, form.settings, form.log, form.env,
                     form.deployment.site);
  if (!form.session.Connect(argv[1], argv[2], argv[3])) return 1;
  auto start = std::chrono::steady_clock::now();
  bool ok = form.session.GetFile(argv[4], argv[4]);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  form.session.Disconnect();
  std::printf("GetFile %s %.2f s\n", ok ? "ok" : "FAIL", took.count());
  return ok ? 0 : 1;
}
