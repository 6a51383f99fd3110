#include "system/date_time.h"

namespace mv {

bool ToLocalTime(std::time_t t, std::tm& out) {
  return ::localtime_r(&t, &out) != nullptr;
}

bool ToUtcTime(std::time_t t, std::tm& out) {
  return ::gmtime_r(&t, &out) != nullptr;
}

}  // namespace mv
