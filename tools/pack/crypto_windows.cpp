// The cryptographic primitives from Windows' CNG (bcrypt.dll). Each object
// opens its own algorithm provider, so objects on different threads share
// nothing.
#include "tools/pack/crypto.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>

namespace pack {

const char* const CryptoLibrary = "bcrypt.dll";

namespace {

// An open algorithm provider, closed when it goes.
class Algorithm {
 public:
  Algorithm(const wchar_t* id, ULONG flags) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, id, nullptr, flags))) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// The largest piece one call takes (its sizes are ULONG), a whole number of AES blocks.
const size_t MaxPiece = 1u << 30;

}  // namespace

bool Pbkdf2Sha1(const std::string& password, const uint8_t* salt, size_t saltSize, uint32_t iterations,
                uint8_t* out, size_t size) {
  if (password.size() > MaxPiece || saltSize > MaxPiece || size > MaxPiece) return false;
  Algorithm hmac(BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  return hmac.Get() &&
         BCRYPT_SUCCESS(BCryptDeriveKeyPBKDF2(hmac.Get(), (PUCHAR)password.data(), (ULONG)password.size(),
                                              (PUCHAR)salt, (ULONG)saltSize, iterations, out, (ULONG)size, 0));
}

struct AesEcb::State {
  Algorithm aes{BCRYPT_AES_ALGORITHM, 0};
  bool ecb = aes.Get() && BCRYPT_SUCCESS(BCryptSetProperty(aes.Get(), BCRYPT_CHAINING_MODE,
                                                           (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                                                           sizeof BCRYPT_CHAIN_MODE_ECB, 0));
  BCRYPT_KEY_HANDLE key = nullptr;
  void DropKey() {
    if (key) BCryptDestroyKey(key);
    key = nullptr;
  }
  ~State() { DropKey(); }
};

AesEcb::AesEcb() : state_(new State) {}
AesEcb::~AesEcb() = default;

bool AesEcb::SetKey(const uint8_t* key, size_t size) {
  State& s = *state_;
  s.DropKey();
  if (!s.ecb || (size != 16 && size != 24 && size != 32)) return false;
  if (BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(s.aes.Get(), &s.key, nullptr, 0, (PUCHAR)key, (ULONG)size, 0)))
    return true;
  s.key = nullptr;
  return false;
}

bool AesEcb::Encrypt(const uint8_t* in, uint8_t* out, size_t blocks) {
  BCRYPT_KEY_HANDLE key = state_->key;
  if (!key) return false;
  size_t size = 16 * blocks;
  while (size > 0) {
    ULONG n = (ULONG)std::min(size, MaxPiece), got = 0;
    if (!BCRYPT_SUCCESS(BCryptEncrypt(key, (PUCHAR)in, n, nullptr, nullptr, 0, out, n, &got, 0)) || got != n)
      return false;
    in += n;
    out += n;
    size -= n;
  }
  return true;
}

struct HmacSha1::State {
  Algorithm hmac{BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG};
  BCRYPT_HASH_HANDLE hash = nullptr;
  void DropHash() {
    if (hash) BCryptDestroyHash(hash);
    hash = nullptr;
  }
  ~State() { DropHash(); }
};

HmacSha1::HmacSha1() : state_(new State) {}
HmacSha1::~HmacSha1() = default;

bool HmacSha1::Start(const uint8_t* key, size_t size) {
  State& s = *state_;
  s.DropHash();
  if (!s.hmac.Get() || size > MaxPiece) return false;
  if (BCRYPT_SUCCESS(BCryptCreateHash(s.hmac.Get(), &s.hash, nullptr, 0, (PUCHAR)key, (ULONG)size, 0)))
    return true;
  s.hash = nullptr;
  return false;
}

bool HmacSha1::Update(const uint8_t* data, size_t size) {
  BCRYPT_HASH_HANDLE hash = state_->hash;
  if (!hash) return false;
  while (size > 0) {
    ULONG n = (ULONG)std::min(size, MaxPiece);
    if (!BCRYPT_SUCCESS(BCryptHashData(hash, (PUCHAR)data, n, 0))) return false;
    data += n;
    size -= n;
  }
  return true;
}

bool HmacSha1::Final(uint8_t* code) {
  State& s = *state_;
  bool ok = s.hash && BCRYPT_SUCCESS(BCryptFinishHash(s.hash, code, (ULONG)Size, 0));
  s.DropHash();
  return ok;
}

}  // namespace pack
