#include "platform/aes.h"

namespace {

// The S-box and one round table, computed on first use instead of being
// stored: 1.25 KB of zero-filled memory cost the program file nothing.
// RoundTable[x] holds the MixColumns column of S(x) as bytes 2S, S, S, 3S.
uint8_t Sbox[256];
uint32_t RoundTable[256];

uint32_t Rotl(uint32_t x, uint32_t n) { return x << n | x >> ((32 - n) & 31); }
uint8_t Rotl8(uint8_t x, int n) { return (uint8_t)(x << n | x >> (8 - n)); }
uint8_t Times2(uint8_t x) { return (uint8_t)(x << 1 ^ (x & 0x80 ? 0x1B : 0)); }

void SetTableEntry(uint8_t x, uint8_t s) {
  Sbox[x] = s;
  uint8_t s2 = Times2(s);
  RoundTable[x] = s2 | (uint32_t)s << 8 | (uint32_t)s << 16 | (uint32_t)(s2 ^ s) << 24;
}

// p runs through every non-zero element as successive powers of 3 while q
// runs through their inverses (powers of 3's inverse); the S-box is the
// affine map of the inverse.
void BuildTables() {
  uint8_t p = 1, q = 1;
  do {
    p ^= Times2(p);
    q ^= (uint8_t)(q << 1);
    q ^= (uint8_t)(q << 2);
    q ^= (uint8_t)(q << 4);
    if (q & 0x80) q ^= 0x09;
    SetTableEntry(p, (uint8_t)(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4) ^ 0x63));
  } while (p != 1);
  SetTableEntry(0, 0x63);
}

uint32_t SubWord(uint32_t w) {
  uint32_t out = 0;
  for (uint32_t shift = 0; shift < 32; shift += 8) out |= (uint32_t)Sbox[(w >> shift) & 0xFF] << shift;
  return out;
}

uint32_t Load32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

}  // namespace

void AesExpandKey(AesKey& key, const uint8_t* bytes, uint32_t keyLength) {
  if (Sbox[0] == 0) BuildTables();   // S(0) is 0x63 once built
  uint32_t nk = keyLength / 4;
  key.rounds = nk + 6;
  uint32_t* w = key.words;
  for (uint32_t i = 0; i < nk; i++) w[i] = Load32(bytes + 4 * i);
  uint8_t rcon = 1;
  for (uint32_t i = nk; i < 4 * (key.rounds + 1); i++) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      t = SubWord(Rotl(t, 24)) ^ rcon;   // RotWord on little-endian columns
      rcon = Times2(rcon);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    w[i] = w[i - nk] ^ t;
  }
}

void AesEncryptBlock(const AesKey& key, const uint8_t* in, uint8_t* out) {
  const uint32_t* k = key.words;
  uint32_t s[4], t[4];
  for (int c = 0; c < 4; c++) s[c] = Load32(in + 4 * c) ^ k[c];
  // Each middle round: SubBytes, ShiftRows (row r comes from column c + r)
  // and MixColumns through the one table, then the round key.
  for (uint32_t round = 1; round < key.rounds; round++) {
    k += 4;
    for (int c = 0; c < 4; c++) {
      uint32_t x = k[c];
      for (int r = 0; r < 4; r++) x ^= Rotl(RoundTable[(s[(c + r) & 3] >> (8 * r)) & 0xFF], 8 * r);
      t[c] = x;
    }
    for (int c = 0; c < 4; c++) s[c] = t[c];
  }
  k += 4;
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 4; r++)
      out[4 * c + r] = (uint8_t)(Sbox[(s[(c + r) & 3] >> (8 * r)) & 0xFF] ^ (k[c] >> (8 * r)));
}
