#include "log/event_log.h"

#include <strings.h>
#include <unistd.h>

#include <string>

#include "system/date_time.h"
#include "system/files.h"
#include "system/paths.h"

namespace mv {

clsQorinEventLogTCP::clsQorinEventLogTCP(std::string_view install_path)
    : LogFolder_(JoinPath(install_path, "\\database")),
      strFile_(JoinPath(LogFolder_, "\\MVEvents.log")) {}

Result<TextFile> clsQorinEventLogTCP::getFileNumber() {
  Result<TextFile> file = TextFile::Open(strFile_, TextFile::Mode::kAppend);
  if (file.ok()) return file;
  switch (file.failure().number()) {
    case kPathNotFound: {
      // When the file's folder is LogFolder written in another case (the
      // main window says "Database", the default "database"), it is made as
      // the file's path writes it, so that the installation gets the folder
      // it names.
      std::string folder = ParentFolder(strFile_);
      bool same =
          folder.size() == LogFolder_.size() &&
          ::strncasecmp(folder.c_str(), LogFolder_.c_str(), folder.size()) == 0;
      MakeFolder(same ? folder : LogFolder_);
      return TextFile::Open(strFile_, TextFile::Mode::kAppend);
    }
    case kFileAlreadyOpen:
      ++RolloverCount_;
      strFile_ = JoinPath(
          LogFolder_, "\\MVEvents " + std::to_string(RolloverCount_) + ".log");
      return TextFile::Open(strFile_, TextFile::Mode::kAppend);
    default:
      return file;
  }
}

void clsQorinEventLogTCP::Write(std::string_view line) {
  if (blnClearFile_) {
    ::unlink(ResolveCase(strFile_).c_str());
    blnClearFile_ = false;
  }
  Result<TextFile> file = getFileNumber();
  if (!file.ok()) return;  // the line is lost; nothing is reported
  file.value().WriteLine(line);
  file.value().Close();
}

void clsQorinEventLogTCP::WriteStats(std::string_view pstrErr) {
  Write(GeneralDate(Now()) + "\t" + std::string(pstrErr));
}

void clsQorinEventLogTCP::WriteStatsDetail(std::string_view pstrErr) {
  // Appended rather than "\t" + string: g++ 12 at -O3 warns (-Wrestrict)
  // about the insert at the front that the operator does.
  std::string line = "\t";
  line += pstrErr;
  Write(line);
}

}  // namespace mv
