#include "codec/packed_table.h"

#include <string.h>

#include "codec/huffman.h"

namespace {

// The entry of a symbol whose code takes 'codeBits' bits at this table level.
inline PackedEntry SymbolEntry(uint32_t symbol, uint32_t codeBits, uint32_t s, const uint16_t* base,
                        const uint8_t* extra) {
  if (symbol < s) {
    if (symbol == 256) return PackedEnd | symbol << 16 | codeBits << 8 | codeBits;
    return PackedLiteral | symbol << 16 | codeBits << 8 | codeBits;
  }
  uint32_t extraBits = extra[symbol - s];
  if (extraBits == OpInvalid) return PackedInvalid | codeBits;
  return (uint32_t)base[symbol - s] << 16 | codeBits << 8 | (codeBits + extraBits);
}

// Each byte with its bits in reverse order.
struct ByteReversal {
  uint8_t of[256];
  constexpr ByteReversal() : of() {
    for (uint32_t i = 0; i < 256; i++)
      for (uint32_t b = 0; b < 8; b++) of[i] = (uint8_t)(of[i] | ((i >> b) & 1) << (7 - b));
  }
};
constexpr ByteReversal Reversed;

// A code of k bits (first bit most significant, as counted) as the table
// index it takes: the stream delivers its first bit into bit 0.
inline uint32_t TableIndex(uint32_t code, uint32_t k) {
  return (uint32_t)(Reversed.of[code & 0xFF] << 8 | Reversed.of[code >> 8]) >> (16 - k);
}

}  // namespace

int32_t BuildPackedTable(const uint16_t* lengths, uint32_t n, uint32_t s, const uint16_t* base,
                         const uint8_t* extra, PackedEntry* table, uint32_t capacity,
                         uint32_t& width) {
  if (n == 0 || n > MaxPackedSymbols) return TableOversubscribed;
  uint32_t count[MaxPackedCodeBits + 1] = {0};
  for (uint32_t i = 0; i < n; i++) {
    if (lengths[i] > MaxPackedCodeBits) return TableOversubscribed;
    count[lengths[i]]++;
  }
  if (count[0] == n) {
    width = 0;
    table[0] = PackedInvalid;
    return TableBuilt;
  }
  uint32_t shortest = 1;
  while (count[shortest] == 0) shortest++;
  uint32_t longest = MaxPackedCodeBits;
  while (count[longest] == 0) longest--;

  // Patterns left unassigned after all codes: below zero means
  // over-subscribed, above zero an incomplete code.
  int32_t spare = 1;
  for (uint32_t k = 1; k <= MaxPackedCodeBits; k++) {
    spare = (spare << 1) - (int32_t)count[k];
    if (spare < 0) return TableOversubscribed;
  }
  // Symbols sorted by code length, then by symbol: the canonical order.
  uint32_t offset[MaxPackedCodeBits + 1];
  offset[1] = 0;
  for (uint32_t k = 1; k < MaxPackedCodeBits; k++) offset[k + 1] = offset[k] + count[k];
  uint16_t sorted[MaxPackedSymbols];
  for (uint32_t i = 0; i < n; i++)
    if (lengths[i] != 0) sorted[offset[lengths[i]]++] = (uint16_t)i;

  const uint32_t root = width < longest ? width : longest;
  const uint32_t rootMask = (1u << root) - 1;
  if ((1u << root) > capacity) return TableOversubscribed;
  // The root grows with the code length: a code of k bits takes one entry
  // of a table 2^k wide, and doubling the table (a copy of it after itself)
  // repeats every code placed so far. An incomplete code leaves patterns
  // that no code fills: they start out invalid.
  uint32_t filled = 1u << (shortest < root ? shortest : root);
  if (spare != 0)
    for (uint32_t i = 0; i < filled; i++) table[i] = PackedInvalid;

  // The canonical codes counted up, one length after another; each is
  // reversed on its own, so that no code waits for the previous one's index.
  uint32_t canonical = 0;
  uint32_t p = 0;
  uint32_t k = shortest;
  for (; k <= root; k++, canonical <<= 1) {
    for (; filled < (1u << k); filled *= 2) memcpy(table + filled, table, filled * sizeof *table);
    for (uint32_t a = count[k]; a > 0; a--, canonical++)
      table[TableIndex(canonical, k)] = SymbolEntry(sorted[p++], k, s, base, extra);
  }
  for (; filled <= rootMask; filled *= 2) memcpy(table + filled, table, filled * sizeof *table);

  // Codes longer than the root: one sub-table for each root pattern they
  // start with, placed after the root.
  uint32_t next = 1u << root;   // where the next sub-table goes
  uint32_t subPrefix = ~0u;     // root pattern of the current sub-table
  PackedEntry* sub = nullptr;
  uint32_t subSize = 0;
  for (; k <= longest; k++, canonical <<= 1) {
    for (uint32_t a = count[k]; a > 0; a--, canonical++) {
      const uint32_t code = TableIndex(canonical, k);
      if ((code & rootMask) != subPrefix) {
        // As wide as the codes under this root pattern need: widened while
        // the codes not yet placed leave it unfilled.
        uint32_t j = k - root;
        int32_t left = 1 << j;
        while (root + j < longest) {
          left -= (int32_t)count[root + j];
          if (left <= 0) break;
          j++;
          left <<= 1;
        }
        subSize = 1u << j;
        if (next + subSize > capacity) return TableOversubscribed;
        subPrefix = code & rootMask;
        sub = table + next;
        table[subPrefix] = PackedLink | next << 16 | j << 8 | root;
        next += subSize;
        if (spare != 0)
          for (uint32_t i = 0; i < subSize; i++) sub[i] = PackedInvalid;
      }
      PackedEntry entry = SymbolEntry(sorted[p++], k - root, s, base, extra);
      for (uint32_t i = code >> root; i < subSize; i += 1u << (k - root)) sub[i] = entry;
      count[k]--;   // the widths above count the codes not yet placed
    }
  }
  width = root;
  return (spare != 0 && longest != 1) ? TableIncomplete : TableBuilt;
}
