// The host seam's AES: our own code, the same on Linux and Windows.
#include <string.h>

#include "platform/aes.h"
#include "platform/platform.h"

bool AesAvailable() { return true; }

AesHandle StartAes(const uint8_t* key, uint32_t keySize) {
  AesKey* expanded = new AesKey;
  AesExpandKey(*expanded, key, keySize);
  return expanded;
}

void EncryptAesBlocks(AesHandle key, uint8_t* blocks, uint32_t count) {
  for (uint32_t i = 0; i < count; i++)
    AesEncryptBlock(*(AesKey*)key, blocks + AesBlockSize * i, blocks + AesBlockSize * i);
}

void EndAes(AesHandle key) {
  memset(key, 0, sizeof(AesKey));
  delete (AesKey*)key;
}
