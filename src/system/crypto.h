// The cryptography the utility uses: SHA-256 from the system's library
// (libcrypto's EVP interface, which uses the processor's SHA instructions;
// BCrypt on Windows), and from libsodium BLAKE2b-512, Ed25519 signature
// checks and the text forms (hex, base64) that control files and key files
// carry. Nothing here is written by hand.
#ifndef MVUPDATE_SYSTEM_CRYPTO_H_
#define MVUPDATE_SYSTEM_CRYPTO_H_

#include <sodium.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace mv {

// A SHA-256 digest fed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // The digest as 64 lower-case hex digits; the object is used up.
  std::string HexDigest();

 private:
  struct State;  // the library's digest context
  std::unique_ptr<State> state_;
};

// A SHA-256 digest computed on a thread of its own, so that a large file is
// digested while it is still arriving instead of after. Update copies the
// data and returns; it waits only while more than a few MiB are queued.
class BackgroundSha256 {
 public:
  BackgroundSha256();
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  void Update(const void* data, size_t size);
  // Waits for the queued data; the digest as Sha256::HexDigest gives it.
  std::string HexDigest();

 private:
  void Work();

  Sha256 digest_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  std::vector<std::string> spare_;  // digested buffers, for the next pieces
  size_t queued_bytes_ = 0;
  bool done_ = false;
  std::thread worker_;
};

// BLAKE2b with a 64-byte output, as minisign's prehashed signatures use.
std::string Blake2b512(std::string_view data);

// True when `signature` (64 bytes) is the Ed25519 signature of `message`
// by `public_key` (32 bytes).
bool VerifyEd25519(std::string_view signature, std::string_view message,
                   std::string_view public_key);

// Decodes standard base64 (with padding; blanks around it ignored);
// nothing for text that is not base64.
std::optional<std::string> DecodeBase64(std::string_view text);
// Decodes hex digits of either case; nothing for anything else.
std::optional<std::string> DecodeHex(std::string_view text);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_CRYPTO_H_
