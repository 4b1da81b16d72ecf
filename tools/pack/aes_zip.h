#pragma once
// WinZip AES entries (method 99) for the packaging tool, with the system's
// cryptography (crypto.h: libcrypto on Linux, bcrypt.dll on Windows): written
// independently of the stub's hand-written decoder so each checks the other.
// An entry's data: salt (8 or 16 bytes), 2-byte password verifier, the
// compressed data encrypted with AES in counter mode (a little-endian block
// counter starting at 1), and the first 10 bytes of an HMAC-SHA1 over the
// encrypted data. Keys: PBKDF2-HMAC-SHA1, 1000 iterations.
#include <stddef.h>
#include <stdint.h>
#include <memory>
#include <string>

#include "base/entry.h"

namespace pack {

// The package's encryption, chosen with --encryption.
enum class Encryption { Aes256, Aes128, ZipCrypto };

struct AesInfo {
  uint16_t version = 0;   // 1 AE-1 (CRC kept), 2 AE-2 (CRC 0); 0: not an AES entry
  uint8_t strength = 0;   // 1, 2, 3: 128-, 192-, 256-bit keys
  uint16_t method = 0;    // the real compression method
};

// Reads the 0x9901 field from an extra-field block; false when there is none
// or it is not one this tool understands.
bool ParseAesExtra(const std::string& extra, AesInfo& info);
// The 11-byte 0x9901 extra field.
std::string AesExtraField(const AesInfo& info);
// "AES-256" and so on.
std::string AesName(uint8_t strength);

// AE-2 for entries below 20 bytes, whose CRC would tell too much about the
// contents; AE-1 otherwise, so the CRC still checks the decompressed bytes.
uint16_t AesVersionFor(uint64_t size);

// What AES adds to an entry's data: the salt and the password verifier
// before it, the authentication code after it.
size_t AesHeaderSize(uint8_t strength);
const size_t AesCodeSize = 10;

// Encrypts in place the 'size' bytes of compressed data that start at
// stored + AesHeaderSize, and writes the header before them and the code
// after them, with a fresh salt from the system's random source.
bool AesSeal(const std::string& password, uint8_t strength, uint8_t* stored, size_t size, std::string& error);

// Opens stored AES data taken in pieces, so that a large entry is never held
// whole: Start on the header, Authenticate on the encrypted data in order and
// then CodeMatches on the code; Decrypt on the encrypted data in order.
class AesOpener {
 public:
  AesOpener();
  ~AesOpener();
  // False, with the reason, when the password does not open the data.
  bool Start(const std::string& password, uint8_t strength, const uint8_t* header, std::string& error);
  void Authenticate(const uint8_t* data, size_t size);
  bool CodeMatches(const uint8_t* code);
  bool Decrypt(uint8_t* data, size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pack
