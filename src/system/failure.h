// Failures are values: a number from the catalogue below and a description.
// The catalogue follows the run-time errors of the platform the utility was
// first written for, because log readers and support staff know those texts.
#ifndef MVUPDATE_SYSTEM_FAILURE_H_
#define MVUPDATE_SYSTEM_FAILURE_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace mv {

// Numbers of the catalogue.
enum FailureNumber : int {
  kInvalidArgument = 5,  // Invalid procedure call or argument
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kBadFileName = 52,
  kFileNotFound = 53,
  kBadFileMode = 54,
  kFileAlreadyOpen = 55,
  kDeviceIoError = 57,
  kFileAlreadyExists = 58,
  kDiskFull = 61,
  kInputPastEndOfFile = 62,
  kTooManyFiles = 67,
  kDeviceUnavailable = 68,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
  kObjectNotSet = 91,
  kInvalidUseOfNull = 94,
  kCannotCreateObject = 429,
  kNoCurrentRecord = 3021,
  // Failures reported by the database driver (the provider's generic code).
  kDatabaseError = -2147467259,
};

// The catalogue's description of `number`; "Application-defined or
// object-defined error" for numbers it does not hold.
std::string_view DescribeFailure(int number);

class Failure {
 public:
  explicit Failure(int number);
  Failure(int number, std::string description);

  int number() const { return number_; }
  const std::string& description() const { return description_; }
  // The form in which every failure is reported: number, "-", description.
  std::string Text() const;

  // Maps an errno value raised for `native_path`. ENOENT is 53 when the
  // parent folder exists and 76 when it does not.
  static Failure FromErrno(int err, std::string_view native_path);

 private:
  int number_;
  std::string description_;
};

// A text file (registry, settings) that cannot be parsed: 75 with the file,
// the line and what is wrong with it in the description.
Failure ParseFailure(std::string_view origin, size_t line,
                     std::string_view why);

// Success, or the failure that ended an operation. Neither this nor Result
// may be dropped unread: a failure nobody looks at is reported as success.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure)) {}  // NOLINT
  static Status Ok() { return Status(); }

  bool ok() const { return !failure_.has_value(); }
  const Failure& failure() const { return *failure_; }

 private:
  std::optional<Failure> failure_;
};

// A value, or the failure that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}            // NOLINT
  Result(Failure failure) : v_(std::move(failure)) {}  // NOLINT

  bool ok() const { return std::holds_alternative<T>(v_); }
  const T& value() const { return std::get<T>(v_); }
  T& value() { return std::get<T>(v_); }
  const Failure& failure() const { return std::get<Failure>(v_); }
  Status status() const { return ok() ? Status() : Status(failure()); }

 private:
  std::variant<T, Failure> v_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_FAILURE_H_
