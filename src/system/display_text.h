// Log lines are byte strings: control files arrive in the Windows code page
// or in UTF-8. For display, valid UTF-8 is kept and every other byte is read
// as Windows-1252.
#ifndef MVUPDATE_SYSTEM_DISPLAY_TEXT_H_
#define MVUPDATE_SYSTEM_DISPLAY_TEXT_H_

#include <string>
#include <string_view>

namespace mv {

std::string ToDisplayUtf8(std::string_view bytes);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_DISPLAY_TEXT_H_
