// Text helpers shared by the command interpreter, update detection and
// start-up. Positions are 1-based, as in the control-file conventions.
#ifndef MVUPDATE_UPDATE_STRING_HELPERS_H_
#define MVUPDATE_UPDATE_STRING_HELPERS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "system/failure.h"

namespace mv {

// Backward search for `search` in `text`. The first position examined is
// len(text) - len(search), so an occurrence that ends at the last character
// is never found; vendor control files rely on this (see COPY). Gives the
// 1-based position, 0 when nothing was found, negative when `search` is
// longer than `text`.
int32_t FindLast(std::string_view text, std::string_view search);

// Removes every occurrence of `character` (normally a tab). With a longer
// search text only the first character of each occurrence is removed before
// searching again.
std::string StripCharacter(std::string_view text, std::string_view character);

// Removes leading and trailing blanks (only " ", not tabs).
std::string TrimBlanks(std::string_view text);

// Upper-cases ASCII letters; other bytes are kept.
std::string ToUpperAscii(std::string_view text);

// Converts text to a signed 32-bit whole number, as a stored setting or a
// column value is read: a decimal number (blanks around it allowed, a
// fraction and an exponent too) rounded to the nearest whole number, a half
// to the even neighbour. 13 (Type mismatch) for text that is not a number,
// 6 (Overflow) for a number outside the signed 32-bit range.
Result<int32_t> ParseWholeNumber(std::string_view text);

// The text from 1-based position `pos` to its end ("" past the end).
std::string_view MidFrom(std::string_view text, size_t pos);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_STRING_HELPERS_H_
