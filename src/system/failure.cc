#include "system/failure.h"

#include <cerrno>
#include <string>

#include "system/file_io.h"
#include "system/paths.h"

namespace mv {

std::string_view DescribeFailure(int number) {
  switch (number) {
    case kInvalidArgument:
      return "Invalid procedure call or argument";
    case kOverflow:
      return "Overflow";
    case kOutOfMemory:
      return "Out of memory";
    case kSubscriptOutOfRange:
      return "Subscript out of range";
    case kTypeMismatch:
      return "Type mismatch";
    case kBadFileName:
      return "Bad file name or number";
    case kFileNotFound:
      return "File not found";
    case kBadFileMode:
      return "Bad file mode";
    case kFileAlreadyOpen:
      return "File already open";
    case kDeviceIoError:
      return "Device I/O error";
    case kFileAlreadyExists:
      return "File already exists";
    case kDiskFull:
      return "Disk full";
    case kInputPastEndOfFile:
      return "Input past end of file";
    case kTooManyFiles:
      return "Too many files";
    case kDeviceUnavailable:
      return "Device unavailable";
    case kPermissionDenied:
      return "Permission denied";
    case kPathFileAccessError:
      return "Path/File access error";
    case kPathNotFound:
      return "Path not found";
    case kObjectNotSet:
      return "Object variable or With block variable not set";
    case kInvalidUseOfNull:
      return "Invalid use of Null";
    case kCannotCreateObject:
      return "ActiveX component can't create object";
    case kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been "
             "deleted. Requested operation requires a current record.";
    default:
      return "Application-defined or object-defined error";
  }
}

Failure::Failure(int number)
    : number_(number), description_(DescribeFailure(number)) {}

Failure::Failure(int number, std::string description)
    : number_(number), description_(std::move(description)) {}

std::string Failure::Text() const {
  return std::to_string(number_) + "-" + description_;
}

Failure ParseFailure(std::string_view origin, size_t line,
                     std::string_view why) {
  std::string text(DescribeFailure(kPathFileAccessError));
  text += " (";
  text += origin;
  text += " line ";
  text += std::to_string(line);
  text += ": ";
  text += why;
  text += ")";
  return Failure(kPathFileAccessError, std::move(text));
}

namespace {

// Windows's C run-time has no errno for an exceeded disk quota (its file
// functions report a full disk); -1 is no errno at all.
#ifdef EDQUOT
constexpr int kQuotaExceeded = EDQUOT;
#else
constexpr int kQuotaExceeded = -1;
#endif

}  // namespace

Failure Failure::FromErrno(int err, std::string_view native_path) {
  switch (err) {
    case ENOENT: {
      std::string parent = ParentFolder(native_path);
      FileFacts facts;
      bool parent_exists =
          parent.empty() || (FactsOfPath(parent, facts) == 0 && facts.folder);
      return Failure(parent_exists ? kFileNotFound : kPathNotFound);
    }
    case ENOTDIR:
      return Failure(kPathNotFound);
    case EEXIST:
    case ENOTEMPTY:
      return Failure(kFileAlreadyExists);
    case EACCES:
    case EPERM:
    case EROFS:
      return Failure(kPermissionDenied);
    case ENOSPC:
    case kQuotaExceeded:
    case EFBIG:
      return Failure(kDiskFull);
    case EMFILE:
    case ENFILE:
      return Failure(kTooManyFiles);
    case ENAMETOOLONG:
      return Failure(kBadFileName);
    case EIO:
      return Failure(kDeviceIoError);
    default:
      return Failure(kPathFileAccessError);
  }
}

}  // namespace mv
