// STUB for building ahead of the control-file work; replaced on merge.
#ifndef MVUPDATE_UPDATE_CONTROL_FILE_H_
#define MVUPDATE_UPDATE_CONTROL_FILE_H_
#include <cstdint>
#include <string>
#include <string_view>
#include "system/failure.h"
#include "system/unique_fd.h"
namespace mv {
class Form;
class ControlFileReader {
 public:
  static Result<ControlFileReader> Open(std::string_view native_path);
  bool ReadLine(std::string& line);
  Status status() const { return Status(); }
 private:
  std::string text_;
  size_t pos_ = 0;
};
Result<int32_t> ControlNumber(std::string_view text);
std::string CustomerControlFile(const Form& form);
std::string UpdateControlFile(const Form& form);
void ProcessCustomerControlFile(Form& form);
}  // namespace mv
#endif
