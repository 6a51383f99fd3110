// Checking a site as an installation would read it, before stores do.
#ifndef MVUPDATE_VENDOR_LINT_H_
#define MVUPDATE_VENDOR_LINT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/signature.h"
#include "vendor/vendor_site.h"

namespace mv {

// Every fault of the site, one line each naming the file (and the line of
// the control file): unknown command lines, sections out of order or
// missing, LASTUPDATE not the highest section, DOWNLOAD or FTPGET files
// missing, without a SHA256 line or with another digest, a signature that
// is missing, does not verify against `key` or has expired at `now`, a
// customer folder without MVControl.dat (where the site gives listings).
// Failures to read the site are
// faults too.
std::vector<std::string> LintSite(VendorSite& site,
                                  const std::optional<PublicKey>& key,
                                  int64_t now);

}  // namespace mv

#endif  // MVUPDATE_VENDOR_LINT_H_
