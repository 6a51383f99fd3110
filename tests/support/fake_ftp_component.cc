#include "support/fake_ftp_component.h"

#include <memory>
#include <thread>

#include "system/files.h"
#include "system/paths.h"

namespace mv {

namespace {

const char* MethodName(FtpMethod method) {
  switch (method) {
    case kFtpMethodConnect:
      return "Connect";
    case kFtpMethodChangeDirectory:
      return "ChangeDirectory";
    case kFtpMethodGetFile:
      return "GetFile";
    case kFtpMethodPutFile:
      return "PutFile";
    case kFtpMethodDisconnect:
      return "Disconnect";
  }
  return "?";
}

}  // namespace

FakeFtpComponent* FakeFtpComponent::Install(Form& form) {
  auto holder = std::make_shared<std::unique_ptr<FakeFtpComponent>>(
      std::make_unique<FakeFtpComponent>());
  FakeFtpComponent* fake = holder->get();
  form.make_ftp_component = [holder]() -> std::unique_ptr<FtpComponent> {
    return std::move(*holder);
  };
  return fake;
}

void FakeFtpComponent::Answer(FtpMethod method, int16_t code,
                              std::string text) {
  script_[method].push_back(Scripted{code, std::move(text), false});
}

void FakeFtpComponent::Hang(FtpMethod method) {
  script_[method].push_back(Scripted{0, "", true});
}

std::vector<std::string> FakeFtpComponent::Log() const {
  std::vector<std::string> log;
  for (const Call& c : calls) {
    std::string line = MethodName(c.method);
    size_t shown = c.method == kFtpMethodConnect ? 2 : c.args.size();
    for (size_t i = 0; i < shown && i < c.args.size(); ++i) {
      line += " " + c.args[i];
    }
    log.push_back(line);
  }
  return log;
}

bool FakeFtpComponent::NextScripted(FtpMethod method, Scripted* out) {
  auto it = script_.find(method);
  if (it == script_.end() || it->second.empty()) return false;
  *out = std::move(it->second.front());
  it->second.pop_front();
  return true;
}

bool FakeFtpComponent::FolderExists(const std::string& path) const {
  if (path.empty() || folders.count(path)) return true;
  for (const auto& [file, contents] : files) {
    if (file.size() > path.size() && file.compare(0, path.size(), path) == 0 &&
        file[path.size()] == '/') {
      return true;
    }
  }
  return false;
}

void FakeFtpComponent::Reply(FtpMethod method, int16_t code, std::string text,
                             int64_t progress) {
  pending_.push_back(Pending{method, code, std::move(text), progress});
}

void FakeFtpComponent::Connect(std::string_view host, std::string_view user,
                               std::string_view password) {
  calls.push_back(
      Call{kFtpMethodConnect,
           {std::string(host), std::string(user), std::string(password)}});
  Scripted s;
  if (NextScripted(kFtpMethodConnect, &s)) {
    if (s.hang) return;
    if (s.code != 0) return Reply(kFtpMethodConnect, s.code, s.text);
  }
  state = kFtpConnected;
  cwd = RemotePath();
  Reply(kFtpMethodConnect, 0, "");
}

void FakeFtpComponent::ChangeDirectory(std::string_view directory) {
  calls.push_back(Call{kFtpMethodChangeDirectory, {std::string(directory)}});
  RemotePath target = cwd.Resolve(directory);
  Scripted s;
  if (NextScripted(kFtpMethodChangeDirectory, &s)) {
    if (s.hang) return;
    if (s.code != 0) return Reply(kFtpMethodChangeDirectory, s.code, s.text);
  } else if (state != kFtpConnected) {
    return Reply(kFtpMethodChangeDirectory, kFtpNotConnected,
                 "Not connected to an FTP site.");
  } else if (!FolderExists(target.Display())) {
    return Reply(
        kFtpMethodChangeDirectory, kFtpFolderNotFound,
        "Folder \"" + target.Display() + "\" not found on the FTP site.");
  }
  cwd = target;
  Reply(kFtpMethodChangeDirectory, 0, "");
}

void FakeFtpComponent::GetFile(std::string_view local_file,
                               std::string_view remote_file) {
  calls.push_back(Call{kFtpMethodGetFile,
                       {std::string(local_file), std::string(remote_file)}});
  std::string path = cwd.Resolve(remote_file).Display();
  auto found = files.find(path);
  Scripted s;
  if (NextScripted(kFtpMethodGetFile, &s)) {
    if (s.hang) return;
    if (s.code != 0) return Reply(kFtpMethodGetFile, s.code, s.text);
  } else if (state != kFtpConnected) {
    return Reply(kFtpMethodGetFile, kFtpNotConnected,
                 "Not connected to an FTP site.");
  } else if (found == files.end()) {
    return Reply(kFtpMethodGetFile, kFtpFileNotFound,
                 "File \"" + path + "\" not found on the FTP site.");
  }
  if (found != files.end()) {
    Status st = WriteFileAtomically(ResolvePath(local_file), found->second);
    if (!st.ok()) {
      return Reply(kFtpMethodGetFile,
                   static_cast<int16_t>(st.failure().number()),
                   st.failure().description());
    }
  }
  Reply(kFtpMethodGetFile, 0, "",
        found == files.end() ? -1 : static_cast<int64_t>(found->second.size()));
}

void FakeFtpComponent::PutFile(std::string_view local_file,
                               std::string_view remote_file) {
  calls.push_back(Call{kFtpMethodPutFile,
                       {std::string(local_file), std::string(remote_file)}});
  std::string path = cwd.Resolve(remote_file).Display();
  Scripted s;
  if (NextScripted(kFtpMethodPutFile, &s)) {
    if (s.hang) return;
    if (s.code != 0) return Reply(kFtpMethodPutFile, s.code, s.text);
  } else if (state != kFtpConnected) {
    return Reply(kFtpMethodPutFile, kFtpNotConnected,
                 "Not connected to an FTP site.");
  }
  Result<std::string> contents = ReadWholeFile(ResolvePath(local_file));
  if (!contents.ok()) {
    return Reply(kFtpMethodPutFile,
                 static_cast<int16_t>(contents.failure().number()),
                 contents.failure().description());
  }
  files[path] = contents.value();
  Reply(kFtpMethodPutFile, 0, "",
        static_cast<int64_t>(contents.value().size()));
}

void FakeFtpComponent::Disconnect() {
  calls.push_back(Call{kFtpMethodDisconnect, {}});
  Scripted s;
  if (NextScripted(kFtpMethodDisconnect, &s) && s.hang) return;
  state = 0;
  cwd = RemotePath();
  Reply(kFtpMethodDisconnect, s.code, s.text);
}

void FakeFtpComponent::Abort() {
  ++aborts;
  pending_.clear();
}

void FakeFtpComponent::Pump(std::chrono::milliseconds bound) {
  if (pending_.empty()) {
    std::this_thread::sleep_for(bound);
    return;
  }
  Pending p = std::move(pending_.front());
  pending_.pop_front();
  if (p.progress >= 0) RaiseProgress(p.progress, p.progress);
  RaiseDone(p.method, p.code, p.text);
}

}  // namespace mv
