#include "update/command_interpreter.h"

#include <optional>
#include <string>
#include <string_view>

#include "system/crypto.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/process.h"
#include "system/text.h"
#include "update/wait.h"
#include "update/zip.h"

namespace mv {

namespace {

// Hands an archive step's progress to the window's side.
ArchiveProgress ReportTo(FileProgress& progress) {
  return [&progress](std::string_view name, int item, int items, int64_t done,
                     int64_t total) {
    progress.Report(name, item, items, done, total);
  };
}

// One call of the interpreter: the cleaned line, its key and the error flag.
class Command {
 public:
  Command(const CommandContext& context, std::string line)
      : context_(context),
        log_(context.log),
        line_(std::move(line)),
        key_(ToUpperAscii(line_)) {}

  CommandResult Run();

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
  // A failure that only means there was nothing to do here: a Warning line,
  // and the update goes on.
  void NothingToDo(std::string_view text) {
    log_.Warning(text);
    nothing_to_do_ = true;
  }
  // Runs `status` through NothingToDo when its number is one of `harmless`,
  // else through the error path.
  void CheckAllowing(const Status& status,
                     std::initializer_list<int> harmless) {
    if (status.ok()) return;
    for (int n : harmless) {
      if (status.failure().number() == n) {
        return NothingToDo(status.failure().Text());
      }
    }
    ErrorPath(status.failure());
  }
  void Transfer(std::string_view what, const std::string& arg);
  // The digest a SHA256 line states for `name`; nothing when none does. A
  // fetch without one is refused while keys are pinned (a failed command).
  std::optional<std::string> Expected(const std::string& name,
                                      std::string_view keyword);
  // False after a mismatch, which removes `local` and fails the command.
  bool Matches(const std::string& name, const std::string& local,
               const std::optional<std::string>& expected,
               const std::string& actual);
  std::string App(std::string_view tail) const {
    return context_.settings.App(tail);
  }

