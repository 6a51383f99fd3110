#ifndef MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_
#define MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_

namespace mv {

class Form;

// The Reset Last Update button: lowers the stored number of the last
// installed update by one and tells the user how to redo the update.
void ResetLastUpdate(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_RESET_LAST_UPDATE_H_
