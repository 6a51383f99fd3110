#include "system/language_names.h"

#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <unicode/uversion.h>

#include <cstring>
#include <string_view>

namespace mv {

namespace {

constexpr std::string_view kNeutral = "Language Neutral";

// Where the platform's names differ from what the locale data would give.
struct Exception {
  uint16_t lang_id;
  std::string_view name;
};
constexpr Exception kExceptions[] = {
    {0x0000, kNeutral},
    {0x007F, "Invariant Language (Invariant Country)"},
    {0x040A, "Spanish (Spain, Traditional Sort)"},
    {0x0C0A, "Spanish (Spain, International Sort)"},
};

}  // namespace

std::string LanguageName(uint16_t lang_id) {
  for (const Exception& e : kExceptions) {
    if (e.lang_id == lang_id) return std::string(e.name);
  }
  char locale[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLocaleForLCID(lang_id, locale, sizeof locale, &status);
  // Identifiers of no particular language (the user's or the system's
  // default, 0x0400 and 0x0800) come back as the root locale.
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING ||
      locale[0] == '\0' || std::strcmp(locale, "root") == 0) {
    return std::string(kNeutral);
  }
  icu::UnicodeString name;
  icu::Locale(locale).getDisplayName(icu::Locale::getUS(), name);
  if (name.isEmpty()) return std::string(kNeutral);
  std::string out;
  name.toUTF8String(out);
  return out;
}

std::string LocaleDataVersion() {
  UVersionInfo icu;
  u_getVersion(icu);
  char icu_text[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(icu, icu_text);
  return std::string("ICU ") + icu_text;
}

}  // namespace mv
