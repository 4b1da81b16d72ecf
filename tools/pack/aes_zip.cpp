#include "tools/pack/aes_zip.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <string.h>

#include <algorithm>

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
// ECB encryption of the counter blocks 1, 2, 3, ..., made a batch at a time
// and carried over between calls, so the data may come in pieces of any size.
class CounterMode {
 public:
  CounterMode(const std::string& key, uint8_t strength) : ctx_(EVP_CIPHER_CTX_new()) {
    ok_ = ctx_ && EVP_EncryptInit_ex(ctx_, EcbCipher(strength), nullptr, (const unsigned char*)key.data(),
                                     nullptr) == 1;
    if (ok_) EVP_CIPHER_CTX_set_padding(ctx_, 0);
  }
  ~CounterMode() { EVP_CIPHER_CTX_free(ctx_); }
  CounterMode(const CounterMode&) = delete;
  CounterMode& operator=(const CounterMode&) = delete;

  bool Apply(uint8_t* data, size_t size) {
    while (ok_ && size > 0) {
      if (used_ == stream_.size() && !Refill(size)) break;
      size_t n = std::min(size, stream_.size() - used_);
      for (size_t i = 0; i < n; i++) data[i] ^= (uint8_t)stream_[used_ + i];
      used_ += n;
      data += n;
      size -= n;
    }
    return ok_;
  }

 private:
  bool Refill(size_t wanted) {
    size_t blockCount = std::min<size_t>((wanted + 15) / 16, 4096);
    blocks_.resize(blockCount * 16);
    stream_.resize(blocks_.size());
    for (size_t b = 0; b < blockCount; b++) {
      for (int i = 0; i < 16 && ++counter_[i] == 0; i++) {}
      memcpy(&blocks_[16 * b], counter_, 16);
    }
    int got = 0;
    ok_ = EVP_EncryptUpdate(ctx_, (unsigned char*)&stream_[0], &got, (const unsigned char*)blocks_.data(),
                            (int)blocks_.size()) == 1 &&
          (size_t)got == blocks_.size();
    used_ = 0;
    return ok_;
  }

  EVP_CIPHER_CTX* ctx_;
  bool ok_;
  unsigned char counter_[16] = {0};
  std::string blocks_, stream_;
  size_t used_ = 0;
};

std::string Code(const std::string& key, const uint8_t* data, size_t size) {
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

size_t AesHeaderSize(uint8_t strength) { return SaltSize(strength) + VerifierSize; }

bool AesSeal(const std::string& password, uint8_t strength, uint8_t* stored, size_t size, std::string& error) {
  size_t saltSize = SaltSize(strength);
  if (!SecureRandom(stored, saltSize)) {
    error = "the system's random source failed";
    return false;
  }
  Keys keys;
  uint8_t* data = stored + AesHeaderSize(strength);
  if (!DeriveKeys(password, strength, stored, keys) || !CounterMode(keys.aes, strength).Apply(data, size)) {
    error = "AES encryption failed in libcrypto";
    return false;
  }
  memcpy(stored + saltSize, keys.verifier.data(), VerifierSize);
  std::string code = Code(keys.mac, data, size);
  memcpy(data + size, code.data(), CodeSize);
  return true;
}

struct AesOpener::State {
  Keys keys;
  std::unique_ptr<CounterMode> cipher;
  EVP_PKEY* macKey = nullptr;
  EVP_MD_CTX* mac = nullptr;
  ~State() {
    EVP_MD_CTX_free(mac);
    EVP_PKEY_free(macKey);
  }
};

AesOpener::AesOpener() : state_(new State) {}
AesOpener::~AesOpener() = default;

bool AesOpener::Start(const std::string& password, uint8_t strength, const uint8_t* header, std::string& error) {
  State& s = *state_;
  if (!DeriveKeys(password, strength, header, s.keys)) {
    error = "AES key derivation failed in libcrypto";
    return false;
  }
  if (memcmp(header + SaltSize(strength), s.keys.verifier.data(), VerifierSize) != 0) {
    error = "the password does not open it";
    return false;
  }
  s.cipher.reset(new CounterMode(s.keys.aes, strength));
  s.macKey = EVP_PKEY_new_raw_private_key(EVP_PKEY_HMAC, nullptr, (const unsigned char*)s.keys.mac.data(),
                                          s.keys.mac.size());
  s.mac = EVP_MD_CTX_new();
  if (!s.macKey || !s.mac || EVP_DigestSignInit(s.mac, nullptr, EVP_sha1(), nullptr, s.macKey) != 1) {
    error = "AES decryption failed in libcrypto";
    return false;
  }
  return true;
}

// A failure here shows as a code that does not match.
void AesOpener::Authenticate(const uint8_t* data, size_t size) { EVP_DigestSignUpdate(state_->mac, data, size); }

bool AesOpener::CodeMatches(const uint8_t* code) {
  unsigned char full[EVP_MAX_MD_SIZE];
  size_t length = sizeof full;
  return EVP_DigestSignFinal(state_->mac, full, &length) == 1 && length >= CodeSize &&
         memcmp(full, code, CodeSize) == 0;
}

bool AesOpener::Decrypt(uint8_t* data, size_t size) { return state_->cipher->Apply(data, size); }

}  // namespace pack
