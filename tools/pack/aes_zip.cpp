// The format's logic only; the primitives (PBKDF2, AES, HMAC-SHA1) are the
// system's, behind crypto.h.
#include "tools/pack/aes_zip.h"

#include <string.h>

#include <algorithm>

#include "tools/pack/crypto.h"
#include "tools/pack/util.h"
#include "tools/pack/zipcrypto.h"

namespace pack {

namespace {

const size_t VerifierSize = 2, CodeSize = 10, Iterations = 1000;

size_t KeySize(uint8_t strength) { return 8 + 8 * (size_t)strength; }
size_t SaltSize(uint8_t strength) { return 4 + 4 * (size_t)strength; }

struct Keys {
  std::string aes, mac, verifier;
};

bool DeriveKeys(const std::string& password, uint8_t strength, const unsigned char* salt, Keys& keys) {
  size_t keySize = KeySize(strength);
  std::string out(2 * keySize + VerifierSize, '\0');
  if (!Pbkdf2Sha1(password, salt, SaltSize(strength), Iterations, (uint8_t*)&out[0], out.size())) return false;
  keys.aes = out.substr(0, keySize);
  keys.mac = out.substr(keySize, keySize);
  keys.verifier = out.substr(2 * keySize);
  return true;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Counter mode with the format's little-endian counter: the key stream is the
// ECB encryption of the counter blocks 1, 2, 3, ..., made a batch at a time
// and carried over between calls, so the data may come in pieces of any size.
class CounterMode {
 public:
  explicit CounterMode(const std::string& key) { ok_ = ecb_.SetKey(Bytes(key), key.size()); }

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
    ok_ = ecb_.Encrypt(Bytes(blocks_), (uint8_t*)&stream_[0], blockCount);
    used_ = 0;
    return ok_;
  }

  AesEcb ecb_;
  bool ok_;
  unsigned char counter_[16] = {0};
  std::string blocks_, stream_;
  size_t used_ = 0;
};

bool Code(const std::string& key, const uint8_t* data, size_t size, uint8_t* code) {
  HmacSha1 mac;
  uint8_t full[HmacSha1::Size];
  if (!mac.Start(Bytes(key), key.size()) || !mac.Update(data, size) || !mac.Final(full)) return false;
  memcpy(code, full, CodeSize);
  return true;
}

// "AES encryption failed in libcrypto" and so on.
std::string Failed(const char* what) { return std::string(what) + " failed in " + CryptoLibrary; }

}  // namespace

bool ParseAesExtra(const std::string& extra, AesInfo& info) {
  uint32_t size = 0;
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
  if (!DeriveKeys(password, strength, stored, keys) || !CounterMode(keys.aes).Apply(data, size) ||
      !Code(keys.mac, data, size, data + size)) {
    error = Failed("AES encryption");
    return false;
  }
  memcpy(stored + saltSize, keys.verifier.data(), VerifierSize);
  return true;
}

struct AesOpener::State {
  Keys keys;
  std::unique_ptr<CounterMode> cipher;
  HmacSha1 mac;
  bool macOk = false;   // false once a step of the code failed
};

AesOpener::AesOpener() : state_(new State) {}
AesOpener::~AesOpener() = default;

bool AesOpener::Start(const std::string& password, uint8_t strength, const uint8_t* header, std::string& error) {
  State& s = *state_;
  if (!DeriveKeys(password, strength, header, s.keys)) {
    error = Failed("AES key derivation");
    return false;
  }
  if (memcmp(header + SaltSize(strength), s.keys.verifier.data(), VerifierSize) != 0) {
    error = "the password does not open it";
    return false;
  }
  s.cipher.reset(new CounterMode(s.keys.aes));
  s.macOk = s.mac.Start(Bytes(s.keys.mac), s.keys.mac.size());
  if (!s.macOk) {
    error = Failed("AES decryption");
    return false;
  }
  return true;
}

// A failure here shows as a code that does not match.
void AesOpener::Authenticate(const uint8_t* data, size_t size) {
  state_->macOk = state_->macOk && state_->mac.Update(data, size);
}

bool AesOpener::CodeMatches(const uint8_t* code) {
  uint8_t full[HmacSha1::Size];
  return state_->macOk && state_->mac.Final(full) && memcmp(full, code, CodeSize) == 0;
}

bool AesOpener::Decrypt(uint8_t* data, size_t size) { return state_->cipher->Apply(data, size); }

}  // namespace pack
