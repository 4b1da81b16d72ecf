// Decoding on packed tables (codec/packed_table.h), the decoder of 64-bit
// hosts: a code's entry is one load, and a length or distance drops its code
// and its extra bits in one shift. The bit buffer is a 64-bit word; between
// calls at most 32 bits stay in the entry's bit state, as with the stub's loops.
#include <stdint.h>

#if UINTPTR_MAX > 0xFFFFFFFFu
#include <string.h>

#include "codec/huffman.h"
#include "codec/inflate.h"
#include "codec/inflate_common.h"
#include "codec/entry_io.h"
#include "codec/packed_table.h"

namespace {

// The tables of dynamic blocks, used again by every block, and those of the
// fixed codes (at most 9 and 5 bits long: no sub-tables), built at the first
// fixed block of the run.
PackedEntry PackedLit[PackedLitEntries];
PackedEntry PackedDist[PackedDistEntries];
PackedEntry PackedFixedLit[1u << 9];
PackedEntry PackedFixedDist[1u << 5];
uint32_t PackedFixedLitWidth;   // 0 until the fixed tables are built
uint32_t PackedFixedDistWidth;

inline uint64_t LowBits(uint64_t bits, uint32_t n) { return bits & (((uint64_t)1 << n) - 1); }

// Saves the bit state of a reader that took bytes straight from the input
// buffer (from 'start' to 'in'): whole unused bytes beyond 32 bits go back to
// the buffer, so that the rest fits the entry's bit state. They were all
// loaded by that reader, since it started with at most 32 bits.
void SaveWordBits(InflateState& state, const uint8_t* start, uint8_t* in, uint64_t bits,
                  uint32_t count) {
  if (count > 32) {
    uint32_t back = (count - 32 + 7) >> 3;
    in -= back;
    count -= back * 8;
  }
  state.input.left -= (int32_t)(in - start);
  state.input.pos = (uint32_t)(in - state.input.buffer);
  state.bits = Bits{(uint32_t)LowBits(bits, count), count};
}

// The byte-at-a-time reader on packed tables, for the tail of the input buffer.
// It holds the bits in 64 bits but adds a byte only while fewer bits are
// held than the step needs, so that after each code at most 32 are left.
struct PackedByteReader {
  EntryInput& input;
  uint64_t bits;
  uint32_t count;

