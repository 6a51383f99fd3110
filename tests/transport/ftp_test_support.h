// Shared set-up of the FTP session tests: a sandbox installation whose form
// has run the start-up steps that the Comm module needs.
#ifndef MVUPDATE_TESTS_TRANSPORT_FTP_TEST_SUPPORT_H_
#define MVUPDATE_TESTS_TRANSPORT_FTP_TEST_SUPPORT_H_

#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/startup.h"
#include "support/recording_window.h"
#include "support/sandbox.h"
#include "system/paths.h"
#include "transport/comm.h"

namespace mv {

// A form after InitErrorLogging, InitDirectories and InitFTPControl, with
// short FTP limits (2 s answers, 1 s stall); `prepare` runs on the new form
// before InitFTPControl (to install a double, say).
class CommFixture {
 public:
  explicit CommFixture(std::function<void(Form&)> prepare = nullptr) {
    sb.env().Set("MVUPDATE_FTP_TIMEOUT", "2");
    sb.env().Set("MVUPDATE_FTP_STALL_SECONDS", "1");
    std::filesystem::create_directories(sb.install() + "/Database");
    form = std::make_unique<Form>(window, sb.config());
    if (prepare) prepare(*form);
    InitErrorLogging(*form);
    InitDirectories(*form);
    InitFTPControl(*form);
    window.lines.clear();
    log_start = ReadCrLfLines(sb.event_log()).size();
  }

  // Event log lines written since set-up: "S text" for a time-stamped line,
  // "D text" for a detail line.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> out;
    std::vector<std::string> lines = ReadCrLfLines(sb.event_log());
    for (size_t i = log_start; i < lines.size(); ++i) {
      size_t tab = lines[i].find('\t');
      out.push_back((tab == 0 ? "D " : "S ") + lines[i].substr(tab + 1));
    }
    return out;
  }

  std::string Download(const std::string& name) const {
    return sb.app() + "/Download/" + name;
  }

  Sandbox sb;
  RecordingWindow window;
  std::unique_ptr<Form> form;
  size_t log_start = 0;
};

// Wall and CPU time of a stretch of code.
class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()), cpu_(Cpu()) {}
  double Seconds() const {
    std::chrono::duration<double> d = std::chrono::steady_clock::now() - start_;
    return d.count();
  }
  double CpuSeconds() const { return Cpu() - cpu_; }

 private:
  static double Cpu() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  std::chrono::steady_clock::time_point start_;
  double cpu_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_TRANSPORT_FTP_TEST_SUPPORT_H_
