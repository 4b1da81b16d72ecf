#pragma once
// The AES block cipher (FIPS-197), our own, behind the host seam's AES (the
// stub takes the system's): encryption only, for 128-, 192- and 256-bit keys.
// Counter mode, which WinZip AES entries use, decrypts by encrypting counter
// blocks, so the inverse cipher is never needed.
#include <stdint.h>

#include "platform/platform.h"

struct AesKey {
  uint32_t words[60];   // the expanded key, little-endian columns
  uint32_t rounds;      // 10, 12 or 14
};

// keyLength is 16, 24 or 32 bytes.
void AesExpandKey(AesKey& key, const uint8_t* bytes, uint32_t keyLength);
// 'in' and 'out' may be the same block.
void AesEncryptBlock(const AesKey& key, const uint8_t* in, uint8_t* out);
