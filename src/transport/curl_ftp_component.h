// The FTP component over libcurl's multi interface.
//
// One login serves the whole session: every request runs on the control
// connection that Connect opened (libcurl keeps it in the multi handle's
// connection cache, and logs in again by itself only when the site closed
// it). libcurl resolves every URL from the login directory, so the current
// remote directory is kept here and each request names its full path; a
// directory change is checked with a request that only changes directories.
// Passive mode. The user name and password go to libcurl as options, never
// inside a URL, and nothing here writes a log.
//
// Time limits come from the component's options (SiteOptions):
// timeout_seconds bounds connecting and each answer of the site outside
// transfers; a transfer fails when no byte has moved for stall_seconds.
// The local files of a download are written, renamed and removed through
// the Env it is given.
#ifndef MVUPDATE_TRANSPORT_CURL_FTP_COMPONENT_H_
#define MVUPDATE_TRANSPORT_CURL_FTP_COMPONENT_H_

#include <memory>

#include "system/env.h"
#include "transport/ftp_component.h"

namespace mv {

// A new component, or null when libcurl cannot be set up.
std::unique_ptr<FtpComponent> MakeCurlFtpComponent(Env& env);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_CURL_FTP_COMPONENT_H_
