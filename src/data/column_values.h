// Conversions of column values, read from the database as text, to the
// types of the customer record.
#ifndef MVUPDATE_DATA_COLUMN_VALUES_H_
#define MVUPDATE_DATA_COLUMN_VALUES_H_

#include <cstdint>
#include <string_view>

#include "system/date_time.h"
#include "system/failure.h"

namespace mv {

// A decimal number (blanks around it allowed, a fraction and an exponent
// too) rounded to the nearest whole number, a half to the even neighbour.
// 13 (Type mismatch) for text that is not a number, 6 (Overflow) for a
// number outside the signed 32-bit range.
Result<int32_t> ToInt32(std::string_view text);

// A date and time as drivers give them ("2026-12-06 16:08:27", with an
// optional fraction of a second, which is dropped, and an optional zone
// offset, which is ignored; "T" may separate date and time) or as the
// utility writes them ("12/06/2026 16:08:27", also "12/6/2026 4:08 PM"). A
// date alone is midnight. 13 (Type mismatch) for anything else, including
// years outside 100 to 9999 and impossible dates.
Result<DateTime> ToDateTime(std::string_view text);

}  // namespace mv

#endif  // MVUPDATE_DATA_COLUMN_VALUES_H_
