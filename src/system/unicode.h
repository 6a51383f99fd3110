// Conversions between UTF-16, the platform's wide text, and UTF-8, the
// program's text.
#ifndef MVUPDATE_SYSTEM_UNICODE_H_
#define MVUPDATE_SYSTEM_UNICODE_H_

#include <string>
#include <string_view>

namespace mv {

// UTF-8 of UTF-16 code units; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-16 of UTF-8 text; a byte that is not valid UTF-8 becomes U+FFFD (on
// Windows: the text is read in the ANSI code page instead, as names written
// by older programs are).
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_UNICODE_H_
