// STUB: replaced on merge.
#include <cmath>
#include "app/form.h"
#include "system/files.h"
#include "system/paths.h"
#include "update/control_file.h"
namespace mv {
Result<ControlFileReader> ControlFileReader::Open(std::string_view p) {
  Result<std::string> t = ReadWholeFile(p);
  if (!t.ok()) return t.failure();
  ControlFileReader r;
  r.text_ = t.value();
  return r;
}
bool ControlFileReader::ReadLine(std::string& line) {
  if (pos_ >= text_.size()) return false;
  size_t cr = text_.find('\r', pos_);
  if (cr == std::string::npos) cr = text_.size();
  line = text_.substr(pos_, cr - pos_);
  pos_ = cr + 1;
  if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  return true;
}
Result<int32_t> ControlNumber(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    if ((c >= '0' && c <= '9') || (digits.empty() && (c == '-' || c == '+')) || c == '.') {
      digits.push_back(c);
    } else {
      break;
    }
  }
  double v = std::atof(digits.c_str());
  if (std::nearbyint(v) > 2147483647.0 || std::nearbyint(v) < -2147483648.0) return Failure(kOverflow);
  return static_cast<int32_t>(std::nearbyint(v));
}
std::string CustomerControlFile(const Form& form) {
  return JoinPath(form.settings.ApplicationPath, form.ServerFlavour() ? "\\Download\\MVControl.dat" : "\\Update\\MVControl.dat");
}
std::string UpdateControlFile(const Form& form) {
  return JoinPath(form.settings.ApplicationPath, form.ServerFlavour() ? "\\Download\\MVUpdate.dat" : "\\Update\\MVUpdate.dat");
}
void ProcessCustomerControlFile(Form&) {}
}  // namespace mv
