#pragma once
// WinZip AES entries (compression method 99). The 0x9901 extra field names the
// real method and the key size; the entry's data is a salt, a 2-byte password
// verifier, the compressed data encrypted with AES in counter mode, and the
// first 10 bytes of an HMAC-SHA1 over the encrypted data. PBKDF2-HMAC-SHA1
// (1000 iterations) turns password and salt into the AES key, the HMAC key
// and the verifier. AE-1 entries also carry the CRC-32, AE-2 entries do not.
//
// The AES cipher comes through the seam (the stub takes the system's, which
// costs it less than its own and runs faster); SHA-1, HMAC and PBKDF2 are
// ours everywhere: the system's PBKDF2 under Wine takes several times as long
// per entry.
#include <stdint.h>

#include "base/entry.h"

const uint32_t AesVerifierSize = 2;
const uint32_t AesCodeSize = 10;
const uint32_t AesIterations = 1000;


// State.AesActive is set while the current entry is decrypted with AES (the
// engine sets it); the engine has FindAesExtra fill State.AesEntry.

// Looks for the 0x9901 field among the extra fields and fills 'info'; false
// when there is none, it names another vendor or an unknown key size, or the
// system gives no AES (the entry then ends at its unknown method).
bool FindAesExtra(const uint8_t* extra, uint32_t length, AesEntryInfo& info);
// 8, 12 or 16 bytes of salt for strength 1, 2, 3.
uint32_t AesSaltSize(uint8_t strength);
// 'header' holds the salt and the verifier as stored. Derives the keys from
// the password for State.AesEntry.strength and compares the verifier; on a match
// the keys are ready for AesDecryptBuffer. An empty password is refused.
bool AesCheckPassword(const char* password, const uint8_t* header);
// Authenticates and decrypts 'length' bytes of the entry's data in place.
void AesDecryptBuffer(uint8_t* buffer, uint32_t length);
// Compares the code over everything AesDecryptBuffer saw with the stored one.
bool AesCodeMatches(const uint8_t* storedCode);
// Clears the keys and the counter state once they are no longer needed.
void AesForgetKeys();

// Decrypts an encrypted entry's data in place with whichever cipher the
// entry uses: AES when State.AesActive is set, otherwise the traditional one.
void DecryptEntryData(uint8_t* buffer, uint32_t length);
