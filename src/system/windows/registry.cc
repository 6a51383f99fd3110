#include "system/registry.h"

#include <string>
#include <vector>

#include "system/windows/win32.h"

namespace mv {

namespace {

// The suite and its installer are 32-bit programs: on 64-bit Windows their
// keys under HKEY_LOCAL_MACHINE\SOFTWARE are in the 32-bit view.
constexpr REGSAM kView = KEY_WOW64_32KEY;

// Splits "HKEY_LOCAL_MACHINE\SOFTWARE\Qorin" into its root and sub-key.
bool SplitKey(std::string_view key, HKEY& root, std::wstring& sub) {
  size_t slash = key.find('\\');
  std::string_view head = key.substr(0, slash);
  if (head == "HKEY_LOCAL_MACHINE" || head == "HKLM") {
    root = HKEY_LOCAL_MACHINE;
  } else if (head == "HKEY_CURRENT_USER" || head == "HKCU") {
    root = HKEY_CURRENT_USER;
  } else {
    return false;
  }
  sub = slash == std::string_view::npos ? L"" : Widen(key.substr(slash + 1));
  return true;
}

// Opens a key; ERROR_FILE_NOT_FOUND when it is missing.
LSTATUS OpenKey(std::string_view key, REGSAM access, UniqueKey& out) {
  HKEY root;
  std::wstring sub;
  if (!SplitKey(key, root, sub)) return ERROR_FILE_NOT_FOUND;
  return ::RegOpenKeyExW(root, sub.c_str(), 0, access | kView, out.out());
}

Failure RegistryFailure(LSTATUS error, std::string_view key) {
  return Failure::FromErrno(ErrnoFromWin32(static_cast<DWORD>(error)),
                            std::string(key));
}

}  // namespace

std::string Registry::DefaultFile() {
  return "HKEY_LOCAL_MACHINE (32-bit view)";
}

bool Registry::Available() const { return true; }

Result<bool> Registry::KeyExists(std::string_view key) const {
  UniqueKey k;
  LSTATUS error = OpenKey(key, KEY_READ, k);
  if (error == ERROR_FILE_NOT_FOUND) return false;
  if (error != ERROR_SUCCESS) return RegistryFailure(error, key);
  return true;
}

Result<std::optional<RegistryValue>> Registry::QueryValue(
    std::string_view key, std::string_view name) const {
  UniqueKey k;
  LSTATUS error = OpenKey(key, KEY_QUERY_VALUE, k);
  if (error == ERROR_FILE_NOT_FOUND) return std::optional<RegistryValue>();
  if (error != ERROR_SUCCESS) return RegistryFailure(error, key);
  std::wstring wide_name = Widen(name);
  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  // The value may grow between the size query and the read: try again.
  do {
    data.resize(size);
    error = ::RegQueryValueExW(k.get(), wide_name.c_str(), nullptr, &type,
                               data.empty() ? nullptr : data.data(), &size);
  } while (error == ERROR_MORE_DATA ||
           (error == ERROR_SUCCESS && size > data.size()));
  if (error == ERROR_FILE_NOT_FOUND) return std::optional<RegistryValue>();
  if (error != ERROR_SUCCESS) return RegistryFailure(error, key);
  data.resize(size);
  RegistryValue v;
  v.name = std::string(name);
  v.type = type;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    // Text in UTF-8 ending in one NUL, as the REGEDIT4 file gives it.
    std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()),
                           data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
    v.data = Narrow(text) + '\0';
  } else {
    v.data.assign(reinterpret_cast<const char*>(data.data()), data.size());
  }
  return std::optional<RegistryValue>(std::move(v));
}

Status Registry::SetValue(std::string_view key, const RegistryValue& value) {
  UniqueKey k;
  LSTATUS error = OpenKey(key, KEY_SET_VALUE, k);
  if (error == ERROR_FILE_NOT_FOUND) return Failure(kPathFileAccessError);
  if (error != ERROR_SUCCESS) return RegistryFailure(error, key);
  std::string bytes = value.data;
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    std::string_view text = value.data;
    while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    std::wstring wide = Widen(text);
    bytes.assign(reinterpret_cast<const char*>(wide.c_str()),
                 (wide.size() + 1) * sizeof(wchar_t));
  }
  error = ::RegSetValueExW(k.get(), Widen(value.name).c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size()));
  if (error != ERROR_SUCCESS) return RegistryFailure(error, key);
  return Status::Ok();
}

Status Registry::CreateKey(std::string_view key) {
  HKEY root;
  std::wstring sub;
  if (!SplitKey(key, root, sub)) return Failure(kPathFileAccessError);
  UniqueKey k;
  LSTATUS error =
      ::RegCreateKeyExW(root, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | kView, nullptr, k.out(), nullptr);
  if (error != ERROR_SUCCESS) return RegistryFailure(error, key);
  return Status::Ok();
}

}  // namespace mv