  // Stops short only when the input is used up; the bits above are then zero.
  void Need(uint32_t n) {
    while (count < n) {
      int32_t b = NextByte(input);
      if (b < 0) return;
      bits |= (uint64_t)b << count;
      count += 8;
    }
  }
  // The entry of the next code, its bits (and extra bits) held; invalid
  // when the code is invalid or runs past the input.
  PackedEntry Decode(const PackedEntry* table, uint32_t width) {
    Need(MaxPackedCodeBits);
    PackedEntry e = table[LowBits(bits, width)];
    if (e & PackedLink) {
      if (PackedDrop(e) > count) return PackedInvalid;
      Drop(PackedDrop(e));
      e = table[PackedValue(e) + LowBits(bits, PackedCodeBits(e))];
    }
    if (e & PackedInvalid) return e;
    Need(PackedDrop(e));
    return PackedDrop(e) > count ? PackedInvalid : e;
  }
  // Drops an entry's bits; returns its base plus its extra bits.
  uint32_t Take(PackedEntry e) {
    uint32_t extra = (uint32_t)(LowBits(bits, PackedDrop(e)) >> PackedCodeBits(e));
    Drop(PackedDrop(e));
    return PackedValue(e) + extra;
  }
  void Drop(uint32_t n) {
    bits >>= n;
    count -= n;
  }
  // At most 32 bits are held after each code: they fit the entry's bit state.
  void Save(Bits& saved) const { saved = Bits{(uint32_t)bits, count}; }
};

// Decodes one literal/length code (and its distance) with the byte reader.
int PackedSlowCode(InflateState& state, const PackedEntry* tl, const PackedEntry* td, uint32_t wl,
                   uint32_t wd) {
  PackedByteReader reader = {state.input, state.bits.buffer, state.bits.count};
  uint32_t wpos = state.windowPos;
  int result = Continue;
  PackedEntry e = reader.Decode(tl, wl);
  if (e & PackedLiteral) {
    reader.Drop(PackedDrop(e));
    state.window[wpos] = (uint8_t)PackedValue(e);
    wpos = WrapWhenFull(state, wpos + 1);
  } else if (e & PackedEnd) {
    reader.Drop(PackedDrop(e));
    result = BlockDone;
  } else if (e & PackedInvalid) {
    result = EntryStop;
  } else {
    uint32_t length = reader.Take(e);
    e = reader.Decode(td, wd);
    if (e & PackedSpecial) return EntryStop;
    uint32_t distance = reader.Take(e);
    if (distance > wpos && !state.windowWrapped) return EntryStop;
    wpos = CopyMatch(state, wpos, distance, length);
  }
  reader.Save(state.bits);
  state.windowPos = wpos;
  return result;
}

// FastCodes on packed tables with a 64-bit word: decodes codes while at
// least FastMargin bytes are buffered. Returns Continue when the buffered
// input runs low. Compiled twice, below: for any x86-64 processor and for
// those with the BMI2 shifts and bit extraction.
__attribute__((always_inline)) inline int PackedFastCodes(InflateState& state,
                                                          const PackedEntry* tl,
                                                          const PackedEntry* td, uint32_t wl,
                                                          uint32_t wd) {
  uint8_t* const inStart = state.input.buffer + state.input.pos;
  uint8_t* const inEnd = state.input.buffer + state.input.count;
  uint8_t* in = inStart;
  uint64_t bits = state.bits.buffer;
  uint32_t count = state.bits.count;
  uint8_t* const window = state.window;
  uint32_t wpos = state.windowPos;
  const uint64_t lmask = ((uint64_t)1 << wl) - 1;
  const uint64_t dmask = ((uint64_t)1 << wd) - 1;
  int result = Continue;

  // Adds whole bytes above the held bits; afterwards at least 56 bits are
  // held, and the whole word holds stream bits: what a refill loaded beyond
  // the count is the next input.
#define PK_REFILL()                     \
  do {                                  \
    uint64_t word;                      \
    memcpy(&word, in, sizeof word);     \
    bits |= word << count;              \
    in += (63 - count) >> 3;            \
    count |= 56;                        \
  } while (0)
#define PK_DROP(n) \
  do {             \
    bits >>= (n);  \
    count -= (n);  \
  } while (0)
  // Takes the root bits of a link entry e and looks up its sub-table.
#define PK_SUB(e, table)                                                    \
  do {                                                                      \
    PK_DROP(PackedDrop(e));                                                 \
    e = table[PackedValue(e) + LowBits(bits, PackedCodeBits(e))];           \
  } while (0)
#define PK_LITERAL(e)                             \
  do {                                            \
    PK_DROP(PackedDrop(e));                       \
    window[wpos] = (uint8_t)PackedValue(e);       \
    wpos = WrapWhenFull(state, wpos + 1);         \
  } while (0)

  // The root entry of the next literal/length code is looked up as soon as
  // the previous code is taken, so that the load overlaps the work on it; a
  // lookup takes no bits, and leaving the loop discards it. Each pass starts
  // with a refill: a literal/length code and its extra bits (20) and a
  // distance code and its extra bits (28) fit in the 56 bits then held.
  PackedEntry e = 0;
  if (inEnd - in >= FastMargin) {
    PK_REFILL();
    e = tl[bits & lmask];
  }
  while (inEnd - in >= FastMargin) {
    PK_REFILL();
    if (e & PackedLink) PK_SUB(e, tl);
    if (e & PackedLiteral) {
      // Up to three literals per refill: each takes at most 15 bits.
      PK_LITERAL(e);
      e = tl[bits & lmask];
      if (e & PackedLink) PK_SUB(e, tl);
      if (e & PackedLiteral) {
        PK_LITERAL(e);
        e = tl[bits & lmask];
        if (e & PackedLink) PK_SUB(e, tl);
        if (e & PackedLiteral) {
          PK_LITERAL(e);
          // At least 11 bits held, and more stream bits above them: enough
          // for the root lookup (the sub-table's follows the next refill).
          e = tl[bits & lmask];
          continue;
        }
      }
      // The second refill since the margin test: at most 15 bytes read.
      PK_REFILL();
    }
    if (e & PackedSpecial) {
      if (e & PackedEnd) {
        PK_DROP(PackedDrop(e));
        result = BlockDone;
      } else {
        result = EntryStop;
      }
      break;
    }
    uint32_t drop = PackedDrop(e);
    const uint32_t length = PackedValue(e) + (uint32_t)(LowBits(bits, drop) >> PackedCodeBits(e));
    PK_DROP(drop);
    e = td[bits & dmask];
    if (e & PackedLink) PK_SUB(e, td);
    if (e & PackedSpecial) {   // only invalid entries remain special here
      result = EntryStop;
      break;
    }
    drop = PackedDrop(e);
    const uint32_t distance =
        PackedValue(e) + (uint32_t)(LowBits(bits, drop) >> PackedCodeBits(e));
    PK_DROP(drop);
    // At most 48 bits were taken since the refill: the word still holds 16
    // stream bits for the next root lookup, made before the copy.
    e = tl[bits & lmask];
    if (distance > wpos && !state.windowWrapped) {
      result = EntryStop;
      break;
    }
    wpos = CopyMatchFast(state, window, wpos, distance, length);
  }
#undef PK_REFILL
#undef PK_DROP
#undef PK_SUB
#undef PK_LITERAL
  SaveWordBits(state, inStart, in, bits, count);
  state.windowPos = wpos;
  return result;
}

int PlainFastCodes(InflateState& state, const PackedEntry* tl, const PackedEntry* td, uint32_t wl,
                   uint32_t wd) {
  return PackedFastCodes(state, tl, td, wl, wd);
}

typedef int FastCodesLoop(InflateState&, const PackedEntry*, const PackedEntry*, uint32_t, uint32_t);

#if defined(__x86_64__) && defined(__GNUC__)
// The shifts by a register and the low-bit masks of the loop are single
// flag-free instructions with BMI2 (measured: about 4 % more throughput).
__attribute__((target("bmi2"))) int Bmi2FastCodes(InflateState& state, const PackedEntry* tl,
                                                  const PackedEntry* td, uint32_t wl, uint32_t wd) {
  return PackedFastCodes(state, tl, td, wl, wd);
}

FastCodesLoop* const FastCodesForThisProcessor =
    (__builtin_cpu_init(), __builtin_cpu_supports("bmi2")) ? Bmi2FastCodes : PlainFastCodes;
#else
FastCodesLoop* const FastCodesForThisProcessor = PlainFastCodes;
#endif

int PackedDecodeCodes(InflateState& state, const PackedEntry* tl, const PackedEntry* td,
                      uint32_t wl, uint32_t wd) {
  for (;;) {
    int result = FastCodesForThisProcessor(state, tl, td, wl, wd);
    if (result != Continue) return result;
    result = PackedSlowCode(state, tl, td, wl, wd);
    if (result != Continue) return result;
  }
}

// ---- dynamic blocks' code lengths ----

// The most bytes the code lengths of a block take (each code of up to 7 bits
// with up to 7 extra), plus the bytes a refill reads beyond them.
const uint32_t MaxCodeLengthBytes = (MaxLitLenCodes + MaxDistCodes) * 14 / 8 + 16;

// Reads code lengths a 64-bit word at a time straight from the input buffer,
// which must hold MaxCodeLengthBytes; Finish saves the bit state.
struct WordReader {
  InflateState& state;
  const PackedEntry* table;
  uint64_t mask;
  uint8_t* const start;
  uint8_t* in;
  uint64_t bits;
  uint32_t count;

