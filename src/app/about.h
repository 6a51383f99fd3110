// The text of --version: the program's version, as the build gives it, and
// the versions of the libraries it runs with.
#ifndef MVUPDATE_APP_ABOUT_H_
#define MVUPDATE_APP_ABOUT_H_

#include <string>
#include <string_view>

namespace mv {

// "<program> <version>", then one line per library of the core (libcurl,
// libzip, libsodium, ICU), each line ended by "\n". The window adds Qt's.
std::string VersionText(std::string_view program);

}  // namespace mv

#endif  // MVUPDATE_APP_ABOUT_H_
