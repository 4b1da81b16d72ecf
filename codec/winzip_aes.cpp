#include "codec/winzip_aes.h"

#include "codec/crypt.h"
#include "codec/sha1.h"
#include "platform/held.h"
#include "base/state.h"


namespace {

const uint32_t MaxKeySize = 32;
// Counter blocks the system encrypts per call: a call costs far more than a block.
const uint32_t KeyStreamBlocks = 64;

// The current entry's keys and counter state, in one block to clear.
struct {
  AesHandle Key;
  Hmac Mac;
  // The counter block is a little-endian number, 1 for the first block.
  uint8_t Counter[AesBlockSize];
  uint8_t KeyStream[AesBlockSize * KeyStreamBlocks];
} Cipher;
uint32_t KeyStreamUsed;

}  // namespace

bool FindAesExtra(const uint8_t* extra, uint32_t length, AesEntryInfo& info) {
  // The AES field's data: 2-byte version, vendor "AE", strength, 2-byte
  // method. A version other than 2 is held to the CRC like AE-1.
  uint32_t size;
  const uint8_t* field = FindExtraField(extra, length, ExtraAes, &size);
  if (!field || size < 7) return false;
  uint8_t strength = field[4];
  if (field[2] != 'A' || field[3] != 'E' || strength < 1 || strength > 3) return false;
  info.version = field[0];
  info.strength = strength;
  info.method = Read16(field + 5);
  return AesAvailable();
}

uint32_t AesSaltSize(uint8_t strength) { return 4 + 4 * (uint32_t)strength; }

bool AesCheckPassword(const char* password, const uint8_t* header) {
  if (password[0] == 0) return false;
  uint32_t passwordLength = 0;
  while (password[passwordLength]) passwordLength++;
  uint32_t keySize = 8 + 8 * (uint32_t)State.AesEntry.strength;
  uint32_t saltSize = AesSaltSize(State.AesEntry.strength);
  // AES key, HMAC key, verifier.
  uint8_t keys[2 * MaxKeySize + AesVerifierSize];
  Pbkdf2Sha1((const uint8_t*)password, passwordLength, header, saltSize, AesIterations, keys,
             2 * keySize + AesVerifierSize);
  if (keys[2 * keySize] != header[saltSize] || keys[2 * keySize + 1] != header[saltSize + 1])
    return false;
  AesForgetKeys();
  auto& cipher = Held(Cipher);
  cipher.Key = StartAes(keys, keySize);
  HmacStart(cipher.Mac, keys + keySize, keySize);
  ClearSecret(keys, sizeof keys);
  KeyStreamUsed = sizeof cipher.KeyStream;
  return true;
}

void AesDecryptBuffer(uint8_t* buffer, uint32_t length) {
  auto& cipher = Held(Cipher);
  Sha1Add(cipher.Mac.inner, buffer, length);   // the code covers the encrypted bytes
  uint32_t used = KeyStreamUsed;
  for (uint32_t i = 0; i < length; i++) {
    if (used == sizeof cipher.KeyStream) {
      for (uint8_t* block = cipher.KeyStream; block < cipher.KeyStream + sizeof cipher.KeyStream;
           block += AesBlockSize) {
        for (uint32_t b = 0; b < AesBlockSize && ++cipher.Counter[b] == 0; b++) {}
        for (uint32_t b = 0; b < AesBlockSize; b++) block[b] = cipher.Counter[b];
      }
      EncryptAesBlocks(cipher.Key, cipher.KeyStream, KeyStreamBlocks);
      used = 0;
    }
    buffer[i] ^= cipher.KeyStream[used++];
  }
  KeyStreamUsed = used;
}

bool AesCodeMatches(const uint8_t* storedCode) {
  uint8_t code[Sha1Size];
  HmacFinish(Cipher.Mac, code);
  uint8_t difference = 0;
  for (uint32_t i = 0; i < AesCodeSize; i++) difference |= (uint8_t)(code[i] ^ storedCode[i]);
  return difference == 0;
}

void AesForgetKeys() {
  auto& cipher = Held(Cipher);
  if (cipher.Key) EndAes(cipher.Key);
  ClearSecret(&cipher, sizeof cipher);
}

void DecryptEntryData(uint8_t* buffer, uint32_t length) {
  if (Held(State).AesActive) AesDecryptBuffer(buffer, length);
  else DecryptBuffer(buffer, length);
}
