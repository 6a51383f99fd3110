// Started by the Windows tests as a program RUN starts: tells whether the
// handle value it is given reaches the named file from here, that is
// whether the handle was inherited. Writes "reached" or "not reached" to
// the answer file.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  HANDLE h = reinterpret_cast<HANDLE>(std::wcstoull(argv[1], nullptr, 10));
  wchar_t path[MAX_PATH * 4] = {};
  DWORD n = ::GetFinalPathNameByHandleW(h, path, MAX_PATH * 4, 0);
  std::wstring found(path, n < MAX_PATH * 4 ? n : 0);
  std::wstring name = argv[2];
  bool reached =
      found.size() >= name.size() &&
      _wcsicmp(found.c_str() + found.size() - name.size(), name.c_str()) == 0;
  HANDLE out = ::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  const char* text = reached ? "reached" : "not reached";
  DWORD written = 0;
  ::WriteFile(out, text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
  ::CloseHandle(out);
  return 0;
}
