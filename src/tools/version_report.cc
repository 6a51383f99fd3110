#include "tools/version_report.h"

#include <string>

#include "system/files.h"
#include "system/text.h"
#include "tools/file_version.h"

namespace mv {

namespace {

void Line(RunLog& log, std::string_view text,
          int32_t level = kLevelInformation) {
  log.LogMessage(level, text, kStampedLine);
}

// A value line with its label padded so that the values line up.
void Value(RunLog& log, std::string_view label, std::string_view value) {
  std::string line(label);
  if (line.size() < 17) line.append(17 - line.size(), ' ');
  Line(log, line + ": " + std::string(value));
}

}  // namespace

void ShowFileVersion(RunLog& log, std::string_view path) {
  // A fresh reader: values of an earlier file must not show for this one.
  FileVersionReader v;
  v.FullPathName(path);
  Line(log, "[File Version]");
  Value(log, "FULL PATH NAME", v.FullPathName());
  if (!v.Available()) {
    bool exists = !v.FullPathName().empty() && PathExists(v.FullPathName());
    Line(log,
         "!!! " + std::string(path) +
             (exists ? "...no version information!!!" : "...not found!!!"),
         kLevelError);
    Line(log, " ");
    return;
  }
  Value(log, "VER STRUCTURE", v.VerStructure());
  Value(log, "VER FILE", v.VerFile());
  Value(log, "VER PRODUCT", v.VerProduct());
  Value(log, "FILE FLAGS", v.FileFlags());
  Value(log, "FILE OS", v.FileOS());
  Value(log, "FILE TYPE", v.FileType());
  Value(log, "FILE SUBTYPE", v.FileSubType());
  for (int32_t which = 0; which < 15; ++which) {
    Value(log, ToUpperAscii(v.PredefinedName(which)), v.PredefinedValue(which));
  }
  Line(log, " ");
}

}  // namespace mv
