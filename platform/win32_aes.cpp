// The seam's AES on Win32: the system's cryptographic provider, in advapi32,
// which every Windows program loads (the package's folder cannot supply its
// own). ECB mode: counter mode has the provider encrypt many counter blocks
// in one call.
#include "platform/platform.h"
#include "platform/win32.h"

#include <wincrypt.h>

static HCRYPTPROV Provider;

bool AesAvailable() {
  return Provider || CryptAcquireContextA(&Provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
}

AesHandle StartAes(const uint8_t* key, uint32_t keySize) {
  // A plain key blob: its header, the key's length, the key.
  struct {
    BLOBHEADER header;
    DWORD size;
    BYTE key[32];
  } blob = {{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_AES_128 + (keySize - 16) / 8}, keySize, {}};
  for (uint32_t i = 0; i < keySize; i++) blob.key[i] = key[i];
  HCRYPTKEY handle = 0;
  DWORD mode = CRYPT_MODE_ECB;
  if (CryptImportKey(Provider, (BYTE*)&blob, sizeof blob.header + sizeof blob.size + keySize, 0, 0, &handle))
    CryptSetKeyParam(handle, KP_MODE, (BYTE*)&mode, 0);
  SecureZeroMemory(&blob, sizeof blob);
  return (AesHandle)handle;
}

void EncryptAesBlocks(AesHandle key, uint8_t* blocks, uint32_t count) {
  DWORD size = count * AesBlockSize;
  CryptEncrypt((HCRYPTKEY)key, 0, FALSE, 0, blocks, &size, size);
}

void EndAes(AesHandle key) { CryptDestroyKey((HCRYPTKEY)key); }
