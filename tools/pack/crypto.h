#pragma once
// The cryptographic primitives the AES entries are made with, taken from the
// system: OpenSSL's libcrypto on Linux (crypto_openssl.cpp), bcrypt.dll on
// Windows (crypto_windows.cpp). Both give the same bytes for the same input.
#include <stddef.h>
#include <stdint.h>
#include <memory>
#include <string>

namespace pack {

// Where the primitives come from, for messages: "libcrypto", "bcrypt.dll".
extern const char* const CryptoLibrary;

// PBKDF2 with HMAC-SHA1: 'size' bytes of key from the password and the salt.
bool Pbkdf2Sha1(const std::string& password, const uint8_t* salt, size_t saltSize, uint32_t iterations,
                uint8_t* out, size_t size);

// AES in ECB mode, encryption only, with a 16-, 24- or 32-byte key.
class AesEcb {
 public:
  AesEcb();
  ~AesEcb();
  AesEcb(const AesEcb&) = delete;
  AesEcb& operator=(const AesEcb&) = delete;
  // False when the key is refused (or of another size).
  bool SetKey(const uint8_t* key, size_t size);
  // Encrypts 'blocks' 16-byte blocks from 'in' to 'out'.
  bool Encrypt(const uint8_t* in, uint8_t* out, size_t blocks);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// HMAC-SHA1 over data given in pieces: Start, Update as often as needed, Final.
class HmacSha1 {
 public:
  static const size_t Size = 20;
  HmacSha1();
  ~HmacSha1();
  HmacSha1(const HmacSha1&) = delete;
  HmacSha1& operator=(const HmacSha1&) = delete;
  bool Start(const uint8_t* key, size_t size);
  bool Update(const uint8_t* data, size_t size);
  // The 20-byte code; the object then needs a new Start.
  bool Final(uint8_t* code);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pack
