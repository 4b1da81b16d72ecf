#pragma once
// Traditional ZIP encryption (the weak stream cipher keyed by a password),
// written independently of the stub's decoder so each checks the other.
#include <stddef.h>
#include <stdint.h>
#include <string>

namespace pack {

class ZipCipher {
 public:
  explicit ZipCipher(const std::string& password);
  void Encrypt(uint8_t* data, size_t size);
  void Decrypt(uint8_t* data, size_t size);

 private:
  uint8_t KeyByte() const;
  void Update(uint8_t plain);
  uint32_t key0_, key1_, key2_;
};

// The 12-byte encryption header: 11 random bytes and the check byte (the top
// byte of the entry's CRC-32, since sizes and CRC are in the local header),
// encrypted with a fresh cipher state that then encrypts the entry's data.
// 'random' must hold 11 bytes.
std::string EncryptionHeader(ZipCipher& cipher, uint32_t crc, const uint8_t* random);

// Fills 'size' bytes from the kernel's random source; false if it fails.
bool SecureRandom(uint8_t* out, size_t size);

}  // namespace pack
