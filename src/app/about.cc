#include "app/about.h"

#include <curl/curl.h>
#include <sodium.h>
#include <zip.h>

#include "system/language_names.h"

namespace mv {

std::string VersionText(std::string_view program) {
  std::string text = std::string(program) + " " MVUPDATE_VERSION "\n";
  // The versions of the libraries loaded, not of the headers built with.
  const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
  text += std::string("libcurl ") + curl->version;
  if (curl->ssl_version) text += std::string(" (") + curl->ssl_version + ")";
  text += "\n";
  text += std::string("libzip ") + zip_libzip_version() + "\n";
  text += std::string("libsodium ") + sodium_version_string() + "\n";
  if (std::string locale_data = LocaleDataVersion(); !locale_data.empty()) {
    text += locale_data + "\n";
  }
  return text;
}

}  // namespace mv
