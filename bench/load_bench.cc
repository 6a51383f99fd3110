// Load: how time and memory grow with the size of the work.
//
//   load_bench [scale...] [--work FOLDER] [--only NAME]
//
// For each scale (default 1 and 10) it runs, each in a process of its own so
// that the peak resident size is that work's own:
//   control  an update control file of scale x 1 000 updates with 10
//            command lines each, installed on a server installation after
//            start-up (ProcessUpdateControlFile);
//   eventlog scale x 100 000 lines written to the event log file;
//   zip      scale x 100 000 small files (in 100 folders) put into one
//            archive (ZipFiles);
//   unzip    that archive extracted again (UnZipFiles);
//   registry start-up and Check System (what "mvupdate-cli check" does) with
//            a registry file of scale x 20 000 values (about 1 MB at 1x)
//            besides the suite's three.
// It prints seconds, microseconds per item and peak RSS of each. The
// installation has no database (each recording logs the failed connection,
// as a run without its database does). Work happens below FOLDER (default
// $TMPDIR), which needs about 2 GiB at scale 10.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/form.h"
#include "app/startup.h"
#include "bench_window.h"
#include "log/event_log.h"
#include "system/files.h"
#include "system/last_update.h"
#include "update/update_detection.h"
#include "update/zip.h"

namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A sandbox installation below `root`, reached through the overrides.
void Installation(const std::string& root) {
  fs::create_directories(root + "/odbc");
  ::setenv("MVUPDATE_REGISTRY", (root + "/registry.reg").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  ::setenv("MVUPDATE_COMPUTERNAME", "SRV01", 1);
  ::setenv("MVUPDATE_UNC_ROOT", (root + "/unc").c_str(), 1);
  ::setenv("ODBCSYSINI", (root + "/odbc").c_str(), 1);
  ::setenv("ODBCINI", (root + "/odbc/odbc.ini").c_str(), 1);
  Write(root + "/registry.reg",
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
        "\"InstallPath\"=\"" +
            root +
            "/Merivane\"\r\n\"DBServerName\"=\"SRV01\"\r\n"
            "\"DatabaseName\"=\"Quillmere\"\r\n");
}

// 10 command lines run per update on a server: comments, a folder made,
// entered and left, two files copied into it and one deleted, and a line of
// the server block; the client block's line is skipped.
std::string ControlFile(int updates) {
  std::string text = "LASTUPDATE=" + std::to_string(updates) + "\r\n";
  for (int n = 1; n <= updates; ++n) {
    std::string u = std::to_string(n);
    text += "[UPDATE " + u + "]\r\n";
    text += "USERCOMMENT=Update " + u + "\r\n";
    text += "' comment of update " + u + "\r\n";
    text += "CHDIR ..\\Download\r\n";
    text += "MKDIR U" + u + "\r\n";
    text += "COPY Seed\\*.txt U" + u + "\\\r\n";
    text += "CHDIR U" + u + "\r\n";
    text += "DELETE b.txt\r\n";
    text += "CHDIR ..\r\n";
    text += "PROMPT=Continue?\r\n";
    text += "{SERVER}\r\n";
    text += "USERCOMMENT=server " + u + "\r\n";
    text += "{CLIENT}\r\n";
    text += "USERCOMMENT=client " + u + "\r\n";
  }
  return text;
}

// Each measure: prepare (not timed), then the work (timed); gives the
// number of items done.
struct Load {
  const char* name;
  const char* unit;
  std::function<void(const std::string& root, int scale)> prepare;
  std::function<long(const std::string& root, int scale)> work;
};

long Control(const std::string& root, int scale) {
  mv::BenchWindow window;
  mv::Form form(window);
  mv::StartUp(form);
  std::string app = form.settings.application_path;
  Write(app + "/Download/MVUpdate.dat", ControlFile(1000 * scale));
  Write(app + "/Download/Seed/a.txt", "a\r\n");
  Write(app + "/Download/Seed/b.txt", "b\r\n");
  (void)root;
  const mv::CommandContext context = form.Run().commands();
  if (mv::CheckForNewUpdate(context, form.settings_store) !=
      mv::UpdateCheck::kNewUpdate) {
    std::abort();
  }
  mv::ProcessUpdateControlFile(context, form.settings_store);
  if (mv::ReadLastUpdateInstalled(form.settings_store).value() !=
      1000 * scale) {
    std::abort();
  }
  return 1000L * scale;
}

long EventLog(const std::string& root, int scale) {
  mv::EventLog log(root + "/Merivane");
  log.set_file(root + "/Merivane/Database/MVUpEvents.log");
  long lines = 100000L * scale;
  for (long i = 0; i < lines; ++i) {
    if (i % 10 == 0) {
      log.WriteStats("Installing update " + std::to_string(i / 10) + "...");
    } else {
      log.WriteStatsDetail("COMMAND: COPY Seed\\*.txt U" + std::to_string(i));
    }
  }
  return lines;
}

void MakeFiles(const std::string& root, int scale) {
  long files = 100000L * scale;
  for (long i = 0; i < files; ++i) {
    std::string folder = root + "/src/F" + std::to_string(i % 100);
    if (i < 100) fs::create_directories(folder);
    std::ofstream(folder + "/file" + std::to_string(i) + ".txt")
        << "small file " << i << "\r\n";
  }
}

long ZipWork(const std::string& root, int scale) {
  mv::BenchWindow window;
  mv::Form form(window);
  if (!mv::ChangeFolder(root).ok()) std::abort();
  if (mv::ZipFiles(form.log, "load.zip", "src\\*.*") != 0) std::abort();
  return 100000L * scale;
}

long UnzipWork(const std::string& root, int scale) {
  mv::BenchWindow window;
  mv::Form form(window);
  if (!mv::ChangeFolder(root).ok()) std::abort();
  if (mv::UnZipFiles(form.env, form.log, "load.zip", root + "/out", "*.*") !=
      0) {
    std::abort();
  }
  return 100000L * scale;
}

// A registry file of scale x 20 000 values of about 50 bytes besides the
// suite's three, used from here on (in this child process).
void BigRegistry(const std::string& root, int scale) {
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n"
      "\"InstallPath\"=\"" +
      root +
      "/Merivane\"\r\n\"DBServerName\"=\"SRV01\"\r\n"
      "\"DatabaseName\"=\"Quillmere\"\r\n";
  for (long i = 0; i < 20000L * scale; ++i) {
    text += "\"Value" + std::to_string(i) + "\"=\"" + std::string(30, 'v') +
            "\"\r\n";
  }
  Write(root + "/big.reg", text);
  ::setenv("MVUPDATE_REGISTRY", (root + "/big.reg").c_str(), 1);
}

long RegistryWork(const std::string&, int scale) {
  mv::BenchWindow window;
  mv::Form form(window);
  mv::FormCommands commands(form);
  commands.Load();
  commands.CheckSystem();
  return 20000L * scale;
}

// Runs `load` at `scale` in a child process; prints its line.
void Measure(const Load& load, const std::string& root, int scale) {
  std::fflush(stdout);
  pid_t pid = ::fork();
  if (pid == 0) {
    load.prepare(root, scale);
    auto start = std::chrono::steady_clock::now();
    long items = load.work(root, scale);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf(
        "%-9s %3dx %9ld %-7s %9.2f s %9.1f us/item  peak RSS %7.1f MiB\n",
        load.name, scale, items, load.unit, seconds,
        seconds * 1e6 / static_cast<double>(items),
        static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::fflush(stdout);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("%-9s %3dx failed\n", load.name, scale);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> scales;
  std::string work = fs::temp_directory_path().string();
  std::string only;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--work" && i + 1 < argc) {
      work = argv[++i];
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      scales.push_back(std::atoi(a.c_str()));
    }
  }
  if (scales.empty()) scales = {1, 10};
  auto nothing = [](const std::string&, int) {};
  const Load loads[] = {
      {"control", "updates", nothing, Control},
      {"eventlog", "lines", nothing, EventLog},
      {"zip", "files", MakeFiles, ZipWork},
      {"unzip", "files", nothing, UnzipWork},
      {"registry", "values", BigRegistry, RegistryWork},
  };
  for (int scale : scales) {
    std::string root = work + "/mvload-" + std::to_string(::getpid());
    fs::remove_all(root);
    Installation(root);
    for (const Load& load : loads) {
      // unzip needs the archive that zip makes.
      if (only.empty() || only == load.name ||
          (only == "unzip" && std::string(load.name) == "zip")) {
        Measure(load, root, scale);
      }
    }
    fs::remove_all(root);
  }
  return 0;
}
