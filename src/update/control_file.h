// Control files: the customer control file MVControl.dat and the update
// control file MVUpdate.dat. This file holds how their lines are read, how a
// number is read from a line, which copy of each file a step reads, and the
// processing step for the customer control file.
#ifndef MVUPDATE_UPDATE_CONTROL_FILE_H_
#define MVUPDATE_UPDATE_CONTROL_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/run_log.h"
#include "system/env.h"
#include "system/failure.h"
#include "system/install_settings.h"
#include "system/unique_fd.h"

namespace mv {

// The largest control file (customer or update) taken from a site or a
// share: a larger one is refused, whatever the way it comes.
inline constexpr int64_t kMaxControlFileBytes = 1 << 20;

// Reads a control file line by line. Lines are byte strings (Windows code
// page or UTF-8) and are passed on unchanged. A line ends at CR, CR LF or
// LF (control files saved on any system); the end does not belong to the
// line. The last line needs no end. A UTF-8 byte-order mark at the very start
// of the file is dropped, so the first line still begins in column 1; a UTF-16
// file (its byte-order mark) is refused with 54.
class ControlFileReader {
 public:
  // Opens a native path (its case resolved as for every suite file). A
  // missing file gives 53, a missing folder 76, a folder 75.
  static Result<ControlFileReader> Open(std::string_view native_path);

  ControlFileReader(ControlFileReader&&) noexcept = default;
  ControlFileReader& operator=(ControlFileReader&&) noexcept = default;

  // The next line into `line`; false at the end of the file, or when a read
  // fails (the failure is then kept in status()).
  bool ReadLine(std::string& line);
  Status status() const { return status_; }

 private:
  explicit ControlFileReader(UniqueFd fd, std::string path);
  // Refills the buffer; false at the end of the file or on a failure.
  bool Fill();

  UniqueFd fd_;
  std::string path_;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // next unread byte of buffer_
  size_t end_ = 0;    // end of the valid bytes of buffer_
  bool at_start_ = true;
  bool eof_ = false;
  Status status_;
};

// Reads the number at the start of `text`: blanks, tabs and line feeds are
// skipped wherever they stand; then an optional sign, digits and an optional
// decimal fraction; reading stops at the first other character. Text without
// a number gives 0. The value is rounded to a whole number, a half going to
// the even neighbour; one outside the signed 32-bit range fails with 6
// (Overflow).
Result<int32_t> ControlNumber(std::string_view text);

// The native path of the copy of each control file that processing reads:
// the Download folder in the server flavour, the Update folder otherwise.
std::string CustomerControlFile(const InstallSettings& settings,
                                bool server_flavour);
std::string UpdateControlFile(const InstallSettings& settings,
                              bool server_flavour);

// Proves that the fetched customer control file can be opened; its contents
// are not interpreted. A failure is logged, and the step still reports that
// it is complete.
void ProcessCustomerControlFile(const InstallSettings& settings,
                                bool server_flavour, RunLog& log);

// Removes the partial downloads of the Download folder that will not be
// resumed: those that no DOWNLOAD or FTPGET line of the control files in the
// Update folder names any more (a file the vendor withdrew; judged only when
// such a file can be read), and those not written for 7 days. One Warning
// line each.
void RemoveStalePartialDownloads(Env& env, const InstallSettings& settings,
                                 RunLog& log);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_CONTROL_FILE_H_
