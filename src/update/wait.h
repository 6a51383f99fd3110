// STUB for building ahead of the wait work; replaced on merge.
#ifndef MVUPDATE_UPDATE_WAIT_H_
#define MVUPDATE_UPDATE_WAIT_H_
namespace mv {
class Form;
void WaitSeconds(Form& form, float seconds);
}  // namespace mv
#endif
