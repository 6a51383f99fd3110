// A scripted stand-in for the FTP component: records every call and answers
// each with one Done, from a small model of the site or from answers the
// test scripts.
//
//   RecordingWindow window;
//   Form form(window, sandbox.config());
//   FakeFtpComponent* ftp = FakeFtpComponent::Install(form);
//   InitFTPControl(form);                    // form.ftpTransfer is now *ftp
//   ftp->files["Merivane/Update/MVUpdate.dat"] = "LASTUPDATE=3\r\n";
//   ftp->Answer(kFtpMethodConnect, kFtpLoginRefused, "login refused");
//   ftp->Hang(kFtpMethodChangeDirectory);    // no Done: the wait times out
//   ... run the code under test ...
//   EXPECT_EQ(ftp->Log(), (std::vector<std::string>{"Connect 127.0.0.1 u",
//                                                   "ChangeDirectory
//                                                   Merivane"}));
//
// Without scripted answers the double behaves like a working site: Connect
// logs in, ChangeDirectory succeeds for the login folder, the folders in
// `folders` and the folders of the files in `files`; GetFile writes the
// file's contents to the local name (relative to the current directory);
// PutFile stores the local file's contents in `files`; a method that needs
// a login fails with kFtpNotConnected without one. Remote paths are the
// resolved paths from the login folder ("Merivane/123/MVControl.dat").
#ifndef MVUPDATE_TESTS_SUPPORT_FAKE_FTP_COMPONENT_H_
#define MVUPDATE_TESTS_SUPPORT_FAKE_FTP_COMPONENT_H_

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/form.h"
#include "transport/ftp_component.h"

namespace mv {

class FakeFtpComponent : public FtpComponent {
 public:
  struct Call {
    FtpMethod method;
    // Connect: host, user, password; ChangeDirectory: directory;
    // GetFile and PutFile: local file, remote file; Disconnect: none.
    std::vector<std::string> args;
  };

  // Makes InitFTPControl(form) create this double. The pointer stays valid
  // while the form owns the double.
  static FakeFtpComponent* Install(Form& form);

  // The next call of `method` answers `code` and `text` instead of the
  // site model (a successful Connect still logs in, a successful
  // ChangeDirectory still moves). Answers queue up per method.
  void Answer(FtpMethod method, int16_t code, std::string text = "");
  // The next call of `method` never answers.
  void Hang(FtpMethod method);

  // The calls as "Method arg arg" (the password left out).
  std::vector<std::string> Log() const;

  // The site.
  std::map<std::string, std::string> files;
  std::set<std::string> folders;

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
  void Abort() override;
  void Pump(std::chrono::milliseconds bound) override;

 private:
  struct Scripted {
    int16_t code = 0;
    std::string text;
    bool hang = false;
  };
  struct Pending {
    int32_t method;
    int16_t code;
    std::string text;
    int64_t progress;
  };

  // The scripted answer for `method`, if one is queued.
  bool NextScripted(FtpMethod method, Scripted* out);
  bool FolderExists(const std::string& path) const;
  void Reply(FtpMethod method, int16_t code, std::string text,
             int64_t progress = -1);

  std::map<FtpMethod, std::deque<Scripted>> script_;
  std::deque<Pending> pending_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_FAKE_FTP_COMPONENT_H_
