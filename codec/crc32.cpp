#include "codec/crc32.h"

#include <string.h>

#include "extract/state.h"

// Tables for taking eight bytes per step: SliceTable[k][b] is the CRC of byte
// b followed by k zero bytes. SliceTable[0] equals CrcTable. They are derived
// from CrcTable once, live in zero-initialised storage (no file bytes in the
// stub) and give exactly the same results as the one-byte step.
static uint32_t SliceTable[8][256];

void BuildCrcTable() {
  uint32_t* table = State.CrcTable;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t v = i;
    for (int bit = 0; bit < 8; bit++) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    table[i] = v;
  }
  for (int i = 0; i < 256; i++) SliceTable[0][i] = table[i];
  for (int k = 1; k < 8; k++)
    for (int i = 0; i < 256; i++) {
      uint32_t v = SliceTable[k - 1][i];
      SliceTable[k][i] = table[v & 0xFF] ^ (v >> 8);
    }
}

uint32_t CrcStep(uint8_t b, uint32_t crc) {
  return State.CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

static inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);   // little-endian on every target
  return v;
}

void CrcUpdate(const uint8_t* buffer, int32_t length, uint32_t& crc) {
  if (length <= 0) return;
  uint32_t c = crc;
  const uint8_t* p = buffer;
  const uint8_t* end = buffer + length;
  while (end - p >= 8) {
    uint32_t lo = Load32(p) ^ c;
    uint32_t hi = Load32(p + 4);
    c = SliceTable[7][lo & 0xFF] ^ SliceTable[6][(lo >> 8) & 0xFF] ^
        SliceTable[5][(lo >> 16) & 0xFF] ^ SliceTable[4][lo >> 24] ^
        SliceTable[3][hi & 0xFF] ^ SliceTable[2][(hi >> 8) & 0xFF] ^
        SliceTable[1][(hi >> 16) & 0xFF] ^ SliceTable[0][hi >> 24];
    p += 8;
  }
  while (p < end) c = SliceTable[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  crc = c;
}
