// SHA-256 from Windows' own BCrypt.
#include <algorithm>
#include <cstdlib>

#include "system/crypto.h"
#include "system/windows/win32.h"
// After <windows.h>, which it needs.
#include <bcrypt.h>

namespace mv {

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  // One provider for the process, never closed.
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    return opened;
  }();
  if (!provider || !BCRYPT_SUCCESS(BCryptCreateHash(
                       provider, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    std::abort();  // no digest, no safe way on
  }
}

void Sha256::Update(const void* data, size_t size) {
  auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
  while (size > 0) {
    ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
    BCryptHashData(state_->hash, bytes, piece, 0);
    bytes += piece;
    size -= piece;
  }
}

std::string Sha256::HexDigest() {
  unsigned char digest[32];
  BCryptFinishHash(state_->hash, digest, sizeof digest, 0);
  char hex[2 * sizeof digest + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

Sha256::~Sha256() = default;

}  // namespace mv
