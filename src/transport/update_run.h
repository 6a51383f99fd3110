#ifndef MVUPDATE_TRANSPORT_UPDATE_RUN_H_
#define MVUPDATE_TRANSPORT_UPDATE_RUN_H_

namespace mv {

class Form;

// The Update System button.
void UpdateSystemClick(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_UPDATE_RUN_H_
