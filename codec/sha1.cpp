#include "codec/sha1.h"

namespace {

uint32_t Rotl(uint32_t x, int n) { return x << n | x >> (32 - n); }

void Compress(uint32_t* h, const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; i++)
    w[i] = (uint32_t)block[4 * i] << 24 | (uint32_t)block[4 * i + 1] << 16 |
           (uint32_t)block[4 * i + 2] << 8 | block[4 * i + 3];
  for (int i = 16; i < 80; i++) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  // v holds a, b, c, d, e; each round shifts them along by one.
  uint32_t v[5];
  for (int i = 0; i < 5; i++) v[i] = h[i];
  for (int i = 0; i < 80; i++) {
    uint32_t b = v[1], c = v[2], d = v[3], f;
    if (i < 20) f = ((b & c) | (~b & d)) + 0x5A827999;
    else if (i < 40) f = (b ^ c ^ d) + 0x6ED9EBA1;
    else if (i < 60) f = ((b & c) | (b & d) | (c & d)) + 0x8F1BBCDC;
    else f = (b ^ c ^ d) + 0xCA62C1D6;
    uint32_t t = Rotl(v[0], 5) + f + v[4] + w[i];
    v[4] = d;
    v[3] = c;
    v[2] = Rotl(b, 30);
    v[1] = v[0];
    v[0] = t;
  }
  for (int i = 0; i < 5; i++) h[i] += v[i];
}

const uint8_t InnerPad = 0x36, OuterPad = 0x5C;

void StartPadded(Sha1& sha, const uint8_t* key, uint32_t keyLength, uint8_t pad) {
  uint8_t block[Sha1BlockSize];
  for (uint32_t i = 0; i < Sha1BlockSize; i++) block[i] = (uint8_t)((i < keyLength ? key[i] : 0) ^ pad);
  Sha1Start(sha);
  Sha1Add(sha, block, Sha1BlockSize);
}

}  // namespace

void Sha1Start(Sha1& sha) {
  sha.h[0] = 0x67452301;
  sha.h[1] = 0xEFCDAB89;
  sha.h[2] = 0x98BADCFE;
  sha.h[3] = 0x10325476;
  sha.h[4] = 0xC3D2E1F0;
  sha.count = 0;
}

void Sha1Add(Sha1& sha, const uint8_t* data, uint32_t length) {
  for (uint32_t i = 0; i < length;) {
    uint32_t used = sha.count % Sha1BlockSize;
    // Whole blocks of the caller's data are hashed where they lie.
    if (used == 0 && length - i >= Sha1BlockSize) {
      Compress(sha.h, data + i);
      i += Sha1BlockSize;
      sha.count += Sha1BlockSize;
      continue;
    }
    sha.block[used] = data[i++];
    sha.count++;
    if (used == Sha1BlockSize - 1) Compress(sha.h, sha.block);
  }
}

void Sha1Finish(Sha1& sha, uint8_t* digest) {
  // A 1 bit, zeros up to the last 8 bytes of a block, then the length in
  // bits, big-endian in 64 bits (at most 35 of them are used).
  uint32_t count = sha.count;
  uint8_t pad = 0x80;
  do {
    Sha1Add(sha, &pad, 1);
    pad = 0;
  } while (sha.count % Sha1BlockSize != Sha1BlockSize - 8);
  for (int i = 0; i < 4; i++) {
    sha.block[56 + i] = 0;
    sha.block[60 + i] = (uint8_t)(count << 3 >> (24 - 8 * i));
  }
  sha.block[59] = (uint8_t)(count >> 29);
  Compress(sha.h, sha.block);
  for (uint32_t i = 0; i < Sha1Size; i++) digest[i] = (uint8_t)(sha.h[i / 4] >> (24 - 8 * (i % 4)));
}

void HmacStart(Hmac& mac, const uint8_t* key, uint32_t keyLength) {
  uint8_t hashed[Sha1Size];
  if (keyLength > Sha1BlockSize) {
    Sha1Start(mac.inner);
    Sha1Add(mac.inner, key, keyLength);
    Sha1Finish(mac.inner, hashed);
    key = hashed;
    keyLength = Sha1Size;
  }
  StartPadded(mac.inner, key, keyLength, InnerPad);
  StartPadded(mac.outer, key, keyLength, OuterPad);
}

void HmacFinish(Hmac& mac, uint8_t* code) {
  uint8_t inner[Sha1Size];
  Sha1Finish(mac.inner, inner);
  Sha1Add(mac.outer, inner, Sha1Size);
  Sha1Finish(mac.outer, code);
}

void Pbkdf2Sha1(const uint8_t* password, uint32_t passwordLength, const uint8_t* salt,
                uint32_t saltLength, uint32_t iterations, uint8_t* out, uint32_t outLength) {
  // The keyed states are made once; each iteration then costs two compressions.
  Hmac keyed;
  HmacStart(keyed, password, passwordLength);
  for (uint8_t index = 1; outLength > 0; index++) {
    uint8_t blockIndex[4] = {0, 0, 0, index};
    uint8_t u[Sha1Size], sum[Sha1Size] = {};
    // The first round hashes salt and block index, every later one the
    // previous round's code.
    for (uint32_t round = 0; round < iterations; round++) {
      Hmac mac = keyed;
      if (round == 0) {
        Sha1Add(mac.inner, salt, saltLength);
        Sha1Add(mac.inner, blockIndex, 4);
      } else {
        Sha1Add(mac.inner, u, Sha1Size);
      }
      HmacFinish(mac, u);
      for (uint32_t i = 0; i < Sha1Size; i++) sum[i] ^= u[i];
    }
    for (uint32_t i = 0; i < Sha1Size && outLength > 0; i++, outLength--) *out++ = sum[i];
  }
}
