// Conversion of date and time column values, read from the database as
// text. Numbers are read with ParseWholeNumber (system/text.h).
#ifndef MVUPDATE_DATA_COLUMN_VALUES_H_
#define MVUPDATE_DATA_COLUMN_VALUES_H_

#include <cstdint>
#include <string_view>

#include "system/date_time.h"
#include "system/failure.h"

namespace mv {

// A date and time as drivers give them ("2026-12-06 16:08:27", with an
// optional fraction of a second, which is dropped, and an optional zone
// offset, which is ignored; "T" may separate date and time) or as the
// utility writes them ("12/06/2026 16:08:27", also "12/6/2026 4:08 PM"). A
// date alone is midnight. 13 (Type mismatch) for anything else, including
// years outside 100 to 9999 and impossible dates.
Result<DateTime> ToDateTime(std::string_view text);

}  // namespace mv

#endif  // MVUPDATE_DATA_COLUMN_VALUES_H_
