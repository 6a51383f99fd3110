#include "tools/version_report.h"

#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "system/files.h"
#include "tools/file_version.h"
#include "update/string_helpers.h"

namespace mv {

namespace {

void Line(Form& form, std::string_view text,
          int32_t level = kLevelInformation) {
  LogMessage(form, level, text, true, false, false);
}

// A value line with its label padded so that the values line up.
void Value(Form& form, std::string_view label, std::string_view value) {
  std::string line(label);
  if (line.size() < 17) line.append(17 - line.size(), ' ');
  Line(form, line + ": " + std::string(value));
}

}  // namespace

void ShowFileVersion(Form& form, std::string_view path) {
  // A fresh reader: values of an earlier file must not show for this one.
  clsQorinFileVersion v;
  v.FullPathName(path);
  Line(form, "[File Version]");
  Value(form, "FULL PATH NAME", v.FullPathName());
  if (!v.Available()) {
    bool exists = !v.FullPathName().empty() && PathExists(v.FullPathName());
    Line(form,
         "!!! " + std::string(path) +
             (exists ? "...no version information!!!" : "...not found!!!"),
         kLevelError);
    Line(form, " ");
    return;
  }
  Value(form, "VER STRUCTURE", v.VerStructure());
  Value(form, "VER FILE", v.VerFile());
  Value(form, "VER PRODUCT", v.VerProduct());
  Value(form, "FILE FLAGS", v.FileFlags());
  Value(form, "FILE OS", v.FileOS());
  Value(form, "FILE TYPE", v.FileType());
  Value(form, "FILE SUBTYPE", v.FileSubType());
  for (int32_t which = 0; which < 15; ++which) {
    Value(form, ToUpperAscii(v.PredefinedName(which)),
          v.PredefinedValue(which));
  }
  Line(form, " ");
}

}  // namespace mv
