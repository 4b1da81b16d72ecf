#include "codec/inflate.h"

#include <string.h>

#include "codec/huffman.h"
#include "codec/inflate_common.h"
#include "codec/entry_io.h"
#include "platform/held.h"
#include "base/state.h"
#include "platform/platform.h"

CodeLoops InflateUses;

namespace {

// The input buffer and the window are allocated two bytes larger than the
// 32768 used: the decoder's buffers have always had that size, and nothing
// reads the spare bytes.
const uint32_t BufferSize = WindowSize + 2;
// The code lengths of a dynamic block (MaxLitLenCodes, MaxDistCodes), in an
// array with one entry to spare.
const uint32_t CodeLengthsSize = 321;
static_assert(CodeLengthsSize > MaxLitLenCodes + MaxDistCodes, "room for nl + nd lengths");
// The most extra bits a distance code has (symbols 28 and 29).
const uint32_t MaxDistExtraBits = 13;
// The root width asked for a dynamic block's literal/length table (the fixed
// one is 7 bits wide). After a literal of up to 15 bits the word loop looks up
// the next code in what a 32-bit word still holds: 32 - 8 - 15 bits.
const int32_t LitRootWidth = 9;
static_assert(LitRootWidth <= 32 - 8 - 15, "the next lookup after a literal needs no refill");

#if UINTPTR_MAX > 0xFFFFFFFFu
// On 64-bit hosts the input buffer and the window are kept for the run
// instead of being allocated (and cleared) for every entry.
uint8_t InStorage[BufferSize];
uint8_t WindowStorage[BufferSize];
#endif

// The fixed codes' tables, built at the first fixed block of the run and kept.
// One object, held by each function that uses it.
struct FixedTables {
  TableChain chain;
  DecodeEntry* lit;
  DecodeEntry* dist;
} Fixed;

// ---- the byte-at-a-time bit reader (block headers, tails of the input) ----
// NeedBits stops short only when the input is used up; the bits above the
// count are then zero, so a lookup still works, and taking bits that are not
// there ends the entry.

inline bool NeedBits(InflateState& state, uint32_t n) {
  Bits& bits = state.bits;
  while (bits.count < n) {
    int32_t b = NextByte(state.input);
    if (b < 0) return false;
    bits.buffer |= (uint32_t)b << bits.count;
    bits.count += 8;
  }
  return true;
}

inline void DropBits(uint32_t n, Bits& bits) {
  bits.buffer >>= n;
  bits.count -= n;
}

inline bool TakeBits(InflateState& state, uint32_t n, uint32_t& value) {
  Bits& bits = state.bits;
  if (!NeedBits(state, n)) return false;
  value = bits.buffer & LowBits(n);
  DropBits(n, bits);
  return true;
}

// Decodes one code; null when it is invalid or runs past the input.
const DecodeEntry* DecodeSlow(InflateState& state, const DecodeEntry* table, uint32_t width) {
  Bits& bits = state.bits;
  NeedBits(state, width);
  const DecodeEntry* t = table + (bits.buffer & LowBits(width));
  while (t->Op > OpLiteral) {
    if (t->Op == OpInvalid || t->Bits > bits.count) return nullptr;
    DropBits(t->Bits, bits);
    uint32_t j = t->Op - OpLiteral;
    NeedBits(state, j);
    t = t->Next + (bits.buffer & LowBits(j));
  }
  if (t->Bits > bits.count) return nullptr;
  DropBits(t->Bits, bits);
  return t;
}

// ---- code loops ----

// Decodes one literal/length code (and its distance) with the byte reader.
int SlowCode(InflateState& state, const DecodeEntry* tl, const DecodeEntry* td, uint32_t wl,
             uint32_t wd) {
  uint32_t wpos = state.windowPos;
  int result = Continue;
  const DecodeEntry* t = DecodeSlow(state, tl, wl);
  uint32_t extra;
  if (t == nullptr) {
    result = EntryStop;
  } else if (t->Op == OpLiteral) {
    state.window[wpos] = (uint8_t)t->Value;
    wpos = WrapWhenFull(state, wpos + 1);
  } else if (t->Op == OpEndOfBlock) {
    result = BlockDone;
  } else if (td == nullptr || !TakeBits(state, t->Op, extra)) {
    result = EntryStop;
  } else {
    uint32_t length = t->Value + extra;
    t = DecodeSlow(state, td, wd);
    if (t == nullptr || !TakeBits(state, t->Op, extra)) {
      result = EntryStop;
    } else {
      uint32_t distance = t->Value + extra;
      if (distance > wpos && !state.windowWrapped)
        result = EntryStop;
      else
        wpos = CopyMatch(state, wpos, distance, length);
    }
  }
  state.windowPos = wpos;
  return result;
}

// Decodes codes while at least FastMargin bytes are buffered, refilling the
// 32-bit bit buffer several bytes at a time straight from the input buffer (up to
// three refills per length/distance pair). Returns Continue when the
// buffered input runs low; the byte reader then takes over until the next
// refill of the input buffer.
int FastCodes(InflateState& state, const DecodeEntry* tl, const DecodeEntry* td, uint32_t wl,
              uint32_t wd) {
  typedef uint32_t BitWord;
  const uint32_t WordBits = 32;
  uint8_t* const inStart = state.input.buffer + state.input.pos;
  uint8_t* const inEnd = state.input.buffer + state.input.count;
  uint8_t* in = inStart;
  BitWord bits = state.bits.buffer;
  uint32_t count = state.bits.count;
  uint8_t* const window = state.window;
  uint32_t wpos = state.windowPos;
  const BitWord lmask = LowBits(wl);
  const BitWord dmask = LowBits(wd);
  int result = Continue;

  // Adds whole bytes above the held bits; afterwards at least WordBits - 8
  // bits are held. The bytes loaded beyond the count are masked off on exit.
#define TV_REFILL()                                   \
  do {                                                \
    BitWord word;                                     \
    memcpy(&word, in, sizeof word);                   \
    bits |= word << count;                            \
    in += (WordBits - 1 - count) >> 3;                \
    count |= WordBits - 8;                            \
  } while (0)
#define TV_DROP(n) \
  do {             \
    bits >>= (n);  \
    count -= (n);  \
  } while (0)

// Takes the root entry t of one code, follows its sub-tables into t and op;
// an invalid code stops the entry.
// The mask of n low bits, computed rather than looked up so that the
// extraction does not wait on a second load.
#define TV_LOW(n) (bits & (((BitWord)1 << (n)) - 1))
#define TV_FOLLOW()                                   \
  do {                                                \
    op = t->Op;                                       \
    while (op > OpLiteral) {                          \
      if (op == OpInvalid) {                          \
        result = EntryStop;                           \
        goto done;                                    \
      }                                               \
      TV_DROP(t->Bits);                               \
      t = t->Next + TV_LOW(op - OpLiteral);           \
      op = t->Op;                                     \
    }                                                 \
    TV_DROP(t->Bits);                                 \
  } while (0)

  // The root entry of the next literal/length code is looked up as soon as
  // its bits are held, so that the load overlaps the work on the current
  // symbol. A lookup consumes nothing: leaving the loop discards it.
  const DecodeEntry* t = nullptr;
  uint32_t op;
  if (inEnd - in >= FastMargin) {
    TV_REFILL();
    t = tl + (bits & lmask);
  }
  // Each pass starts with at least WordBits - 8 bits held and t looked up.
  while (inEnd - in >= FastMargin) {
    TV_FOLLOW();
    if (op == OpLiteral) {
      // At least WordBits - 8 - 15 bits are left, no fewer than the root
      // table's width (see LitRootWidth).
      uint8_t literal = (uint8_t)t->Value;
      t = tl + (bits & lmask);
      TV_REFILL();
      window[wpos] = literal;
      wpos = WrapWhenFull(state, wpos + 1);
      continue;
    }
    if (op == OpEndOfBlock) {
      result = BlockDone;
      break;
    }
    uint32_t length = t->Value + (uint32_t)TV_LOW(op);
    TV_DROP(op);
    if (td == nullptr) {
      result = EntryStop;
      break;
    }
    TV_REFILL();
    t = td + (bits & dmask);
    TV_FOLLOW();
    if (count < MaxDistExtraBits) TV_REFILL();
    uint32_t distance = t->Value + (uint32_t)TV_LOW(op);
    TV_DROP(op);
    if (distance > wpos && !state.windowWrapped) {
      result = EntryStop;
      break;
    }
    TV_REFILL();
    t = tl + (bits & lmask);
    wpos = CopyMatchFast(state, window, wpos, distance, length);
  }
done:
#undef TV_REFILL
#undef TV_DROP
#undef TV_FOLLOW
#undef TV_LOW
  if (count < WordBits) bits &= ((BitWord)1 << count) - 1;
  state.input.left -= (int32_t)(in - inStart);
  state.input.pos = (uint32_t)(in - state.input.buffer);
  state.bits = Bits{(uint32_t)bits, count};
  state.windowPos = wpos;
  return result;
}

int DecodeCodes(InflateState& state, const DecodeEntry* tl, const DecodeEntry* td, uint32_t wl,
                uint32_t wd) {
  for (;;) {
    int result;
    if (!(InflateUses & ByteLoops)) {
      result = FastCodes(state, tl, td, wl, wd);
      if (result != Continue) return result;
    }
    result = SlowCode(state, tl, td, wl, wd);
    if (result != Continue) return result;
  }
}

// ---- blocks ----

int StoredBlock(InflateState& state) {
  Bits& bits = state.bits;
  DropBits(bits.count & 7, bits);   // to the byte boundary
  uint32_t length = 0, check = 0;
  bool ok = TakeBits(state, 16, length) && TakeBits(state, 16, check) &&
            check == (~length & 0xFFFF);
  uint32_t wpos = state.windowPos;
  uint8_t* window = state.window;
  EntryInput& input = state.input;
  // The first bytes may still be in the bit buffer, the rest are taken from
  // the input buffer in blocks.
  while (ok && length > 0 && bits.count >= 8) {
    window[wpos] = (uint8_t)bits.buffer;
    DropBits(8, bits);
    length--;
    wpos = WrapWhenFull(state, wpos + 1);
  }
  while (ok && length > 0) {
    uint32_t buffered = input.count - input.pos;
    if (buffered == 0) {
      int32_t b = NextByte(input);   // refills the buffer
      if (b < 0) {
        ok = false;
        break;
      }
      window[wpos++] = (uint8_t)b;
      length--;
    } else {
      uint32_t piece = length < buffered ? length : buffered;
      if (piece > WindowSize - wpos) piece = WindowSize - wpos;
      memcpy(window + wpos, input.buffer + input.pos, piece);
      input.pos += piece;
      input.left -= (int32_t)piece;
      wpos += piece;
      length -= piece;
    }
    wpos = WrapWhenFull(state, wpos);
  }
  state.windowPos = wpos;
  return ok ? BlockDone : EntryStop;
}

void BuildFixedTables(FixedTables& fixed) {
  uint16_t lengths[288];
  FixedLitLengths(lengths);
  int32_t width = 7;
  BuildDecodeTable(lengths, 288, 257, LengthBase, LengthExtra, fixed.lit, fixed.chain, width);
  for (int i = 0; i < 30; i++) lengths[i] = 5;
  width = 5;
  BuildDecodeTable(lengths, 30, 0, DistBase, DistExtra, fixed.dist, fixed.chain, width);
}

int FixedBlock(InflateState& state) {
#if UINTPTR_MAX > 0xFFFFFFFFu
  if (UsePackedTables()) return PackedFixedBlock(state);
#endif
  FixedTables& fixed = Held(Fixed);
  if (fixed.lit == nullptr) BuildFixedTables(fixed);
  return DecodeCodes(state, fixed.lit, fixed.dist, 7, 5);
}

// Reads code lengths with the byte reader.
struct ByteReader {
  InflateState& state;
  const DecodeEntry* root;
  uint32_t width;
  int32_t Decode() {
    const DecodeEntry* t = DecodeSlow(state, root, width);
    return t != nullptr ? t->Value : -1;
  }
  bool Take(uint32_t n, uint32_t& value) { return TakeBits(state, n, value); }
};

int DynamicBlock(InflateState& state) {
  uint32_t nl, nd, nb;
  if (!TakeBits(state, 5, nl) || !TakeBits(state, 5, nd) || !TakeBits(state, 4, nb))
    return EntryStop;
  nl += 257;
  nd += 1;
  nb += 4;

  uint16_t lengths[CodeLengthsSize];
  for (uint32_t j = 0; j < 19; j++) lengths[CodeLengthOrder[j]] = 0;
  for (uint32_t j = 0; j < nb; j++) {
    uint32_t v;
    if (!TakeBits(state, 3, v)) return EntryStop;
    lengths[CodeLengthOrder[j]] = (uint16_t)v;
  }
#if UINTPTR_MAX > 0xFFFFFFFFu
  if (UsePackedTables()) return PackedDynamicBlock(state, state.bits, lengths, nl, nd);
#endif
  DecodeEntry* root = nullptr;
  TableChain chain = nullptr;
  int32_t width = CodeLengthCodeBits;
  // Every code-length symbol decodes to itself: no base or extra table is read.
  int32_t status = BuildDecodeTable(lengths, CodeLengthSymbols, CodeLengthSymbols, nullptr, nullptr,
                                    root, chain, width);
  if (status != TableBuilt || root == nullptr) {
    FreeDecodeTables(chain);
    return EntryStop;
  }

  // The code lengths of both codes; a repeat may not run past their end.
  const uint32_t total = nl + nd;
  ByteReader reader = {state, root, (uint32_t)width};
  const bool ok = ReadCodeLengths(reader, lengths, total);
  FreeDecodeTables(chain);
  if (!ok) return EntryStop;

  DecodeEntry* litRoot = nullptr;
  TableChain litChain = nullptr;
  int32_t litWidth = LitRootWidth;
  status = BuildDecodeTable(lengths, nl, 257, LengthBase, LengthExtra, litRoot,
                            litChain, litWidth);
  if (status != TableBuilt || litRoot == nullptr) {
    FreeDecodeTables(litChain);
    return EntryStop;
  }
  DecodeEntry* distRoot = nullptr;
  TableChain distChain = nullptr;
  int32_t distWidth = 6;
  status = BuildDecodeTable(lengths + nl, nd, 0, DistBase, DistExtra, distRoot,
                            distChain, distWidth);
  int result = EntryStop;
  if (status == TableBuilt || status == TableIncomplete)   // an incomplete distance code is accepted
    result = DecodeCodes(state, litRoot, distRoot, (uint32_t)litWidth, (uint32_t)distWidth);
  FreeDecodeTables(litChain);
  FreeDecodeTables(distChain);
  return result;
}

int DecodeBlock(InflateState& state, uint32_t& last) {
  uint32_t type;
  if (!TakeBits(state, 1, last) || !TakeBits(state, 2, type)) return EntryStop;
  if (type == 0) return StoredBlock(state);
  if (type == 1) return FixedBlock(state);
  if (type == 2) return DynamicBlock(state);
  return BlockDone;   // type 3 holds nothing
}

}  // namespace

