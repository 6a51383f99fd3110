#include "support/fake_ftp_component.h"

#include <memory>
#include <thread>

#include "system/files.h"
#include "system/paths.h"

namespace mv {

using Outcome = std::pair<int16_t, std::string>;

FakeFtpComponent* FakeFtpComponent::Install(FormConfig& config) {
  auto holder = std::make_shared<std::unique_ptr<FakeFtpComponent>>(
      std::make_unique<FakeFtpComponent>());
  FakeFtpComponent* fake = holder->get();
  config.make_ftp_component = [holder]() -> std::unique_ptr<FtpComponent> {
    return std::move(*holder);
  };
  return fake;
}

FakeFtpComponent* FakeFtpComponent::Install(FtpSession& session) {
  auto fake = std::make_unique<FakeFtpComponent>();
  FakeFtpComponent* raw = fake.get();
  session.SetComponent(std::move(fake));
  return raw;
}

void FakeFtpComponent::Answer(FtpMethod method, int16_t code,
                              std::string text) {
  script_[method].push_back(Scripted{code, std::move(text), false});
}

void FakeFtpComponent::Hang(FtpMethod method) {
  script_[method].push_back(Scripted{0, "", true});
}

std::vector<std::string> FakeFtpComponent::Log() const {
  static const char* kNames[] = {"",        "Connect",    "ChangeDirectory",
                                 "GetFile", "PutFile",    "Disconnect",
                                 "ListNames"};
  std::vector<std::string> log;
  for (const Call& c : calls) {
    std::string line = kNames[c.method];
    size_t shown = c.method == kFtpMethodConnect ? 2 : c.args.size();
    for (size_t i = 0; i < shown; ++i) line += " " + c.args[i];
    log.push_back(line);
  }
  return log;
}

void FakeFtpComponent::Handle(FtpMethod method, std::vector<std::string> args,
                              bool needs_login,
                              const std::function<Outcome()>& model) {
  calls.push_back(Call{method, std::move(args)});
  std::deque<Scripted>& queue = script_[method];
  if (!queue.empty()) {
    Scripted s = std::move(queue.front());
    queue.pop_front();
    if (s.hang) return;
    if (s.code != 0) return pending_.push_back(Done{method, s.code, s.text});
  } else if (needs_login && state != kFtpConnected) {
    return pending_.push_back(
        Done{method, kFtpNotConnected, "Not connected to an FTP site."});
  }
  Outcome o = model();
  pending_.push_back(Done{method, o.first, o.second});
}

void FakeFtpComponent::Connect(std::string_view host, std::string_view user,
                               std::string_view password) {
  Handle(kFtpMethodConnect,
         {std::string(host), std::string(user), std::string(password)}, false,
         [&] {
           state = kFtpConnected;
           cwd = RemotePath();
           return Outcome{0, ""};
         });
}

void FakeFtpComponent::ChangeDirectory(std::string_view directory) {
  Handle(kFtpMethodChangeDirectory, {std::string(directory)}, true, [&] {
    RemotePath target = cwd.Resolve(directory);
    std::string prefix = target.Display() + "/";
    bool found = target.Display().empty();
    for (const auto& [file, contents] : files) {
      found = found || file.rfind(prefix, 0) == 0;
    }
    if (found) {
      cwd = target;
      return Outcome{0, ""};
    }
    return Outcome{kFtpFolderNotFound, "Folder \"" + target.Display() +
                                           "\" not found on the FTP site."};
  });
}

void FakeFtpComponent::GetFile(std::string_view local_file,
                               std::string_view remote_file) {
  Handle(kFtpMethodGetFile, {std::string(local_file), std::string(remote_file)},
         true, [&] {
           std::string path = cwd.Resolve(remote_file).Display();
           auto found = files.find(path);
           if (found == files.end()) {
             return Outcome{kFtpFileNotFound,
                            "File \"" + path + "\" not found on the FTP site."};
           }
           Status st =
               WriteFileAtomically(ResolvePath(local_file), found->second);
           if (!st.ok()) {
             return Outcome{static_cast<int16_t>(st.failure().number()),
                            st.failure().description()};
           }
           return Outcome{0, ""};
         });
}

void FakeFtpComponent::PutFile(std::string_view local_file,
                               std::string_view remote_file) {
  Handle(kFtpMethodPutFile, {std::string(local_file), std::string(remote_file)},
         true, [&] {
           Result<std::string> contents =
               ReadWholeFile(ResolvePath(local_file));
           if (!contents.ok()) {
             return Outcome{static_cast<int16_t>(contents.failure().number()),
                            contents.failure().description()};
           }
           files[cwd.Resolve(remote_file).Display()] = contents.value();
           return Outcome{0, ""};
         });
}

void FakeFtpComponent::Disconnect() {
  Handle(kFtpMethodDisconnect, {}, false, [&] {
    state = 0;
    cwd = RemotePath();
    return Outcome{0, ""};
  });
}

void FakeFtpComponent::ListNames(std::string_view directory) {
  Handle(kFtpMethodList, {std::string(directory)}, true, [&] {
    RemotePath folder = cwd.Resolve(directory);
    std::string prefix = folder.Display().empty() ? "" : folder.Display() + "/";
    listed_.clear();
    for (const auto& [file, contents] : files) {
      if (file.rfind(prefix, 0) != 0) continue;
      std::string name = file.substr(prefix.size());
      name = name.substr(0, name.find('/'));
      if (listed_.empty() || listed_.back() != name) listed_.push_back(name);
    }
    return Outcome{0, ""};
  });
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
  Done d = std::move(pending_.front());
  pending_.pop_front();
  RaiseDone(d.method, d.code, d.text);
}

}  // namespace mv
