// SHA-256 from libcrypto's EVP interface.
#include <openssl/evp.h>

#include <cstdlib>

#include "system/crypto.h"

namespace mv {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (!state_->context ||
      EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    std::abort();  // no digest, no safe way on
  }
}

void Sha256::Update(const void* data, size_t size) {
  EVP_DigestUpdate(state_->context, data, size);
}

std::string Sha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(state_->context, digest, &length);
  char hex[2 * EVP_MAX_MD_SIZE + 1];
  sodium_bin2hex(hex, sizeof hex, digest, length);
  return hex;
}

Sha256::~Sha256() = default;

}  // namespace mv
