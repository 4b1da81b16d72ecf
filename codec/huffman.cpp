#include "codec/huffman.h"

#include "platform/platform.h"

uint16_t LengthBase[31];
uint8_t LengthExtra[31];
uint16_t DistBase[32];
uint8_t DistExtra[32];

namespace {

// The symbols of one code: extra bits grow by one every 2^groupShift symbols
// (none for the first two groups), each base just past the previous symbol's
// range, and the two symbols after them are invalid. Both codes follow one
// rule: lengths (groups of four) are 29 symbols from 3, distances (groups of
// two) 30 from 1. Cold: it runs once, compiled for size.
__attribute__((noinline, cold)) void FillCodeRange(uint16_t* base, uint8_t* extra,
                                                   uint32_t groupShift) {
  uint32_t first = 2 * groupShift - 1;
  uint8_t* end = extra + 31 - groupShift;
  for (uint32_t i = 0; extra != end; i++) {
    uint32_t group = i >> groupShift;
    uint32_t bits = group - (group != 0);
    *base++ = (uint16_t)first;
    *extra++ = (uint8_t)bits;
    first += 1u << bits;
  }
  extra[0] = extra[1] = OpInvalid;
}

}  // namespace

// Computed, not stored: the loop takes fewer bytes of the stub than the tables.
void BuildLengthTables() {
  FillCodeRange(LengthBase, LengthExtra, 2);
  FillCodeRange(DistBase, DistExtra, 1);
  // Symbol 285 is length 258 with no extra bits, not the next range.
  LengthBase[28] = 258;
  LengthExtra[28] = 0;
}

const uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

static const int MaxBits = 16;
static const int MaxSymbols = 288;

int32_t BuildDecodeTable(const uint16_t* lengths, uint32_t n, uint32_t s,
                         const uint16_t* base, const uint8_t* extra,
                         DecodeEntry*& root, TableChain& chain, int32_t& width) {
  if (n == 0 || n > MaxSymbols) return TableOversubscribed;
  // The end-of-block code is made to end at a table boundary.
  uint32_t endLength = n > 256 ? lengths[256] : 16;

  uint32_t count[MaxBits + 1] = {0};
  for (uint32_t i = 0; i < n; i++) {
    if (lengths[i] > MaxBits) return TableOversubscribed;
    count[lengths[i]]++;
  }
  if (count[0] == n) {
    root = nullptr;
    width = 0;
    return TableBuilt;
  }
  uint32_t used = n - count[0];

  int kmin = 1;
  while (count[kmin] == 0) kmin++;
  int gmax = MaxBits;
  while (count[gmax] == 0) gmax--;
  int m = width;
  if (m < kmin) m = kmin;
  if (m > gmax) m = gmax;

  // Over-subscription test; the spare patterns of an incomplete code become
  // extra codes of the longest length, which decode as invalid.
  int32_t spare = 1 << kmin;
  for (int k = kmin; k < gmax; k++) {
    spare -= (int32_t)count[k];
    if (spare < 0) return TableOversubscribed;
    spare <<= 1;
  }
  spare -= (int32_t)count[gmax];
  if (spare < 0) return TableOversubscribed;
  count[gmax] += (uint32_t)spare;

  // Symbols sorted by code length, then by symbol.
  // The unused symbols go after the used ones, where nothing reads them.
  uint32_t offset[MaxBits + 2];
  offset[0] = used;
  offset[1] = 0;
  for (int k = 1; k < gmax; k++) offset[k + 1] = offset[k] + count[k];
  uint16_t sorted[MaxSymbols];
  for (uint32_t i = 0; i < n; i++) sorted[offset[lengths[i]]++] = (uint16_t)i;

  // Table levels: level[h + 1] is the table at depth h, levelWidth[h + 1] its
  // width (levelWidth[0] = 0 stands for depth -1), levelCode[h + 1] the code
  // pattern at which the table was entered.
  DecodeEntry* level[MaxBits + 1];
  int levelWidth[MaxBits + 1];
  uint32_t levelCode[MaxBits + 1];
  levelWidth[0] = 0;
  levelCode[1] = 0;
  int h = 0;          // depth + 1
  int w = 0;          // bits resolved by the tables above the current one
  uint32_t code = 0;  // bit-reversed: its first bit is bit 0
  uint32_t p = 0;

  for (int k = kmin; k <= gmax; k++) {
    uint32_t a = count[k];
    while (a-- != 0) {
      while (k > w + levelWidth[h]) {
        w += levelWidth[h];
        h++;
        int z = gmax - w;
        if (z > m) z = m;
        int j = k - w;
        uint32_t f = 1u << j;
        if (f > a + 1) {
          // Too few codes of length k to fill a k - w bit table: widen it
          // while the longer codes still leave patterns unused.
          f -= a + 1;
          int next = k;
          j++;
          while (j < z) {
            f <<= 1;
            next++;
            if (f <= count[next]) break;
            f -= count[next];
            j++;
          }
        }
        if (w + j > (int)endLength && w < (int)endLength) j = (int)endLength - w;

        uint32_t size = 1u << j;
        DecodeEntry* block = (DecodeEntry*)Allocate((size + 1) * sizeof(DecodeEntry));
        block[0].Op = OpInvalid;
        block[0].Bits = 0;
        block[0].Value = 0;
        block[0].Next = chain;
        chain = block;
        // No slot needs filling here: the spare patterns were made codes
        // above, so the code is complete and the loop writes every slot.
        DecodeEntry* table = block + 1;
        level[h] = table;
        levelWidth[h] = j;
        if (h == 1) {
          root = table;
        } else {
          levelCode[h] = code;
          DecodeEntry link;
          link.Op = (uint8_t)(OpLiteral + j);
          link.Bits = (uint8_t)levelWidth[h - 1];
          link.Value = 0;
          link.Next = table;
          level[h - 1][(code & ((1u << w) - 1)) >> (w - levelWidth[h - 1])] = link;
        }
      }

      DecodeEntry entry;
      entry.Bits = (uint8_t)(k - w);
      entry.Value = 0;
      entry.Next = nullptr;
      if (p >= used) {
        entry.Op = OpInvalid;
      } else {
        uint32_t symbol = sorted[p++];
        if (symbol < s) {
          entry.Op = symbol < 256 ? OpLiteral : OpEndOfBlock;
          entry.Value = (uint16_t)symbol;
        } else {
          entry.Op = extra[symbol - s];
          entry.Value = base[symbol - s];
        }
      }
      uint32_t size = 1u << levelWidth[h];
      for (uint32_t i = code >> w; i < size; i += 1u << (k - w)) level[h][i] = entry;

      uint32_t t = 1u << (k - 1);
      while (code & t) {
        code ^= t;
        t >>= 1;
      }
      code |= t;
      while ((code & ((1u << w) - 1)) != levelCode[h]) {
        h--;
        w -= levelWidth[h];
      }
    }
  }
  width = levelWidth[1];
  return (spare != 0 && gmax != 1) ? TableIncomplete : TableBuilt;
}

int32_t FreeDecodeTables(TableChain chain) {
  while (chain != nullptr) {
    DecodeEntry* next = chain->Next;
    Release(chain);
    chain = next;
  }
  return 0;
}
