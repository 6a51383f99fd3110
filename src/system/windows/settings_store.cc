#include "system/settings_store.h"

#include <vector>

#include "system/windows/win32.h"

namespace mv {

namespace {

constexpr std::string_view kRoot = "Software\\VB and VBA Program Settings";

// "Software\VB and VBA Program Settings\<application>\<section>" below
// HKEY_CURRENT_USER, where the original platform's SaveSetting keeps them.
std::wstring KeyOf(std::string_view application, std::string_view section) {
  return Widen(std::string(kRoot) + "\\" + std::string(application) + "\\" +
               std::string(section));
}

Failure StoreFailure(LSTATUS error, std::string_view what) {
  return Failure::FromErrno(ErrnoFromWin32(static_cast<DWORD>(error)),
                            std::string(what));
}

}  // namespace

std::string SettingsStore::DefaultFolder() {
  return "HKEY_CURRENT_USER\\" + std::string(kRoot);
}

std::string SettingsStore::FileFor(std::string_view application) const {
  return folder_ + "\\" + std::string(application);
}

Result<std::string> SettingsStore::GetSetting(
    std::string_view application, std::string_view section,
    std::string_view key, std::string_view default_value) const {
  UniqueKey k;
  LSTATUS error =
      ::RegOpenKeyExW(HKEY_CURRENT_USER, KeyOf(application, section).c_str(), 0,
                      KEY_QUERY_VALUE, k.out());
  if (error == ERROR_FILE_NOT_FOUND) return std::string(default_value);
  if (error != ERROR_SUCCESS) return StoreFailure(error, FileFor(application));
  std::wstring name = Widen(key);
  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  do {
    data.resize(size);
    error = ::RegQueryValueExW(k.get(), name.c_str(), nullptr, &type,
                               data.empty() ? nullptr : data.data(), &size);
  } while (error == ERROR_MORE_DATA ||
           (error == ERROR_SUCCESS && size > data.size()));
  if (error == ERROR_FILE_NOT_FOUND) return std::string(default_value);
  if (error != ERROR_SUCCESS) return StoreFailure(error, FileFor(application));
  // The original store holds text; anything else reads as its default.
  if (type != REG_SZ) return std::string(default_value);
  std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()),
                         size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
  return Narrow(text);
}

Status WriteSettings(std::string_view store, std::string_view section,
                     const SettingValues& values) {
  // The store's name is its folder and the application: the key is always
  // the one below HKEY_CURRENT_USER.
  std::string_view application = store.substr(store.find_last_of("\\/") + 1);
  UniqueKey k;
  LSTATUS error = ::RegCreateKeyExW(
      HKEY_CURRENT_USER, KeyOf(application, section).c_str(), 0, nullptr,
      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, k.out(), nullptr);
  if (error != ERROR_SUCCESS) return StoreFailure(error, store);
  // Each value is replaced in one step by the registry itself.
  for (const auto& [key, value] : values) {
    std::wstring text = Widen(value);
    error = ::RegSetValueExW(k.get(), Widen(key).c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * 2));
    if (error != ERROR_SUCCESS) return StoreFailure(error, store);
  }
  return Status::Ok();
}

}  // namespace mv
