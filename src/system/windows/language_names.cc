#include "system/language_names.h"

#include <string>

#include "system/windows/win32.h"

namespace mv {

std::string LanguageName(uint16_t lang_id) {
  // The system's own English names, as its version tools show them.
  wchar_t locale[LOCALE_NAME_MAX_LENGTH];
  if (::LCIDToLocaleName(lang_id, locale, LOCALE_NAME_MAX_LENGTH, 0) == 0 ||
      locale[0] == L'\0') {
    return "Language Neutral";
  }
  wchar_t name[256];
  int n = ::GetLocaleInfoEx(locale, LOCALE_SENGLISHDISPLAYNAME, name, 256);
  if (n <= 1) return "Language Neutral";
  return Narrow(std::wstring_view(name, static_cast<size_t>(n - 1)));
}

std::string LocaleDataVersion() { return ""; }

}  // namespace mv
