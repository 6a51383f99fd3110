#include "system/date_time.h"

namespace mv {

bool ToLocalTime(std::time_t t, std::tm& out) {
  return ::localtime_s(&out, &t) == 0;
}

bool ToUtcTime(std::time_t t, std::tm& out) {
  return ::gmtime_s(&out, &t) == 0;
}

}  // namespace mv
