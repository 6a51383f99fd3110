// Fuzz target of the parsers of minisign public keys and signature files,
// which read what the site and the registry hold. The input is a key line,
// a line feed, and a signature file; the input is checked against the
// control file it might sign, and the key line is also read as a trusted
// comment. Besides crashes it checks that a parsed
// signature keeps its parts' sizes, so that no check later reads past them.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t nl = text.find('\n');
  std::string_view keys = text.substr(0, nl);
  std::string signature(nl == std::string_view::npos ? ""
                                                     : text.substr(nl + 1));
  mv::TrustedKeys trusted = mv::ParseTrustedKeys(keys);
  for (const mv::PublicKey& k : trusted.keys) {
    if (k.id.size() != 8 || k.key.size() != 32) std::abort();
  }
  if (std::optional<mv::SignatureFile> f = mv::ParseSignatureFile(signature)) {
    if (f->key_id.size() != 8 || f->signature.size() != 64 ||
        f->global_signature.size() != 64) {
      std::abort();
    }
  }
  mv::VerifySignature("LASTUPDATE=1\r\n", signature, trusted.keys);
  // A trusted comment's claims that can be read are read the same again
  // from the comment they are written as.
  mv::Result<std::optional<mv::TrustedClaims>> claims =
      mv::ParseTrustedClaims(keys);
  if (claims.ok() && claims.value()) {
    const mv::TrustedClaims& c = *claims.value();
    mv::Result<std::optional<mv::TrustedClaims>> again =
        mv::ParseTrustedClaims(mv::FormatTrustedClaims(c));
    if (!again.ok() || !again.value() || again.value()->update != c.update ||
        again.value()->published != c.published ||
        again.value()->expires != c.expires) {
      std::abort();
    }
  }
  return 0;
}
