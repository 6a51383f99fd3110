// English names of Windows language identifiers, as the version tools show
// them for a file's string table.
#ifndef MVUPDATE_SYSTEM_LANGUAGE_NAMES_H_
#define MVUPDATE_SYSTEM_LANGUAGE_NAMES_H_

#include <cstdint>
#include <string>

namespace mv {

// The display name of a language identifier in English, e.g. 0x0409
// "English (United States)". The original platform's own names are kept
// where they differ from the locale data; identifiers that name no known
// language give "Language Neutral", as on that platform.
std::string LanguageName(uint16_t lang_id);

// The library the names come from with its version ("ICU 72.1"), for
// --version; empty where they come from the system itself.
std::string LocaleDataVersion();

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_LANGUAGE_NAMES_H_
