#include "system/process.h"

namespace mv {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size()) return args;
  // The program name: quoted up to the next quote, else up to a blank.
  std::string program;
  if (line[i] == '"') {
    size_t close = line.find('"', i + 1);
    program = std::string(line.substr(i + 1, close == std::string_view::npos
                                                 ? std::string_view::npos
                                                 : close - i - 1));
    i = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    size_t end = i;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    program = std::string(line.substr(i, end - i));
    i = end;
  }
  args.push_back(program);
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        size_t n = 0;
        while (i < line.size() && line[i] == '\\') ++n, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg.push_back('"');
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
      } else if (line[i] == '"') {
        // A doubled quote inside quotes is a literal quote.
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg.push_back('"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(line[i++]);
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

Result<std::vector<std::string>> ProgramArguments(std::string_view line) {
  if (line.find('\0') != std::string_view::npos) return Failure(kBadFileName);
  std::vector<std::string> args = SplitCommandLine(line);
  if (args.empty() || args[0].empty()) return Failure(kInvalidArgument);
  return args;
}

}  // namespace mv
