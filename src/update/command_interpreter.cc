#include "update/command_interpreter.h"

#include <string>
#include <string_view>

#include "system/deployment.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/process.h"
#include "system/text.h"
#include "update/wait.h"
#include "update/zip.h"

namespace mv {

namespace {

// One call of the interpreter: the cleaned line, its key and the error flag.
class Command {
 public:
  Command(const CommandContext& context, std::string line)
      : context_(context),
        log_(context.log),
        line_(std::move(line)),
        key_(ToUpperAscii(line_)) {}

  bool Run();

 private:
  bool Is(std::string_view keyword) const {
    return key_.compare(0, keyword.size(), keyword) == 0;
  }
  std::string Arg(size_t pos) const { return std::string(MidFrom(line_, pos)); }
  void Message(std::string_view text) { log_.Message(text); }
  // The run-time error path: the failure is logged, the flag set, and the
  // command goes on with its next step.
  void ErrorPath(const Failure& failure) {
    log_.Error(failure.Text());
    error_flag_ = true;
    failed_ = true;
  }
  void Check(const Status& status) {
    if (!status.ok()) ErrorPath(status.failure());
  }
  void FailedLine(std::string_view text) {
    log_.Error(text);
    failed_ = true;
  }
  std::string App(std::string_view tail) const {
    return context_.settings.App(tail);
  }

  void Download(const std::string& arg);
  void ChangeDirectory(const std::string& arg);
  void Run(const std::string& arg);
  void Copy(const std::string& arg);
  void Unzip(const std::string& arg);
  void Zip(const std::string& arg);

  const CommandContext& context_;
  RunLog& log_;
  std::string line_;
  std::string key_;
  bool error_flag_ = false;
  bool failed_ = false;
};

bool Command::Run() {
  if (key_.empty()) {
    Message("Blank line so do nothing.");
  } else if (Is("'")) {
    Message("Internal comment - ignore this line.");
  } else if (Is("USERCOMMENT=")) {
    Message("Display the user comment.");
    log_.Show("   " + Arg(13));
  } else if (Is("PROMPT=")) {
    Message("Prompt for user input-NOT WORKING YET.");
  } else if (Is("DOWNLOAD")) {
    Download(Arg(10));
  } else if (Is("FTPGET")) {
    std::string arg = Arg(8);
    Message("Get file " + arg);
    if (!context_.site.GetFile(arg, arg)) FailedLine("GetFile: Failed. ");
  } else if (Is("FTPPUT")) {
    std::string arg = Arg(8);
    Message("Put file " + arg);
    if (!context_.site.PutFile(arg, arg)) FailedLine("PutFile: Failed. ");
  } else if (Is("CHDIR")) {
    ChangeDirectory(Arg(7));
  } else if (Is("MKDIR")) {
    std::string arg = Arg(7);
    Message("Make directory " + arg);
    Check(MakeFolder(NativePath(arg)));
  } else if (Is("RUN ")) {
    Run(Arg(5));
  } else if (Is("COPY")) {
    Copy(TrimSpaces(Arg(6)));
  } else if (Is("DELETE")) {
    std::string arg = Arg(8);
    Message("Delete " + arg);
    Check(DeleteFiles(NativePath(arg)));
  } else if (Is("UNZIP")) {
    Unzip(TrimSpaces(Arg(7)));
  } else if (Is("ZIP")) {
    Zip(TrimSpaces(Arg(5)));
  }
  return !failed_;
}

void Command::Download(const std::string& arg) {
  std::string target = App("\\Update\\" + arg);
  if (context_.server_flavour()) {
    Message("Download to Server");
    if (!context_.site.GetFile(arg, arg)) {
      FailedLine("Download to Server: Failed. ");
    }
    // The server passes each update file on to its clients through its
    // shared Update folder; the copy is tried even after a failed fetch.
    Check(CopyFile(NativePath(arg), target));
  } else {
    Message("Download to Client");
    Check(CopyFile(NativePath("\\\\" + context_.settings.server_name +
                              "\\MVUpdate\\" + arg),
                   target));
    if (error_flag_) {
      FailedLine("Download to Client: Failed. ");
      error_flag_ = false;
    }
  }
}

void Command::ChangeDirectory(const std::string& arg) {
  Message("Change directory " + arg);
  std::string folder = NativePath(arg);
  Check(ChangeFolder(folder));
  if (error_flag_) {
    // A missing folder is made (its last level only) and entered.
    Check(MakeFolder(folder));
    Check(ChangeFolder(folder));
  }
}

void Command::Run(const std::string& arg) {
  Message("Run " + arg);
  Result<pid_t> started = StartProgram(arg);
  if (!started.ok()) ErrorPath(started.failure());
  if (error_flag_) {
    FailedLine("Shell: Failed. ");
    return;
  }
  WaitSeconds(context_.window, log_, static_cast<float>(RunWaitSeconds()));
  ReapFinishedPrograms();
}

void Command::Copy(const std::string& arg) {
  Message("Copy File.");
  std::string a = arg;
  int32_t p = FindLast(a, "\\");
  std::string source = p > 0 ? a.substr(0, static_cast<size_t>(p)) : "";
  if (p < 0) {
    ErrorPath(Failure(kInvalidArgument));  // nothing to cut the name from
  } else {
    a = std::string(MidFrom(a, static_cast<size_t>(p) + 1));
  }
  size_t s = a.find(' ');
  if (s == std::string::npos) return;
  std::string pattern = a.substr(0, s);
  std::string destination = a.substr(s + 1);
  if (destination.empty() || destination.back() != '\\') destination += "\\";
  Result<std::vector<std::string>> names =
      ListFiles(NativePath(source + pattern));
  if (!names.ok()) {
    // A source folder that does not exist simply matches nothing.
    int n = names.failure().number();
    if (n != kPathNotFound && n != kFileNotFound) ErrorPath(names.failure());
    return;
  }
  for (const std::string& name : names.value()) {
    Check(CopyFile(NativePath(source + name), NativePath(destination + name)));
  }
}

void Command::Unzip(const std::string& a) {
  Message("Unzip " + a);
  size_t s = a.find(' ');
  if (s == std::string::npos) return;
  std::string destination =
      App(context_.server_flavour() ? "\\Download" : "\\Update");
  if (UnZipFiles(log_, a.substr(0, s), destination, a.substr(s + 1)) != 0) {
    failed_ = true;
  }
}

void Command::Zip(const std::string& a) {
  Message("Zip " + a);
  size_t s = a.find(' ');
  if (s == std::string::npos) return;
  if (ZipFiles(log_, a.substr(0, s), a.substr(s + 1)) != 0) failed_ = true;
}

}  // namespace

bool ExecuteCommandLine(const CommandContext& context, std::string& line) {
  context.log.Info("COMMAND: " + line);
  line = StripCharacter(TrimSpaces(line), "\t");
  Command command(context, line);
  return command.Run();
}

}  // namespace mv
