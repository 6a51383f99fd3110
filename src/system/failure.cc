#include "system/failure.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

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

Failure Failure::FromErrno(int err, std::string_view native_path) {
  switch (err) {
    case ENOENT: {
      struct stat st;
      std::string parent = ParentFolder(native_path);
      bool parent_exists =
          parent.empty() ||
          (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
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
    case EDQUOT:
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
