#ifndef MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_
#define MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace mv {

class Form;

// The Reset Last Update button: lowers the stored number of the last
// installed update by one and tells the user how to redo the update.
void ResetLastUpdate(Form& form);

// The stored number as a signed 32-bit integer: blanks around it are
// allowed, a fraction is rounded (halves to even), and anything else (empty
// or non-numeric text, a number out of range) gives nullopt.
std::optional<int32_t> ParseStoredUpdateNumber(std::string_view text);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_
