// The command interpreter: carries out one command line of an update.
#ifndef MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_
#define MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_

#include <string>

namespace mv {

class Form;

// Logs the line, replaces it by its cleaned form (trimmed, tabs removed),
// recognises the keyword and carries the command out. Gives false when the
// command's own failure was logged (a failed file or folder operation, a
// failed transfer or program start, an archive failure), so that the caller
// can say the command failed; true otherwise, also for comments, blank lines
// and unknown keywords.
bool ExecuteCommandLine(Form& form, std::string& line);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_COMMAND_INTERPRETER_H_