DecodeResult InflateEntry(ExtractState& extraction) {
  InflateState state = {};
  state.input.left = extraction.CompressedLeft;
  state.output = EntryOutput{extraction.OutputFile, extraction.Crc, {DecodeDone, 0}};
#if UINTPTR_MAX > 0xFFFFFFFFu
  state.input.buffer = InStorage;
  state.window = WindowStorage;
#else
  state.input.buffer = (uint8_t*)Allocate(BufferSize);
  state.window = (uint8_t*)Allocate(BufferSize);
#endif

  uint32_t last = 0;
  int block;
  do block = DecodeBlock(state, last);
  while (block == BlockDone && last == 0);
  if (state.windowPos > 0) FlushWindow(state, state.windowPos);
  // A stop with every byte of the entry taken is input that ran out; a
  // stream that ends before its data do (a whole byte left) is damaged.
  DecodeResult& result = state.output.result;
  if (result.end == DecodeDone) {
    if (block != BlockDone)
      result.end = state.input.left <= 0 ? DecodeInputEnds : DecodeDamaged;
    else if (state.input.left > 0 || state.bits.count >= 8)
      result.end = DecodeDamaged;
  }

#if UINTPTR_MAX <= 0xFFFFFFFFu
  Release(state.input.buffer);
  Release(state.window);
#endif
  extraction.CompressedLeft = state.input.left;
  extraction.Crc = state.output.crc;
  return result;
}

void FreeFixedTables() {
  FixedTables& fixed = Held(Fixed);
  FreeDecodeTables(fixed.chain);
  fixed = FixedTables();
}
