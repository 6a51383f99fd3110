#include "system/crypto.h"

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
