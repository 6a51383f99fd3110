// Text helpers shared by every layer: trims, case-insensitive comparison,
// line splitting, and the string routines of the control-file language.
// Positions are 1-based where the control-file conventions count that way.
#ifndef MVUPDATE_SYSTEM_TEXT_H_
#define MVUPDATE_SYSTEM_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "system/failure.h"

namespace mv {

// Removes leading and trailing blanks (" " only; tabs stay), as the suite's
// own trim does.
std::string TrimSpaces(std::string_view text);
// Removes leading and trailing blanks and tabs: the white space of INI and
// registry files.
std::string_view TrimSpacesAndTabs(std::string_view text);
// Removes every leading and trailing character that isspace() accepts
// (blanks, tabs, line ends): for text from other programs and drivers.
std::string_view TrimWhitespace(std::string_view text);

// True when `a` and `b` are equal but for the case of ASCII letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Upper-cases (lower-cases) ASCII letters; other bytes are kept.
std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);

// The lines of a text file: a line feed ends a line, and the carriage
// returns at the end of a line belong to its end (text converted twice ends
// its lines in CR CR LF). A last line without an end counts; an empty text
// has no lines.
std::vector<std::string_view> SplitLines(std::string_view text);

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

// Converts text to a signed 32-bit whole number, as a stored setting or a
// column value is read: a decimal number (blanks around it allowed, a
// fraction and an exponent too) rounded to the nearest whole number, a half
// to the even neighbour. 13 (Type mismatch) for text that is not a number,
// 6 (Overflow) for a number outside the signed 32-bit range.
Result<int32_t> ParseWholeNumber(std::string_view text);

// The text from 1-based position `pos` to its end ("" past the end).
std::string_view MidFrom(std::string_view text, size_t pos);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_TEXT_H_
