// A scripted stand-in for the FTP component: records every call and answers
// each with one Done, from a small model of the site or from answers the
// test scripts (Answer, Hang).
//
// Without scripted answers the double behaves like a working site: Connect
// logs in; ChangeDirectory succeeds for the folders of the files in
// `files`; GetFile writes a file's contents to the local name; PutFile
// stores the local file in `files`; a method that needs a login fails with
// kFtpNotConnected without one. Remote paths are resolved from the login
// folder ("Merivane/123/MVControl.dat").
#ifndef MVUPDATE_TESTS_SUPPORT_FAKE_FTP_COMPONENT_H_
#define MVUPDATE_TESTS_SUPPORT_FAKE_FTP_COMPONENT_H_

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/form.h"
#include "transport/ftp_session.h"
#include "transport/ftp_component.h"

namespace mv {

class FakeFtpComponent : public FtpComponent {
 public:
  struct Call {
    FtpMethod method;
    std::vector<std::string> args;  // as passed, in order
  };

  // Makes InitFTPControl create this double (the form owns it).
  static FakeFtpComponent* Install(FormConfig& config);
  // Gives the double to `session`, which owns it.
  static FakeFtpComponent* Install(FtpSession& session);

  // The next call of `method` answers `code` and `text` instead of the
  // site model (a successful answer still goes through the model). Answers
  // queue up per method.
  void Answer(FtpMethod method, int16_t code, std::string text = "");
  // The next call of `method` never answers.
  void Hang(FtpMethod method);

  // The calls as "Method arg arg" (the password left out).
  std::vector<std::string> Log() const;

  std::map<std::string, std::string> files;  // the site
  std::vector<Call> calls;
  int16_t state = 0;
  RemotePath cwd;
  int aborts = 0;

  int16_t State() const override { return state; }
  void Connect(std::string_view host, std::string_view user,
               std::string_view password) override;
  void ChangeDirectory(std::string_view directory) override;
  void GetFile(std::string_view local_file,
               std::string_view remote_file) override;
  void PutFile(std::string_view local_file,
               std::string_view remote_file) override;
  void Disconnect() override;
  void ListNames(std::string_view directory) override;
  void Abort() override;
  void Pump(std::chrono::milliseconds bound) override;

 private:
  struct Scripted {
    int16_t code = 0;
    std::string text;
    bool hang = false;
  };
  struct Done {
    int32_t method;
    int16_t code;
    std::string text;
  };

  // Records the call and queues its Done: a scripted failure, else what
  // `model` gives (a failure number and text, 0 for success).
  void Handle(FtpMethod method, std::vector<std::string> args, bool needs_login,
              const std::function<std::pair<int16_t, std::string>()>& model);

  std::map<FtpMethod, std::deque<Scripted>> script_;
  std::deque<Done> pending_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_FAKE_FTP_COMPONENT_H_
