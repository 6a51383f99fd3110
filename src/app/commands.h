// What a front end can ask of the core: the window's load and the clicks of
// its three buttons. Front ends hold a Commands so that their tests can use
// a double. Each command ends by telling the window its outcome
// (Window::ShowOutcome).
#ifndef MVUPDATE_APP_COMMANDS_H_
#define MVUPDATE_APP_COMMANDS_H_

namespace mv {

class Form;

class Commands {
 public:
  virtual ~Commands() = default;
  virtual void Load() = 0;             // window load: the start-up sequence
  virtual void UpdateSystem() = 0;     // cmdUpdate
  virtual void CheckSystem() = 0;      // cmdCheckSystem
  virtual void ResetLastUpdate() = 0;  // cmdResetLastUpdate
};

// The real commands on a Form.
class FormCommands : public Commands {
 public:
  explicit FormCommands(Form& form) : form_(form) {}
  void Load() override;
  void UpdateSystem() override;
  void CheckSystem() override;
  void ResetLastUpdate() override;

 private:
  Form& form_;
};

}  // namespace mv

#endif  // MVUPDATE_APP_COMMANDS_H_
