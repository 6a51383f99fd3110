// Publishing an update: the files go onto the site, then the update control
// file gains the next section and is signed.
#ifndef MVUPDATE_VENDOR_PUBLISH_H_
#define MVUPDATE_VENDOR_PUBLISH_H_

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "vendor/minisign_key.h"
#include "vendor/vendor_site.h"

namespace mv {

struct PublishRequest {
  std::vector<std::string> files;  // local paths
  std::string comment;             // the section's USERCOMMENT
  std::string run;                 // a file (of `files`) to RUN; "" for none
  std::optional<int> valid_days;   // the signature's expiry, from now
  bool dry_run = false;            // print the section only
};

// Publishes into `site` (`key` may be null for a dry run); reports on `out`
// and `err`. Gives the exit status: 0 published, 1 failed.
int Publish(VendorSite& site, const SecretKey* key,
            const PublishRequest& request, int64_t now, std::ostream& out,
            std::ostream& err);

}  // namespace mv

#endif  // MVUPDATE_VENDOR_PUBLISH_H_