  WordReader(InflateState& entry, const PackedEntry* codeTable, uint32_t width, const Bits& held)
      : state(entry), table(codeTable), mask(((uint64_t)1 << width) - 1),
        start(entry.input.buffer + entry.input.pos), in(start), bits(held.buffer),
        count(held.count) {}

  // The code-length code is at most 7 bits long, its root as wide (so it
  // has no links): a refill holds the code and its extra bits.
  int32_t Decode() {
    uint64_t word;
    memcpy(&word, in, sizeof word);
    bits |= word << count;
    in += (63 - count) >> 3;
    count |= 56;
    PackedEntry e = table[bits & mask];
    if (e & PackedSpecial) return -1;   // an unused pattern
    bits >>= PackedDrop(e);
    count -= PackedDrop(e);
    return (int32_t)PackedValue(e);
  }
  bool Take(uint32_t n, uint32_t& value) {
    value = (uint32_t)LowBits(bits, n);
    bits >>= n;
    count -= n;
    return true;
  }
  void Finish() { SaveWordBits(state, start, in, bits, count); }
};

// Reads code lengths with the byte reader on packed tables.
struct PackedLengthReader {
  PackedByteReader reader;
  const PackedEntry* table;
  uint32_t width;
  int32_t Decode() {
    PackedEntry e = reader.Decode(table, width);
    if (e & PackedSpecial) return -1;
    return (int32_t)reader.Take(e);
  }
  bool Take(uint32_t n, uint32_t& value) {
    reader.Need(n);
    if (reader.count < n) return false;
    value = (uint32_t)LowBits(reader.bits, n);
    reader.Drop(n);
    return true;
  }
};

}  // namespace

