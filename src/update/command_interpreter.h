// The command interpreter: carries out one command line of an update.
#ifndef MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_
#define MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_

#include <string>

#include "log/run_log.h"
#include "system/install_settings.h"
#include "system/window.h"
#include "update/file_transfer.h"

namespace mv {

// What the commands of an update work with.
struct CommandContext {
  const InstallSettings& settings;
  Window& window;  // the flavour's check box, and events during waits
  RunLog& log;
  FileTransfer& site;

  bool server_flavour() const { return ServerFlavour(settings, window); }
};

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
