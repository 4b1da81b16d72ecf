#pragma once
// Huffman decoding tables of 32-bit entries, for the 64-bit word loop: one
// load gives everything a code needs, and a length or distance takes its
// code and its extra bits in one shift. Sub-tables follow the root in the
// same array and are reached by offset.
#include <stdint.h>

// An entry:
//   bits 0..7    bits to drop when it is taken: the code's bits plus, for a
//                length or distance, its extra bits; in a link, the root's width
//   bits 8..11   the code's own bits, so that the extra bits are the dropped
//                bits shifted right by this many; in a link, the sub-table's width
//   bits 12..15  what the entry is (the flags below; none: length or distance)
//   bits 16..31  literal byte, base length or distance, or sub-table offset
typedef uint32_t PackedEntry;

enum : uint32_t {
  PackedEnd = 1u << 12,       // end of block
  PackedLink = 1u << 13,      // sub-table link
  PackedInvalid = 1u << 14,   // a pattern no valid stream uses
  PackedLiteral = 1u << 15,
  PackedSpecial = PackedEnd | PackedLink | PackedInvalid
};

inline uint32_t PackedDrop(PackedEntry e) { return e & 0xFF; }
inline uint32_t PackedCodeBits(PackedEntry e) { return (e >> 8) & 0xF; }
inline uint32_t PackedValue(PackedEntry e) { return e >> 16; }

// Entries the tables of one code can take, root included: the root, and a
// sub-table of at most 15 - root bits for each code longer than the root (an
// incomplete code may leave its sub-tables nearly empty, so no tighter bound
// is assumed). The literal/length root is 10 bits wide (measured: 9 and 11
// are slower, as each block builds its tables), the distance root 8.
const uint32_t MaxPackedCodeBits = 15;
const uint32_t MaxPackedSymbols = 288;
const uint32_t PackedLitRootWidth = 10;
const uint32_t PackedDistRootWidth = 8;
const uint32_t PackedLitEntries = (1u << PackedLitRootWidth) +
                                  MaxPackedSymbols * (1u << (MaxPackedCodeBits - PackedLitRootWidth));
const uint32_t PackedDistEntries =
    (1u << PackedDistRootWidth) + 32 * (1u << (MaxPackedCodeBits - PackedDistRootWidth));

// Builds the tables of a code from 'lengths' (n symbols, at most 288; 0 =
// unused, at most 15) into 'table', which holds 'capacity' entries. Symbols below s
// decode to themselves (literals; 256 is the end of block); the others take
// base[sym - s] and extra[sym - s] extra bits, where 99 extra bits marks a
// symbol no stream may use. 'width' is the requested root width on input and
// the root's width on output: at most the longest code, and 0 when no symbol
// has a code (table[0] is then invalid, so any lookup stops). Returns the
// results of BuildDecodeTable: the same status for the same lengths.
int32_t BuildPackedTable(const uint16_t* lengths, uint32_t n, uint32_t s, const uint16_t* base,
                         const uint8_t* extra, PackedEntry* table, uint32_t capacity,
                         uint32_t& width);
