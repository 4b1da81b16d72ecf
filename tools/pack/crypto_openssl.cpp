// The cryptographic primitives from OpenSSL's libcrypto (Linux).
#include "tools/pack/crypto.h"

#include <limits.h>
#include <openssl/evp.h>

#include <algorithm>

namespace pack {

const char* const CryptoLibrary = "libcrypto";

bool Pbkdf2Sha1(const std::string& password, const uint8_t* salt, size_t saltSize, uint32_t iterations,
                uint8_t* out, size_t size) {
  if (password.size() > INT_MAX || saltSize > INT_MAX || iterations > INT_MAX || size > INT_MAX) return false;
  return PKCS5_PBKDF2_HMAC(password.data(), (int)password.size(), salt, (int)saltSize, (int)iterations,
                           EVP_sha1(), (int)size, out) == 1;
}

struct AesEcb::State {
  EVP_CIPHER_CTX* ctx = nullptr;
  ~State() { EVP_CIPHER_CTX_free(ctx); }
};

AesEcb::AesEcb() : state_(new State) {}
AesEcb::~AesEcb() = default;

bool AesEcb::SetKey(const uint8_t* key, size_t size) {
  const EVP_CIPHER* cipher = size == 16   ? EVP_aes_128_ecb()
                             : size == 24 ? EVP_aes_192_ecb()
                             : size == 32 ? EVP_aes_256_ecb()
                                          : nullptr;
  EVP_CIPHER_CTX_free(state_->ctx);
  state_->ctx = cipher ? EVP_CIPHER_CTX_new() : nullptr;
  if (!state_->ctx || EVP_EncryptInit_ex(state_->ctx, cipher, nullptr, key, nullptr) != 1) return false;
  EVP_CIPHER_CTX_set_padding(state_->ctx, 0);
  return true;
}

bool AesEcb::Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) {
  if (!state_->ctx) return false;
  while (blocks > 0) {
    size_t n = std::min<size_t>(blocks, INT_MAX / 16);
    int got = 0;
    if (EVP_EncryptUpdate(state_->ctx, out, &got, in, (int)(16 * n)) != 1 || (size_t)got != 16 * n) return false;
    in += 16 * n;
    out += 16 * n;
    blocks -= n;
  }
  return true;
}

struct HmacSha1::State {
  EVP_PKEY* key = nullptr;
  EVP_MD_CTX* ctx = nullptr;
  void Clear() {
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    ctx = nullptr;
    key = nullptr;
  }
  ~State() { Clear(); }
};

HmacSha1::HmacSha1() : state_(new State) {}
HmacSha1::~HmacSha1() = default;

bool HmacSha1::Start(const uint8_t* key, size_t size) {
  State& s = *state_;
  s.Clear();
  s.key = EVP_PKEY_new_raw_private_key(EVP_PKEY_HMAC, nullptr, key, size);
  s.ctx = EVP_MD_CTX_new();
  if (s.key && s.ctx && EVP_DigestSignInit(s.ctx, nullptr, EVP_sha1(), nullptr, s.key) == 1) return true;
  s.Clear();
  return false;
}

bool HmacSha1::Update(const uint8_t* data, size_t size) {
  return state_->ctx && EVP_DigestSignUpdate(state_->ctx, data, size) == 1;
}

bool HmacSha1::Final(uint8_t* code) {
  State& s = *state_;
  size_t length = Size;
  bool ok = s.ctx && EVP_DigestSignFinal(s.ctx, code, &length) == 1 && length == Size;
  s.Clear();
  return ok;
}

}  // namespace pack
