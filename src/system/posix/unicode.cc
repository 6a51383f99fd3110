#include "system/unicode.h"

#include <unicode/ustring.h>

namespace mv {

std::string Utf16ToUtf8(std::u16string_view units) {
  if (units.empty()) return std::string();
  // At most three UTF-8 bytes per UTF-16 unit.
  std::string out(units.size() * 3, '\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                     units.data(), static_cast<int32_t>(units.size()), 0xFFFD,
                     nullptr, &status);
  if (U_FAILURE(status)) return std::string();
  out.resize(static_cast<size_t>(length));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  if (text.empty()) return std::u16string();
  // At most one UTF-16 unit per UTF-8 byte.
  std::u16string out(text.size(), u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length,
                       text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                       nullptr, &status);
  if (U_FAILURE(status)) return std::u16string();
  out.resize(static_cast<size_t>(length));
  return out;
}

}  // namespace mv
