#include "tools/pack/aes_zip.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <string.h>

#include "tools/pack/util.h"
#include "tools/pack/zipcrypto.h"

namespace pack {

namespace {

const size_t VerifierSize = 2, CodeSize = 10, Iterations = 1000;

size_t KeySize(uint8_t strength) { return 8 + 8 * (size_t)strength; }
size_t SaltSize(uint8_t strength) { return 4 + 4 * (size_t)strength; }

const EVP_CIPHER* EcbCipher(uint8_t strength) {
  return strength == 1 ? EVP_aes_128_ecb() : strength == 2 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
}

struct Keys {
  std::string aes, mac, verifier;
};

bool DeriveKeys(const std::string& password, uint8_t strength, const unsigned char* salt, Keys& keys) {
  size_t keySize = KeySize(strength);
  std::string out(2 * keySize + VerifierSize, '\0');
  if (PKCS5_PBKDF2_HMAC(password.data(), (int)password.size(), salt, (int)SaltSize(strength),
                        (int)Iterations, EVP_sha1(), (int)out.size(), (unsigned char*)&out[0]) != 1)
    return false;
  keys.aes = out.substr(0, keySize);
  keys.mac = out.substr(keySize, keySize);
  keys.verifier = out.substr(2 * keySize);
  return true;
}

// Counter mode with the format's little-endian counter: the key stream is the
// ECB encryption of the counter blocks 1, 2, 3, ...
bool ApplyCounterMode(const std::string& key, uint8_t strength, unsigned char* data, size_t size) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  bool ok = ctx && EVP_EncryptInit_ex(ctx, EcbCipher(strength), nullptr, (const unsigned char*)key.data(),
                                      nullptr) == 1;
  if (ok) EVP_CIPHER_CTX_set_padding(ctx, 0);
  unsigned char counter[16] = {0};
  std::string blocks, stream;
  const size_t chunk = 1 << 16;
  for (size_t at = 0; ok && at < size; at += chunk) {
    size_t n = size - at < chunk ? size - at : chunk;
    size_t blockCount = (n + 15) / 16;
    blocks.resize(blockCount * 16);
    stream.resize(blocks.size());
    for (size_t b = 0; b < blockCount; b++) {
      for (int i = 0; i < 16 && ++counter[i] == 0; i++) {}
      memcpy(&blocks[16 * b], counter, 16);
    }
    int got = 0;
    ok = EVP_EncryptUpdate(ctx, (unsigned char*)&stream[0], &got, (const unsigned char*)blocks.data(),
                           (int)blocks.size()) == 1 &&
         (size_t)got == blocks.size();
    for (size_t i = 0; ok && i < n; i++) data[at + i] ^= (unsigned char)stream[i];
  }
  EVP_CIPHER_CTX_free(ctx);
  return ok;
}

std::string Code(const std::string& key, const unsigned char* data, size_t size) {
  unsigned char code[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), (int)key.size(), data, size, code, &length);
  return std::string((const char*)code, CodeSize);
}

}  // namespace

bool ParseAesExtra(const std::string& extra, AesInfo& info) {
  uint16_t size = 0;
  const uint8_t* data = FindExtraField(reinterpret_cast<const uint8_t*>(extra.data()),
                                       (uint32_t)extra.size(), ExtraAes, &size);
  if (data == nullptr || size < 7) return false;
  uint16_t version = GetLe16(data);
  uint8_t strength = data[4];
  if ((version != 1 && version != 2) || data[2] != 'A' || data[3] != 'E' || strength < 1 ||
      strength > 3)
    return false;
  info.version = version;
  info.strength = strength;
  info.method = GetLe16(data + 5);
  return true;
}

std::string AesExtraField(const AesInfo& info) {
  std::string field;
  PutLe16(field, ExtraAes);
  PutLe16(field, 7);
  PutLe16(field, info.version);
  field += "AE";
  field += (char)info.strength;
  PutLe16(field, info.method);
  return field;
}

std::string AesName(uint8_t strength) { return "AES-" + std::to_string(64 + 64 * strength); }

uint16_t AesVersionFor(uint64_t size) { return size < 20 ? 2 : 1; }

bool AesSeal(const std::string& password, uint8_t strength, std::string& data, std::string& error) {
  std::string salt(SaltSize(strength), '\0');
  if (!SecureRandom((uint8_t*)&salt[0], salt.size())) {
    error = "the system's random source failed";
    return false;
  }
  Keys keys;
  if (!DeriveKeys(password, strength, (const unsigned char*)salt.data(), keys) ||
      !ApplyCounterMode(keys.aes, strength, (unsigned char*)&data[0], data.size())) {
    error = "AES encryption failed in libcrypto";
    return false;
  }
  data = salt + keys.verifier + data + Code(keys.mac, (const unsigned char*)data.data(), data.size());
  return true;
}

bool AesOpen(const std::string& password, uint8_t strength, const std::string& stored, std::string& data,
             std::string& error) {
  size_t saltSize = SaltSize(strength);
  if (stored.size() < saltSize + VerifierSize + CodeSize) {
    error = "its AES data is too short";
    return false;
  }
  Keys keys;
  if (!DeriveKeys(password, strength, (const unsigned char*)stored.data(), keys)) {
    error = "AES key derivation failed in libcrypto";
    return false;
  }
  if (stored.compare(saltSize, VerifierSize, keys.verifier) != 0) {
    error = "the password does not open it";
    return false;
  }
  data = stored.substr(saltSize + VerifierSize, stored.size() - saltSize - VerifierSize - CodeSize);
  if (Code(keys.mac, (const unsigned char*)data.data(), data.size()) != stored.substr(stored.size() - CodeSize)) {
    error = "its authentication code does not match (damaged, or not the right password)";
    return false;
  }
  if (!ApplyCounterMode(keys.aes, strength, (unsigned char*)&data[0], data.size())) {
    error = "AES decryption failed in libcrypto";
    return false;
  }
  return true;
}

}  // namespace pack
