// The command interpreter: carries out one command line of an update.
#ifndef MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_
#define MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "log/run_log.h"
#include "system/deployment.h"
#include "system/env.h"
#include "system/install_settings.h"
#include "system/window.h"
#include "update/file_transfer.h"

namespace mv {

// The digests that SHA256 lines of a section state, by file name in upper
// case: DOWNLOAD and FTPGET check what they fetch against them.
using Digests = std::map<std::string, std::string>;

// What the commands of an update work with.
struct CommandContext {
  const InstallSettings& settings;
  Window& window;  // the flavour's check box, and events during waits
  RunLog& log;
  FileTransfer& site;
  Env& env;  // writes the files of DOWNLOAD, COPY and UNZIP
  const CommandOptions& options;
  // Set when the installation pins the vendor's keys: a file fetched
  // without a stated digest is then refused.
  bool verify = false;
  const Digests* digests = nullptr;

  bool server_flavour() const { return ServerFlavour(settings, window); }
};

// Reads a "SHA256 <64 hex digits> <file name>" line into `digests`; false
// for a line of another kind or form.
bool NoteDigest(std::string_view line, Digests& digests);

// The keyword a command line starts with as the interpreter recognises it
// (`key`: the line trimmed, without tabs, upper-cased): "" for a blank line,
// "'" for a comment; nothing for a line the interpreter does not know and
// passes over. For checking a control file before it is published.
std::optional<std::string_view> CommandKeyword(std::string_view key);

enum class CommandResult {
  kDone,  // also comments, blank lines and unknown keywords
  // The command found nothing to do or does not apply on this machine
  // (nothing to delete, copy or extract, a folder that exists, a missing
  // folder that CHDIR made, FTPGET and FTPPUT in a client run); its lines
  // are Warnings and the update goes on.
  kNothingToDo,
  // The command's own failure was logged at Error level: a failed file or
  // folder operation, transfer or program start, an archive failure.
  kFailed,
};

// Logs the line, replaces it by its cleaned form (trimmed, tabs removed),
// recognises the keyword and carries the command out.
CommandResult ExecuteCommandLine(const CommandContext& context,
                                 std::string& line);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_
