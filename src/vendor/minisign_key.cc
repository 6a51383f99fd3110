#include "vendor/minisign_key.h"

#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "system/unique_fd.h"
#endif

#include "system/crypto.h"
#include "system/files.h"
#include "system/text.h"

namespace mv {

namespace {

// The decoded key line: algorithm "Ed", KDF "Sc" (scrypt) or two zero
// bytes (no password), checksum algorithm "B2", the KDF's salt and limits,
// then the key number, the secret key and a BLAKE2b-256 checksum, which
// the KDF's output encrypts (XOR) when there is a password.
constexpr size_t kSaltBytes = 32, kKeyIdBytes = 8, kSecretBytes = 64,
                 kCheckBytes = 32;
constexpr size_t kHeaderBytes = 2 + 2 + 2 + kSaltBytes + 8 + 8;
constexpr size_t kKeyBytes = kKeyIdBytes + kSecretBytes + kCheckBytes;

uint64_t LoadLittleEndian64(const std::string& bytes, size_t at) {
  uint64_t n = 0;
  for (int i = 7; i >= 0; --i)
    n = (n << 8) | static_cast<uint8_t>(bytes[at + i]);
  return n;
}

std::string Base64(std::string_view bytes) {
  std::string text(
      sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL),
      '\0');
  sodium_bin2base64(text.data(), text.size(),
                    reinterpret_cast<const unsigned char*>(bytes.data()),
                    bytes.size(), sodium_base64_VARIANT_ORIGINAL);
  text.resize(std::strlen(text.c_str()));
  return text;
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

Failure KeyFailure(const std::string& path, const std::string& why) {
  return Failure(kInvalidArgument, path + ": " + why);
}

}  // namespace

SecretKey::~SecretKey() {
  if (!secret_.empty()) sodium_memzero(secret_.data(), secret_.size());
}

Result<SecretKey> SecretKey::Read(
    const std::string& path,
    const std::function<std::optional<std::string>()>& password) {
  if (sodium_init() < 0) return Failure(kCannotCreateObject, "libsodium");
  Result<std::string> text = ReadWholeFile(path);
  if (!text.ok()) return KeyFailure(path, text.failure().description());
  std::vector<std::string_view> lines = SplitLines(text.value());
  std::optional<std::string> bytes;
  if (lines.size() >= 2) bytes = DecodeBase64(lines[1]);
  if (!bytes || bytes->size() != kHeaderBytes + kKeyBytes ||
      bytes->compare(0, 2, "Ed") != 0 || bytes->compare(4, 2, "B2") != 0) {
    return KeyFailure(path, "not a minisign secret key");
  }
  std::string kdf = bytes->substr(2, 2);
  std::string key = bytes->substr(kHeaderBytes);
  sodium_memzero(bytes->data() + kHeaderBytes, kKeyBytes);
  if (kdf == "Sc") {
    std::optional<std::string> pw = password();
    if (!pw)
      return KeyFailure(path, "the key is encrypted and no password was given");
    std::string stream(kKeyBytes, '\0');
    int failed = crypto_pwhash_scryptsalsa208sha256(
        reinterpret_cast<unsigned char*>(stream.data()), stream.size(),
        pw->data(), pw->size(), Bytes(*bytes) + 6,
        LoadLittleEndian64(*bytes, 6 + kSaltBytes),
        LoadLittleEndian64(*bytes, 6 + kSaltBytes + 8));
    sodium_memzero(pw->data(), pw->size());
    if (failed != 0)
      return KeyFailure(
          path, "the key's password could not be applied (out of memory?)");
    for (size_t i = 0; i < kKeyBytes; ++i) key[i] ^= stream[i];
    sodium_memzero(stream.data(), stream.size());
  } else if (kdf != std::string(2, '\0')) {
    return KeyFailure(
        path, "the key is protected in a way this program does not know");
  }
  // The checksum covers the algorithm, the key number and the secret key
  // (minisign leaves it zero on a key without a password); the secret key
  // must also hold the public key that its seed gives. A wrong password
  // fails both.
  unsigned char check[kCheckBytes];
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, sizeof check);
  crypto_generichash_update(&state, Bytes("Ed"), 2);
  crypto_generichash_update(&state, Bytes(key), kKeyIdBytes + kSecretBytes);
  crypto_generichash_final(&state, check, sizeof check);
  const unsigned char* stored = Bytes(key) + kKeyIdBytes + kSecretBytes;
  bool matches = sodium_memcmp(check, stored, kCheckBytes) == 0 ||
                 (kdf != "Sc" && sodium_is_zero(stored, kCheckBytes));
  unsigned char public_key[crypto_sign_PUBLICKEYBYTES];
  unsigned char derived[crypto_sign_SECRETKEYBYTES];
  crypto_sign_seed_keypair(public_key, derived, Bytes(key) + kKeyIdBytes);
  matches = matches &&
            sodium_memcmp(derived, Bytes(key) + kKeyIdBytes, kSecretBytes) == 0;
  sodium_memzero(derived, sizeof derived);
  SecretKey secret;
  secret.key_id_ = key.substr(0, kKeyIdBytes);
  secret.secret_ = key.substr(kKeyIdBytes, kSecretBytes);
  sodium_memzero(key.data(), key.size());
  if (!matches) {
    return KeyFailure(path, kdf == "Sc" ? "wrong password for the key"
                                        : "the key file is damaged");
  }
  return secret;
}

std::string SecretKey::SignatureFile(std::string_view data,
                                     std::string_view trusted_comment) const {
  std::string digest = Blake2b512(data);
  std::string signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()),
                       nullptr, Bytes(digest), digest.size(), Bytes(secret_));
  // The global signature covers the signature and the trusted comment, so
  // that neither can be changed on its own.
  std::string global(crypto_sign_BYTES, '\0');
  std::string signed_comment = signature + std::string(trusted_comment);
  crypto_sign_detached(reinterpret_cast<unsigned char*>(global.data()), nullptr,
                       Bytes(signed_comment), signed_comment.size(),
                       Bytes(secret_));
  return "untrusted comment: signature from mvupdate-vendor secret key\n" +
         Base64("ED" + key_id_ + signature) +
         "\ntrusted comment: " + std::string(trusted_comment) + "\n" +
         Base64(global) + "\n";
}

std::optional<std::string> AskKeyPassword() {
  if (const char* pw = std::getenv("MVUPDATE_VENDOR_KEY_PASSWORD")) return pw;
#ifdef _WIN32
  return std::nullopt;
#else
  UniqueFd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) return std::nullopt;
  termios before{};
  if (tcgetattr(tty.get(), &before) != 0) return std::nullopt;
  termios quiet = before;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  constexpr std::string_view kPrompt = "Password for the secret key: ";
  if (write(tty.get(), kPrompt.data(), kPrompt.size()) < 0) return std::nullopt;
  tcsetattr(tty.get(), TCSAFLUSH, &quiet);
  std::string password;
  char c = 0;
  while (read(tty.get(), &c, 1) == 1 && c != '\n') password += c;
  tcsetattr(tty.get(), TCSAFLUSH, &before);
  if (write(tty.get(), "\n", 1) < 0) return std::nullopt;
  return password;
#endif
}

}  // namespace mv
