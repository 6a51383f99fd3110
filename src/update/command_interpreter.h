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

// Logs the line, replaces it by its cleaned form (trimmed, tabs removed),
// recognises the keyword and carries the command out. Gives false when the
// command's own failure was logged (a failed file or folder operation, a
// failed transfer or program start, an archive failure), so that the caller
// can say the command failed; true otherwise, also for comments, blank lines
// and unknown keywords.
bool ExecuteCommandLine(const CommandContext& context, std::string& line);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_
