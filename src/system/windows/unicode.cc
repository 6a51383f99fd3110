#include "system/unicode.h"

#include "system/windows/win32.h"

namespace mv {

std::string Utf16ToUtf8(std::u16string_view units) {
  return Narrow(std::wstring_view(
      reinterpret_cast<const wchar_t*>(units.data()), units.size()));
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::wstring wide = Widen(text);
  return std::u16string(reinterpret_cast<const char16_t*>(wide.data()),
                        wide.size());
}

}  // namespace mv