  // One file copied on a worker thread (an update file may be large)
  // while the window goes on; `name` is what the status bar calls it.
  Status CopyAside(const std::string& name, const std::string& from,
                   const std::string& to, Sha256* digest = nullptr) {
    return RunFileStep(
        context_.window, log_, "Copying",
        [&](RunLog&, FileProgress& progress) {
          progress.Report(name, 1, 1, 0, -1);
          return context_.env.CopyFile(from, to, digest, 0);
        },
        false);
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
  bool nothing_to_do_ = false;
};

CommandResult Command::Run() {
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
  } else if (Is("SHA256 ")) {
    Message("Digest stated for a later download.");
  } else if (Is("FTPGET")) {
    Transfer("Get", Arg(8));
  } else if (Is("FTPPUT")) {
    Transfer("Put", Arg(8));
  } else if (Is("CHDIR")) {
    ChangeDirectory(Arg(7));
  } else if (Is("MKDIR")) {
    std::string arg = Arg(7);
    Message("Make directory " + arg);
    CheckAllowing(MakeFolder(NativePath(arg)), {kFileAlreadyExists});
  } else if (Is("RUN ")) {
    Run(Arg(5));
  } else if (Is("COPY")) {
    Copy(TrimSpaces(Arg(6)));
  } else if (Is("DELETE")) {
    std::string arg = Arg(8);
    Message("Delete " + arg);
    CheckAllowing(DeleteFiles(NativePath(arg)), {kFileNotFound, kPathNotFound});
  } else if (Is("UNZIP")) {
    Unzip(TrimSpaces(Arg(7)));
  } else if (Is("ZIP")) {
    Zip(TrimSpaces(Arg(5)));
  }
  if (failed_) return CommandResult::kFailed;
  return nothing_to_do_ ? CommandResult::kNothingToDo : CommandResult::kDone;
}

void Command::Transfer(std::string_view what, const std::string& arg) {
  bool get = what == "Get";
  Message(std::string(what) + " file " + arg);
  std::string failed = std::string(what) + "File: Failed. ";
  // A client run has no site session: the line does not apply here.
  if (!context_.server_flavour()) {
    log_.Warning("No FTP site in a client run: " + arg + " not transferred.");
    return NothingToDo(failed);
  }
  if (!get) {
    if (!context_.site.PutFile(arg, arg)) FailedLine(failed);
    return;
  }
  std::optional<std::string> expected = Expected(arg, "FTPGET");
  if (failed_) return;
  std::string actual;
  if (!context_.site.GetFile(arg, arg, expected ? &actual : nullptr)) {
    return FailedLine(failed);
  }
  Matches(arg, NativePath(arg), expected, actual);
}

std::optional<std::string> Command::Expected(const std::string& name,
                                             std::string_view keyword) {
  if (context_.digests) {
    auto found = context_.digests->find(ToUpperAscii(TrimSpaces(name)));
    if (found != context_.digests->end()) return found->second;
  }
  if (context_.verify) {
    FailedLine("!!! " + std::string(keyword) + " " + name +
               " refused: updates are verified here and no SHA256 line "
               "states the file's digest.");
  }
  return std::nullopt;
}

bool Command::Matches(const std::string& name, const std::string& local,
                      const std::optional<std::string>& expected,
                      const std::string& actual) {
  if (!expected || EqualsIgnoreCase(*expected, actual)) return true;
  context_.env.RemoveFile(ResolveCase(local));
  FailedLine("!!! " + name + " does not match its SHA256 line (expected " +
             ToLowerAscii(*expected) + ", got " + actual +
             "); the file was removed.");
  return false;
}

void Command::Download(const std::string& arg) {
  std::string target = App("\\Update\\" + arg);
  bool server = context_.server_flavour();
  Message(server ? "Download to Server" : "Download to Client");
  std::optional<std::string> expected = Expected(arg, "DOWNLOAD");
  if (failed_) return;
  if (server) {
    std::string actual;
    if (!context_.site.GetFile(arg, arg, expected ? &actual : nullptr)) {
      FailedLine("Download to Server: Failed. ");
    } else if (!Matches(arg, NativePath(arg), expected, actual)) {
      return;
    }
    // The server passes each update file on to its clients through its
    // shared Update folder; the copy is tried even after a failed fetch.
    Check(CopyAside(arg, NativePath(arg), target));
  } else {
    Sha256 digest;
    Check(CopyAside(arg,
                    NativePath("\\\\" + context_.settings.server_name +
                               "\\MVUpdate\\" + arg),
                    target, &digest));
    if (error_flag_) {
      FailedLine("Download to Client: Failed. ");
      error_flag_ = false;
    } else {
      Matches(arg, target, expected, digest.HexDigest());
    }
  }
}

void Command::ChangeDirectory(const std::string& arg) {
  Message("Change directory " + arg);
  std::string folder = NativePath(arg);
  Status missing = ChangeFolder(folder);
  if (missing.ok()) return;
  // A missing folder is made (its last level only) and entered; when that
  // works, the miss was nothing to worry about.
  Status made = MakeFolder(folder);
  Status entered = made.ok() ? ChangeFolder(folder) : made;
  if (entered.ok()) return NothingToDo(missing.failure().Text());
  ErrorPath(missing.failure());
  Check(made);
  Check(made.ok() ? entered : ChangeFolder(folder));
}

void Command::Run(const std::string& arg) {
  Message("Run " + arg);
  Result<ProcessId> started = StartProgram(arg);
  if (!started.ok()) ErrorPath(started.failure());
  if (error_flag_) {
    FailedLine("Shell: Failed. ");
    return;
  }
  WaitSeconds(context_.window, log_,
              static_cast<float>(context_.options.run_wait_seconds));
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
  if (s == std::string::npos) {
    // The backslash that splits folder from pattern is the last one of the
    // whole line, destination included: a destination with a backslash
    // before its last character leaves nothing to copy to. Copying nothing
    // while the update is recorded would leave it half installed.
    if (arg.find(' ') != std::string::npos) {
      FailedLine("!!! COPY " + arg +
                 " copies nothing: a destination may hold no backslash but a "
                 "last one.");
    }
    return;
  }
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
  // Large files take a while: they are copied on a worker thread while the
  // window goes on, and their results logged here in order afterwards.
  const std::vector<std::string>& files = names.value();
  std::vector<Status> copied = RunFileStep(
      context_.window, log_, "Copying", [&](RunLog&, FileProgress& progress) {
        std::vector<Status> results;
        const int count = static_cast<int>(files.size());
        for (int i = 0; i < count; ++i) {
          progress.Report(files[i], i + 1, count, 0, -1);
          results.push_back(context_.env.CopyFile(
              NativePath(source + files[i]), NativePath(destination + files[i]),
              nullptr, 0));
        }
        return results;
      });
  for (const Status& st : copied) Check(st);
}

void Command::Unzip(const std::string& a) {
  Message("Unzip " + a);
  size_t s = a.find(' ');
  if (s == std::string::npos) return;
  std::string destination =
      App(context_.server_flavour() ? "\\Download" : "\\Update");
  int16_t result = RunFileStep(
      context_.window, log_, "Extracting",
      [&](RunLog& log, FileProgress& progress) {
        return UnZipFiles(context_.env, log, a.substr(0, s), destination,
                          a.substr(s + 1), ReportTo(progress));
      });
  if (result == kArchiveNothingMatched) {
    nothing_to_do_ = true;
  } else if (result != kArchiveOk) {
    failed_ = true;
  }
}

void Command::Zip(const std::string& a) {
  Message("Zip " + a);
  size_t s = a.find(' ');
  if (s == std::string::npos) return;
  int16_t result = RunFileStep(
      context_.window, log_, "Zipping",
      [&](RunLog& log, FileProgress& progress) {
        return ZipFiles(log, a.substr(0, s), a.substr(s + 1),
                        ReportTo(progress));
      },
      false);
  if (result == kArchiveNothingMatched) {
    nothing_to_do_ = true;
  } else if (result != kArchiveOk) {
    failed_ = true;
  }
}

}  // namespace

bool NoteDigest(std::string_view line, Digests& digests) {
  std::string text = TrimSpaces(StripCharacter(line, "\t"));
  if (ToUpperAscii(text.substr(0, 7)) != "SHA256 ") return false;
  std::string rest = TrimSpaces(text.substr(7));
  if (rest.size() < 66 || rest[64] != ' ') return false;
  std::string hex = rest.substr(0, 64);
  if (!DecodeHex(hex)) return false;
  std::string name = TrimSpaces(rest.substr(65));
  if (name.empty()) return false;
  digests[ToUpperAscii(name)] = hex;
  return true;
}

std::optional<std::string_view> CommandKeyword(std::string_view key) {
  // The keywords of Command::Run, in its order (the first match counts).
  static constexpr std::string_view kKeywords[] = {
      "'",      "USERCOMMENT=", "PROMPT=", "DOWNLOAD", "SHA256 ",
      "FTPGET", "FTPPUT",       "CHDIR",   "MKDIR",    "RUN ",
      "COPY",   "DELETE",       "UNZIP",   "ZIP"};
  if (key.empty()) return key;
  for (std::string_view keyword : kKeywords) {
    if (key.substr(0, keyword.size()) == keyword) return keyword;
  }
  return std::nullopt;
}

CommandResult ExecuteCommandLine(const CommandContext& context,
                                 std::string& line) {
  context.log.Info("COMMAND: " + line);
  line = StripCharacter(TrimSpaces(line), "\t");
  Command command(context, line);
  return command.Run();
}

}  // namespace mv
