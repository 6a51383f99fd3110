#include "log/event_log.h"

#include <cstdio>
#include <string>

#include "system/date_time.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"

namespace mv {

EventLog::EventLog(Env& env, std::string_view install_path)
    : env_(env),
      log_folder_(JoinPath(install_path, "\\database")),
      file_(JoinPath(log_folder_, "\\MVEvents.log")) {}

Result<TextFile> EventLog::OpenFile() {
  Result<TextFile> file = TextFile::Open(env_, file_, TextFile::Mode::kAppend);
  if (file.ok()) return file;
  switch (file.failure().number()) {
    case kPathNotFound: {
      // When the file's folder is LogFolder written in another case (the
      // start-up says "Database", the default "database"), it is made as
      // the file's path writes it, so that the installation gets the folder
      // it names.
      std::string folder = ParentFolder(file_);
      // A folder that cannot be made shows as the failure of the open below.
      (void)MakeFolder(EqualsIgnoreCase(folder, log_folder_) ? folder
                                                             : log_folder_);
      return TextFile::Open(env_, file_, TextFile::Mode::kAppend);
    }
    case kFileAlreadyOpen:
      ++rollover_count_;
      file_ =
          JoinPath(log_folder_,
                   "\\MVEvents " + std::to_string(rollover_count_) + ".log");
      return TextFile::Open(env_, file_, TextFile::Mode::kAppend);
    default:
      return file;
  }
}

void EventLog::Write(std::string_view line) {
  if (clear_file_) {
    // Whatever stands under the name goes: the file of the last run, or a
    // link (the link itself, not what it leads to), a FIFO, an empty folder.
    RemoveEntry(ResolveCase(file_));
    clear_file_ = false;
  }
  // A line that cannot be written is lost; the list shows every line all
  // the same, and the command goes on.
  Result<TextFile> file = OpenFile();
  if (!file.ok()) return ReportLoss(file.failure());
  Status written = file.value().WriteLine(line);
  Status closed = file.value().Close();
  if (!written.ok()) return ReportLoss(written.failure());
  if (!closed.ok()) ReportLoss(closed.failure());
}

void EventLog::ReportLoss(const Failure& failure) {
  // Once: a disk that is full stays full for the lines after this one, and
  // a message per line would bury what the command says.
  if (loss_reported_) return;
  loss_reported_ = true;
  std::fprintf(stderr, "mvupdate: event log not written: %s\n",
               failure.Text().c_str());
}

void EventLog::WriteStats(std::string_view text) {
  Write(GeneralDate(Now()) + "\t" + std::string(text));
}

void EventLog::WriteStatsDetail(std::string_view text) {
  // Appended rather than "\t" + string: g++ 12 at -O3 reports a false
  // -Wrestrict for the insert at the front that the operator does (GCC bug
  // 105329).
  std::string line = "\t";
  line += text;
  Write(line);
}

}  // namespace mv
