#include "system/crypto.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "system/text.h"

namespace mv {

namespace {

void InitSodiumOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) std::abort();  // no safe way on without it
  });
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

#ifdef _WIN32

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  InitSodiumOnce();
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

#else

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  InitSodiumOnce();
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

#endif

Sha256::~Sha256() = default;

namespace {

// Enough to keep the digest busy while the network goes on; bounded so that
// a slow digest does not fill the memory with a whole file.
constexpr size_t kMaxQueuedBytes = 8 << 20;

}  // namespace

BackgroundSha256::BackgroundSha256() : worker_([this] { Work(); }) {}

BackgroundSha256::~BackgroundSha256() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void BackgroundSha256::Update(const void* data, size_t size) {
  std::string piece;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_bytes_ < kMaxQueuedBytes; });
    if (!spare_.empty()) {
      piece = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  // Into a buffer used before, outside the lock: a fresh buffer of this
  // size is mapped anew and faults its pages in one by one, which cost as
  // much as the digest itself.
  piece.assign(static_cast<const char*>(data), size);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_bytes_ += size;
    queue_.push_back(std::move(piece));
  }
  changed_.notify_all();
}

void BackgroundSha256::Work() {
  for (;;) {
    std::string piece;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;
      piece = std::move(queue_.front());
      queue_.pop_front();
    }
    digest_.Update(piece);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queued_bytes_ -= piece.size();
      spare_.push_back(std::move(piece));
    }
    changed_.notify_all();
  }
}

std::string BackgroundSha256::HexDigest() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  return digest_.HexDigest();
}

std::string Blake2b512(std::string_view data) {
  InitSodiumOnce();
  std::string out(crypto_generichash_BYTES_MAX, '\0');
  crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), out.size(),
                     Bytes(data), data.size(), nullptr, 0);
  return out;
}

bool VerifyEd25519(std::string_view signature, std::string_view message,
                   std::string_view public_key) {
  InitSodiumOnce();
  if (signature.size() != crypto_sign_BYTES ||
      public_key.size() != crypto_sign_PUBLICKEYBYTES) {
    return false;
  }
  return crypto_sign_verify_detached(Bytes(signature), Bytes(message),
                                     message.size(), Bytes(public_key)) == 0;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  text = TrimWhitespace(text);
  // libsodium must not be given the null buffer of an empty vector.
  if (text.empty()) return std::string();
  std::vector<unsigned char> out(text.size());
  size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(),
                        nullptr, &length, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(out.data()), length);
}

std::optional<std::string> DecodeHex(std::string_view text) {
  std::vector<unsigned char> out(text.size() / 2 + 1);
  size_t length = 0;
  const char* end = nullptr;
  if (sodium_hex2bin(out.data(), out.size(), text.data(), text.size(), nullptr,
                     &length, &end) != 0 ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(out.data()), length);
}

}  // namespace mv
