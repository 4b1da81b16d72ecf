#pragma once
// Huffman decoding tables: a root table indexed by the next bits of the
// stream, whose entries give a symbol or point to a narrower sub-table for the
// rest of a longer code. Plus the constant tables of the deflate format.
#include <stdint.h>

struct DecodeEntry {
  uint8_t Op;          // see the Op values below
  uint8_t Bits;        // bits to drop when this entry is taken
  uint16_t Value;      // symbol, base length/distance, or code-length symbol
  DecodeEntry* Next;   // sub-table of a link; chain link in a table's header
};

// Op values: 0..13 length/distance with that many extra bits; 15 end of block;
// 16 literal (and every code-length symbol); 17..32 link to a sub-table of
// width Op - 16; 99 invalid code.
enum : uint8_t { OpEndOfBlock = 15, OpLiteral = 16, OpInvalid = 99 };

// Head of the list of tables allocated for one code (through the headers).
typedef DecodeEntry* TableChain;

// Length symbols 257..285, then 286 and 287, which are invalid (extra 99).
extern uint16_t LengthBase[31];
extern uint8_t LengthExtra[31];
// Distance symbols 0..29, then two entries for symbols 30 and 31, which a
// stream may give lengths but never use: extra 99 makes them invalid codes.
extern uint16_t DistBase[32];
extern uint8_t DistExtra[32];
// Fills the four tables above; StartCore calls it before any entry is decoded.
void BuildLengthTables();
// The lowest n bits set (n <= 16).
inline uint32_t LowBits(uint32_t n) { return (1u << n) - 1; }
extern const uint8_t CodeLengthOrder[19];

// Results of BuildDecodeTable.
enum : int32_t {
  // Built: a complete code, a code whose longest code is 1 bit, or no code at
  // all (root null, width 0, nothing allocated).
  TableBuilt = 0,
  // Built, but the codes leave bit patterns unassigned; those decode as invalid.
  TableIncomplete = 1,
  // More codes of some length than patterns left for them (or lengths out of
  // range): nothing allocated, root untouched.
  TableOversubscribed = 2
};

// Builds the tables of a code from 'lengths' (n symbols, 0 = unused, at most
// 16). Symbols below s decode to themselves (Op 16, or 15 for 256); the others
// take Op/Value from extra[sym - s]/base[sym - s]. 'width' is the requested
// root width on input and the root's actual width on output. The caller's
// chain must be empty. Returns one of the results above.
int32_t BuildDecodeTable(const uint16_t* lengths, uint32_t n, uint32_t s,
                         const uint16_t* base, const uint8_t* extra,
                         DecodeEntry*& root, TableChain& chain, int32_t& width);

// Frees every table of a chain (may be empty), newest first. Always 0.
int32_t FreeDecodeTables(TableChain chain);
