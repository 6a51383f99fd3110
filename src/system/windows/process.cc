#include "system/process.h"

#include <cstdlib>
#include <memory>

#include "system/files.h"
#include "system/paths.h"
#include "system/windows/win32.h"

namespace mv {

namespace {

std::vector<UniqueHandle>& Started() {
  static std::vector<UniqueHandle> processes;
  return processes;
}

// The file to run for a program name: as given when it names a folder,
// else from the current folder, then along PATH (with ".exe" added when the
// name has no extension), as the system's own search finds it.
std::wstring FindProgram(const std::string& name) {
  std::wstring wide = Widen(name);
  wchar_t found[MAX_PATH * 4];
  DWORD n = ::SearchPathW(nullptr, wide.c_str(), L".exe", MAX_PATH * 4, found,
                          nullptr);
  if (n == 0 || n >= MAX_PATH * 4) return L"";
  return std::wstring(found, n);
}

}  // namespace

Result<ProcessId> StartProgram(std::string_view command_line) {
  Result<std::vector<std::string>> args = ProgramArguments(command_line);
  if (!args.ok()) return args.failure();
  std::string native = NativePath(args.value()[0]);
  if (Status s = CheckUsablePath(native); !s.ok()) return s.failure();
  std::wstring program = FindProgram(native);
  if (program.empty()) return Failure(kFileNotFound);

  // The line goes to the program as written: it splits it itself.
  std::wstring line = Widen(command_line);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;
  PROCESS_INFORMATION info = {};
  // No handle of this process is inherited (the FTP site's connection, a
  // database session); the program gets a console of its own, minimized,
  // rather than this one's.
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP |
                            CREATE_UNICODE_ENVIRONMENT,
                        nullptr, nullptr, &startup, &info)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_BAD_EXE_FORMAT) return Failure(kInvalidArgument);
    return Failure::FromErrno(ErrnoFromWin32(error), Narrow(program));
  }
  ::CloseHandle(info.hThread);
  Started().emplace_back(info.hProcess);
  return static_cast<ProcessId>(info.dwProcessId);
}

size_t ReapFinishedPrograms() {
  std::vector<UniqueHandle>& processes = Started();
  std::erase_if(processes, [](const UniqueHandle& h) {
    return ::WaitForSingleObject(h.get(), 0) != WAIT_TIMEOUT;
  });
  return processes.size();
}

ProcessId CurrentProcessId() { return ::GetCurrentProcessId(); }

void KeepFromChildPrograms(uint64_t socket) {
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT,
                         0);
}

void SetEnvironmentValue(const std::string& name, const std::string& value) {
  // Both the C run-time's copy (getenv) and the process's block.
  ::_putenv_s(name.c_str(), value.c_str());
  ::SetEnvironmentVariableW(Widen(name).c_str(), Widen(value).c_str());
}

}  // namespace mv
