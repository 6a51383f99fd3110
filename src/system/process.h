// Starting a program from a command line, as the command RUN does: no shell,
// the line split as the original platform splits a command line, the program
// detached from this process with its output kept out of ours.
#ifndef MVUPDATE_SYSTEM_PROCESS_H_
#define MVUPDATE_SYSTEM_PROCESS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "system/failure.h"

namespace mv {

// A started program's process id.
using ProcessId = int64_t;

// Splits a command line: blanks and tabs separate arguments, double quotes
// group, and backslashes are literal except before a double quote (2n
// backslashes and a quote give n backslashes and toggle quoting; 2n+1 give n
// backslashes and a literal quote). The program name, the first argument,
// ends at the next blank outside quotes and keeps its backslashes.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The arguments of a line StartProgram is to run: a NUL byte in it gives 52
// (Bad file name or number), a line naming no program 5.
Result<std::vector<std::string>> ProgramArguments(std::string_view line);

// This process's id.
ProcessId CurrentProcessId();

// Starts the program named by the first argument. A name without a folder
// is looked for in the current directory first, then along PATH; "\" in it
// separates folders. A script without execute permission that starts with
// "#!" is run by the interpreter that line names, as the kernel would run it
// if it were executable. The program runs in a session of its own, its
// standard streams on /dev/null and no other descriptor of this process
// open, and is reaped by ReapFinishedPrograms.
Result<ProcessId> StartProgram(std::string_view command_line);

// Collects programs started by StartProgram that have ended, so none stays a
// zombie. Gives the number still running.
size_t ReapFinishedPrograms();

// Keeps a socket that a library opened (libcurl opens its own without
// close-on-exec) from every program started later: a program that RUN
// starts must never inherit the logged-in control connection.
void KeepFromChildPrograms(uint64_t socket);

// Sets a variable of this process's environment, which the programs and
// libraries it starts later see.
void SetEnvironmentValue(const std::string& name, const std::string& value);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_PROCESS_H_
