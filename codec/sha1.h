#pragma once
// SHA-1 (FIPS 180-4), HMAC-SHA1 (RFC 2104) and PBKDF2-HMAC-SHA1 (RFC 8018):
// the key derivation and authentication of WinZip AES entries.
#include <stdint.h>

const uint32_t Sha1Size = 20;
const uint32_t Sha1BlockSize = 64;

struct Sha1 {
  uint32_t h[5];
  uint32_t count;   // bytes hashed so far (entries stay below 2 GB)
  uint8_t block[Sha1BlockSize];
};

void Sha1Start(Sha1& sha);
void Sha1Add(Sha1& sha, const uint8_t* data, uint32_t length);
// Writes the 20-byte digest; the state is used up.
void Sha1Finish(Sha1& sha, uint8_t* digest);

// The two hash states of HMAC after the padded key went into each. The
// message goes into 'inner' with Sha1Add.
struct Hmac {
  Sha1 inner, outer;
};

// Keys longer than one block are hashed first, as RFC 2104 says.
void HmacStart(Hmac& mac, const uint8_t* key, uint32_t keyLength);
// Writes the 20-byte code; the state is used up.
void HmacFinish(Hmac& mac, uint8_t* code);

// PBKDF2 with HMAC-SHA1: 'outLength' bytes derived from the password and salt.
void Pbkdf2Sha1(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt,
                uint32_t saltLength, uint32_t iterations, uint8_t* out, uint32_t outLength);
