#pragma once
// The AES block cipher (FIPS-197), encryption direction only, for 128-, 192-
// and 256-bit keys. Counter mode, which WinZip AES entries use, decrypts by
// encrypting counter blocks, so the inverse cipher is never needed.
#include <stdint.h>

const uint32_t AesBlockSize = 16;

struct AesKey {
  uint32_t words[60];   // the expanded key, little-endian columns
  uint32_t rounds;      // 10, 12 or 14
};

// keyLength is 16, 24 or 32 bytes.
void AesExpandKey(AesKey& key, const uint8_t* bytes, uint32_t keyLength);
// 'in' and 'out' may be the same block.
void AesEncryptBlock(const AesKey& key, const uint8_t* in, uint8_t* out);
