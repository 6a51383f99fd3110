// The addresses of update sites: an FTP site's "host[:port]", a web
// site's "https://host[:port][/path]", and the pieces of HTTP the web side
// of the FTP component writes.
#ifndef MVUPDATE_TRANSPORT_SITE_ADDRESS_H_
#define MVUPDATE_TRANSPORT_SITE_ADDRESS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mv {

// "name", "name:port", "[v6]" or "[v6]:port" with nothing that could
// change the meaning of the URL built from it.
bool ValidHost(std::string_view host);

// A web site is named by its address; an FTP site by its host.
bool IsWebAddress(std::string_view address);

// The base of a web site's URLs: "https://host[:port][/path]" without its
// final "/", with nothing that could change the meaning of the URLs built
// from it (no user name, query or blank); nothing when it is not such an
// address.
std::optional<std::string> WebBase(std::string_view address);

// The host and port of a URL ("host:port" as written).
std::string_view UrlHost(std::string_view url);

// The HTTP date a validator of a file's time takes (If-Range).
std::string HttpDate(int64_t time);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_SITE_ADDRESS_H_