// Packed tables serve the 64-bit word loop; the byte reader and the 32-bit
// loop (the stub's) keep the linked tables.
bool UsePackedTables() { return InflateUses == FastestLoops; }

int PackedFixedBlock(InflateState& state) {
  if (PackedFixedLitWidth == 0) {
    uint16_t lengths[288];
    FixedLitLengths(lengths);
    uint32_t width = PackedLitRootWidth;
    BuildPackedTable(lengths, 288, 257, LengthBase, LengthExtra, PackedFixedLit,
                     sizeof PackedFixedLit / sizeof PackedFixedLit[0], width);
    for (int i = 0; i < 30; i++) lengths[i] = 5;
    PackedFixedDistWidth = PackedDistRootWidth;
    BuildPackedTable(lengths, 30, 0, DistBase, DistExtra, PackedFixedDist,
                     sizeof PackedFixedDist / sizeof PackedFixedDist[0], PackedFixedDistWidth);
    PackedFixedLitWidth = width;
  }
  return PackedDecodeCodes(state, PackedFixedLit, PackedFixedDist, PackedFixedLitWidth,
                           PackedFixedDistWidth);
}

int PackedDynamicBlock(InflateState& state, Bits bits, uint16_t* lengths, uint32_t nl,
                       uint32_t nd) {
  PackedEntry lengthTable[1u << CodeLengthCodeBits];
  uint32_t width = CodeLengthCodeBits;
  int32_t status = BuildPackedTable(lengths, CodeLengthSymbols, CodeLengthSymbols, NoBase,
                                    NoExtra, lengthTable, 1u << CodeLengthCodeBits, width);
  if (status != TableBuilt || width == 0) return EntryStop;
  const uint32_t total = nl + nd;
  bool ok;
  if (state.input.count - state.input.pos >= MaxCodeLengthBytes) {
    WordReader reader(state, lengthTable, width, bits);
    ok = ReadCodeLengths(reader, lengths, total);
    reader.Finish();
  } else {
    PackedLengthReader reader = {{state.input, bits.buffer, bits.count}, lengthTable, width};
    ok = ReadCodeLengths(reader, lengths, total);
    reader.reader.Save(state.bits);
  }
  if (!ok) return EntryStop;

  uint32_t litBits = PackedLitRootWidth, distBits = PackedDistRootWidth;
  if (BuildPackedTable(lengths, nl, 257, LengthBase, LengthExtra, PackedLit, PackedLitEntries,
                       litBits) != TableBuilt ||
      litBits == 0)
    return EntryStop;
  status = BuildPackedTable(lengths + nl, nd, 0, DistBase, DistExtra, PackedDist,
                            PackedDistEntries, distBits);
  if (status != TableBuilt && status != TableIncomplete) return EntryStop;
  return PackedDecodeCodes(state, PackedLit, PackedDist, litBits, distBits);
}
#endif

