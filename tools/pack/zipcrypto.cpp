#include "tools/pack/zipcrypto.h"

#include "tools/os/os.h"

namespace pack {

// The reflected CRC-32 step (polynomial 0xEDB88320) without inversion, as the
// key schedule uses it.
static uint32_t CrcByte(uint32_t crc, uint8_t byte) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; n++) {
      uint32_t c = n;
      for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

ZipCipher::ZipCipher(const std::string& password)
    : key0_(0x12345678u), key1_(0x23456789u), key2_(0x34567890u) {
  for (unsigned char c : password) Update(c);
}

uint8_t ZipCipher::KeyByte() const {
  uint32_t temp = (key2_ | 2) & 0xFFFF;
  return (uint8_t)((temp * (temp ^ 1)) >> 8);
}

void ZipCipher::Update(uint8_t plain) {
  key0_ = CrcByte(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = CrcByte(key2_, (uint8_t)(key1_ >> 24));
}

void ZipCipher::Encrypt(uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; i++) {
    uint8_t plain = data[i];
    data[i] = plain ^ KeyByte();
    Update(plain);
  }
}

void ZipCipher::Decrypt(uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; i++) {
    data[i] ^= KeyByte();
    Update(data[i]);
  }
}

std::string EncryptionHeader(ZipCipher& cipher, uint32_t crc, const uint8_t* random) {
  uint8_t header[12];
  for (int i = 0; i < 11; i++) header[i] = random[i];
  header[11] = (uint8_t)(crc >> 24);
  cipher.Encrypt(header, 12);
  return std::string((const char*)header, 12);
}

bool SecureRandom(uint8_t* out, size_t size) { return os::RandomBytes(out, size); }

}  // namespace pack
