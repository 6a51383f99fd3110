#ifndef MVUPDATE_TOOLS_CHECK_SYSTEM_H_
#define MVUPDATE_TOOLS_CHECK_SYSTEM_H_

namespace mv {

class Form;

// The Check System button.
void CheckSystemVersion(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_CHECK_SYSTEM_H_
