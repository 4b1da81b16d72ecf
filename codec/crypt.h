#pragma once
// Traditional ZIP decryption: three 32-bit keys in State.Key0..Key2 and a
// 12-byte encryption header in front of each encrypted entry's data.
#include <stdint.h>

// Advances the keys with one plaintext byte.
void UpdateKeys(uint8_t p);
// Sets the keys from a password (8-bit characters, no terminator).
void InitKeys(const char* password);
// The keystream byte for the current keys; does not change them.
uint8_t DecryptByte();

// 'buffer' holds 2n bytes: the n encrypted header bytes in its second half,
// which is never changed; the decrypted bytes go to its first half. An empty
// password answers false without touching the keys. Otherwise the last
// decrypted byte is compared with time >> 8 when flag bit 3 is set, else with
// crc >> 24; the keys are left ready to decrypt the entry's data.
bool CheckPassword(uint8_t* buffer, int n, uint16_t flags, const char* password,
                   uint16_t time, uint32_t crc);

// Decrypts 'length' bytes in place with the current keys, advancing them.
void DecryptBuffer(uint8_t* buffer, uint32_t length);
