// The vendor's signing key: a minisign secret key file, unencrypted or
// protected by a password (scrypt), and signatures in minisign's format.
// All cryptography is libsodium's.
#ifndef MVUPDATE_VENDOR_MINISIGN_KEY_H_
#define MVUPDATE_VENDOR_MINISIGN_KEY_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "system/failure.h"

namespace mv {

class SecretKey {
 public:
  // Reads a secret key file; `password` is asked only for an encrypted key
  // (nothing: no password could be had).
  static Result<SecretKey> Read(
      const std::string& path,
      const std::function<std::optional<std::string>()>& password);
  SecretKey(SecretKey&&) = default;
  SecretKey& operator=(SecretKey&&) = default;
  ~SecretKey();

  // A prehashed signature file (Ed25519 over the BLAKE2b-512 digest of
  // `data`) with `trusted_comment`, as minisign -S writes it.
  std::string SignatureFile(std::string_view data,
                            std::string_view trusted_comment) const;

 private:
  SecretKey() = default;
  std::string key_id_;  // 8 bytes, little-endian as minisign keeps them
  std::string secret_;  // libsodium's 64-byte Ed25519 secret key
};

// The password of an encrypted key: MVUPDATE_VENDOR_KEY_PASSWORD, else
// asked on the terminal without echo; nothing when neither is there.
std::optional<std::string> AskKeyPassword();

}  // namespace mv

#endif  // MVUPDATE_VENDOR_MINISIGN_KEY_H_
