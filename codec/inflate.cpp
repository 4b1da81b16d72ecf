#include "codec/inflate.h"

#include <string.h>

#include "codec/crc32.h"
#include "codec/huffman.h"
#include "codec/inflate_input.h"
#include "codec/packed_table.h"
#include "codec/winzip_aes.h"
#include "extract/state.h"
#include "package/reader.h"
#include "platform/platform.h"

bool InflateByteReader = false;
bool InflateNarrowWord = false;

namespace {

const uint32_t WindowSize = 32768;
// InBuffer and Window are allocated two bytes larger than the 32768 used: the
// decoder's buffers have always had that size, and nothing reads the spare bytes.
const uint32_t BufferSize = WindowSize + 2;
// InBuffer is filled in portions of at most this many bytes.
const uint32_t InputPortion = 32768;
// The code lengths of a dynamic block: nl (257 + a 5-bit count) literal/length
// lengths followed by nd (1 + a 5-bit count) distance lengths, in an array
// with one entry to spare.
const uint32_t MaxLitLenCodes = 257 + 31;
const uint32_t MaxDistCodes = 1 + 31;
const uint32_t CodeLengthsSize = 321;
static_assert(CodeLengthsSize > MaxLitLenCodes + MaxDistCodes, "room for nl + nd lengths");
// The most extra bits a distance code has (symbols 28 and 29).
const uint32_t MaxDistExtraBits = 13;
// The root width asked for a dynamic block's literal/length table (the fixed
// one is 7 bits wide). After a literal of up to 15 bits the word loop looks up
// the next code in what a 32-bit word still holds: 32 - 8 - 15 bits.
const int32_t LitRootWidth = 9;
static_assert(LitRootWidth <= 32 - 8 - 15, "the next lookup after a literal needs no refill");
// Room the word loop's match copy may write past a match's end (and then restore).
const uint32_t CopyOverrun = 16;

// Block results: Continue is internal to the code loop.
enum : int { BlockDone = 0, EntryStop = 1, Continue = 2 };

// Set once the window has been written out: from then on every distance up to
// 32768 reaches history. Before that a distance may reach only the bytes
// already produced for this entry; anything further is damage, not stale data.
bool WindowWrapped;

#if UINTPTR_MAX > 0xFFFFFFFFu
// On 64-bit hosts the input buffer and the window, kept for the run instead of being
// allocated (and cleared) for every entry.
uint8_t InStorage[BufferSize];
uint8_t WindowStorage[BufferSize];
#endif

// The fixed codes' tables, built at the first fixed block of the run and kept.
TableChain FixedChain;
DecodeEntry* FixedLit;
DecodeEntry* FixedDist;

// Bytes that must be buffered for the word loop to decode one more symbol
// and look up the next: at most three refills of a word each.
const intptr_t FastMargin = 16;

void FlushWindow(uint32_t k) {
  // As for stored entries, the CRC covers only what the write reported, so a
  // refused or short write fails the entry's CRC comparison.
  uint32_t written = WriteFileBytes(State.OutputFile, State.Window, k);
  if (written > k) written = k;
  CrcUpdate(State.Window, (int32_t)written, State.Crc);
}

// Called after every advance of the window position: a full window is written
// out and the next cycle starts at 0; from then on distances reach history.
inline uint32_t WrapWhenFull(uint32_t wpos) {
  if (wpos == WindowSize) {
    FlushWindow(WindowSize);
    WindowWrapped = true;
    wpos = 0;
  }
  return wpos;
}

// ---- the bit state ----
// Each routine works on a local copy of State.BitBuffer/BitCount, loaded when
// it starts and saved when it returns normally; an entry that stops needs
// no saved state.

struct Bits {
  uint32_t buffer;   // bit 0 is the next bit of the stream
  uint32_t count;    // bits held in buffer
};

inline Bits LoadBits() { return Bits{State.BitBuffer, State.BitCount}; }

inline void SaveBits(const Bits& bits) {
  State.BitBuffer = bits.buffer;
  State.BitCount = (uint16_t)bits.count;
}

// ---- the byte-at-a-time bit reader (block headers, tails of the input) ----
// NeedBits stops short only when the input is used up; the bits above the
// count are then zero, so a lookup still works, and taking bits that are not
// there ends the entry.

inline bool NeedBits(uint32_t n, Bits& bits) {
  while (bits.count < n) {
    int32_t b = NextByte();
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

inline bool TakeBits(uint32_t n, Bits& bits, uint32_t& value) {
  if (!NeedBits(n, bits)) return false;
  value = bits.buffer & BitMask[n];
  DropBits(n, bits);
  return true;
}

// Decodes one code; null when it is invalid or runs past the input.
const DecodeEntry* DecodeSlow(const DecodeEntry* table, uint32_t width, Bits& bits) {
  NeedBits(width, bits);
  const DecodeEntry* t = table + (bits.buffer & BitMask[width]);
  while (t->Op > OpLiteral) {
    if (t->Op == OpInvalid || t->Bits > bits.count) return nullptr;
    DropBits(t->Bits, bits);
    uint32_t j = t->Op - OpLiteral;
    NeedBits(j, bits);
    t = t->Next + (bits.buffer & BitMask[j]);
  }
  if (t->Bits > bits.count) return nullptr;
  DropBits(t->Bits, bits);
  return t;
}

// ---- output ----

// Copies n bytes from src to dst front to back, as a byte loop would: where
// the source is less than n bytes behind, the copy repeats the last bytes.
// Never writes past dst + n, since the rest of the window is live history.
inline void CopyForward(uint8_t* dst, const uint8_t* src, uint32_t n) {
  if (src == dst) return;   // a distance of exactly 32768
  if (src > dst || dst - src >= 8) {
    // Eight bytes at a time through a register: exact for a source at least
    // eight bytes behind, and for one ahead (from the previous window cycle).
    while (n >= 8) {
      uint64_t v;
      memcpy(&v, src, 8);
      memcpy(dst, &v, 8);
      dst += 8;
      src += 8;
      n -= 8;
    }
    while (n--) *dst++ = *src++;
  } else if (dst - src == 1) {
    memset(dst, *src, n);
  } else {
    while (n--) *dst++ = *src++;
  }
}

// Copies a back-reference into the window in pieces that cross neither the
// end of the source's nor of the destination's window cycle; the window is
// written out whenever it fills. Returns the new window position.
inline uint32_t CopyMatch(uint8_t* window, uint32_t wpos, uint32_t distance, uint32_t length) {
  uint32_t from = (wpos - distance) & (WindowSize - 1);
  while (length > 0) {
    uint32_t piece = WindowSize - (from > wpos ? from : wpos);
    if (piece > length) piece = length;
    length -= piece;
    CopyForward(window + wpos, window + from, piece);
    wpos = WrapWhenFull(wpos + piece);
    from = (from + piece) & (WindowSize - 1);
  }
  return wpos;
}

// CopyMatch for the word loops: where the whole match lies in one window
// cycle, either behind the destination or far enough ahead (then distance is
// at least 19) that no word written touches a byte still to be read, with
// room after both, it copies whole words and then puts back the bytes the
// last word overwrote past the end (they are live history).
__attribute__((always_inline)) inline uint32_t CopyMatchFast(uint8_t* window, uint32_t wpos, uint32_t distance,
                              uint32_t length) {
  // The source starts 'from'; in the previous window cycle when it lies
  // ahead of the destination.
  const uint32_t from = (wpos - distance) & (WindowSize - 1);
  if (!(wpos + length + CopyOverrun <= WindowSize &&
        (distance <= wpos ||
         (from >= wpos + length + CopyOverrun && from + length + CopyOverrun <= WindowSize))))
    return CopyMatch(window, wpos, distance, length);
  uint8_t* dst = window + wpos;
  const uint8_t* src = window + from;
  uint8_t* const stop = dst + length;
  if (distance >= 16) {
    __attribute__((aligned(16))) uint8_t keep[16];
    memcpy(keep, stop, 16);
    do {
      memcpy(dst, src, 16);
      dst += 16;
      src += 16;
    } while (dst < stop);
    memcpy(stop, keep, 16);
  } else if (distance >= 8) {
    uint64_t keep, v;
    memcpy(&keep, stop, 8);
    do {
      memcpy(&v, src, 8);
      memcpy(dst, &v, 8);
      dst += 8;
      src += 8;
    } while (dst < stop);
    memcpy(stop, &keep, 8);
  } else if (distance == 1) {
    memset(dst, *src, length);
  } else {
    do *dst++ = *src++;
    while (dst < stop);
  }
  return wpos + length;
}

// ---- code loops ----

// Decodes one literal/length code (and its distance) with the byte reader.
int SlowCode(const DecodeEntry* tl, const DecodeEntry* td, uint32_t wl, uint32_t wd) {
  Bits bits = LoadBits();
  uint32_t wpos = State.WindowPos;
  int result = Continue;
  const DecodeEntry* t = DecodeSlow(tl, wl, bits);
  uint32_t extra;
  if (t == nullptr) {
    result = EntryStop;
  } else if (t->Op == OpLiteral) {
    State.Window[wpos] = (uint8_t)t->Value;
    wpos = WrapWhenFull(wpos + 1);
  } else if (t->Op == OpEndOfBlock) {
    result = BlockDone;
  } else if (td == nullptr || !TakeBits(t->Op, bits, extra)) {
    result = EntryStop;
  } else {
    uint32_t length = t->Value + extra;
    t = DecodeSlow(td, wd, bits);
    if (t == nullptr || !TakeBits(t->Op, bits, extra)) {
      result = EntryStop;
    } else {
      uint32_t distance = t->Value + extra;
      if (distance > wpos && !WindowWrapped)
        result = EntryStop;
      else
        wpos = CopyMatch(State.Window, wpos, distance, length);
    }
  }
  SaveBits(bits);
  State.WindowPos = (uint16_t)wpos;
  return result;
}

// Decodes codes while at least FastMargin bytes are buffered, refilling the
// 32-bit bit buffer several bytes at a time straight from InBuffer (up to
// three refills per length/distance pair). Returns Continue when the
// buffered input runs low; the byte reader then takes over until the next
// refill of InBuffer.
int FastCodes(const DecodeEntry* tl, const DecodeEntry* td, uint32_t wl, uint32_t wd) {
  typedef uint32_t BitWord;
  const uint32_t WordBits = 32;
  uint8_t* const inStart = State.InBuffer + State.InPos;
  uint8_t* const inEnd = State.InBuffer + State.InCount;
  uint8_t* in = inStart;
  const Bits held = LoadBits();
  BitWord bits = held.buffer;
  uint32_t count = held.count;
  uint8_t* const window = State.Window;
  uint32_t wpos = State.WindowPos;
  const BitWord lmask = BitMask[wl];
  const BitWord dmask = BitMask[wd];
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
      wpos = WrapWhenFull(wpos + 1);
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
    if (distance > wpos && !WindowWrapped) {
      result = EntryStop;
      break;
    }
    TV_REFILL();
    t = tl + (bits & lmask);
    wpos = CopyMatchFast(window, wpos, distance, length);
  }
done:
#undef TV_REFILL
#undef TV_DROP
#undef TV_FOLLOW
#undef TV_LOW
  if (count < WordBits) bits &= ((BitWord)1 << count) - 1;
  State.CompressedLeft -= (int32_t)(in - inStart);
  State.InPos = (uint16_t)(in - State.InBuffer);
  SaveBits(Bits{(uint32_t)bits, count});
  State.WindowPos = (uint16_t)wpos;
  return result;
}

int DecodeCodes(const DecodeEntry* tl, const DecodeEntry* td, uint32_t wl, uint32_t wd) {
  for (;;) {
    int result;
    if (!InflateByteReader) {
      result = FastCodes(tl, td, wl, wd);
      if (result != Continue) return result;
    }
    result = SlowCode(tl, td, wl, wd);
    if (result != Continue) return result;
  }
}

#if UINTPTR_MAX > 0xFFFFFFFFu
// ---- the packed tables' loops (64-bit hosts) ----
// The same decoding on tables of 32-bit entries (codec/packed_table.h): a
// code's entry is one load, and a length or distance drops its code and its
// extra bits in one shift.

// The tables of dynamic blocks, used again by every block, and those of the
// fixed codes, built at the first fixed block of the run.
PackedEntry PackedLit[PackedLitEntries];
PackedEntry PackedDist[PackedDistEntries];
PackedEntry PackedFixedLit[1u << 9];
PackedEntry PackedFixedDist[1u << 5];
uint32_t PackedFixedLitWidth;   // 0 until the fixed tables are built
uint32_t PackedFixedDistWidth;

inline uint64_t LowBits(uint64_t bits, uint32_t n) { return bits & (((uint64_t)1 << n) - 1); }

// The byte-at-a-time reader on packed tables, for the tail of InBuffer.
// It holds the bits in 64 bits but adds a byte only while fewer bits are
// held than the step needs, so that after each code at most 32 are left.
struct PackedByteReader {
  uint64_t bits;
  uint32_t count;

  // Stops short only when the input is used up; the bits above are then zero.
  void Need(uint32_t n) {
    while (count < n) {
      int32_t b = NextByte();
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
};

// Decodes one literal/length code (and its distance) with the byte reader.
int PackedSlowCode(const PackedEntry* tl, const PackedEntry* td, uint32_t wl, uint32_t wd) {
  PackedByteReader reader = {State.BitBuffer, State.BitCount};
  uint32_t wpos = State.WindowPos;
  int result = Continue;
  PackedEntry e = reader.Decode(tl, wl);
  if (e & PackedLiteral) {
    reader.Drop(PackedDrop(e));
    State.Window[wpos] = (uint8_t)PackedValue(e);
    wpos = WrapWhenFull(wpos + 1);
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
    if (distance > wpos && !WindowWrapped) return EntryStop;
    wpos = CopyMatch(State.Window, wpos, distance, length);
  }
  State.BitBuffer = (uint32_t)reader.bits;
  State.BitCount = (uint16_t)reader.count;
  State.WindowPos = (uint16_t)wpos;
  return result;
}

// FastCodes on packed tables with a 64-bit word: decodes codes while at
// least FastMargin bytes are buffered. Returns Continue when the buffered
// input runs low.
int PackedFastCodes(const PackedEntry* tl, const PackedEntry* td, uint32_t wl, uint32_t wd) {
  uint8_t* const inStart = State.InBuffer + State.InPos;
  uint8_t* const inEnd = State.InBuffer + State.InCount;
  uint8_t* in = inStart;
  uint64_t bits = State.BitBuffer;
  uint32_t count = State.BitCount;
  uint8_t* const window = State.Window;
  uint32_t wpos = State.WindowPos;
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
    wpos = WrapWhenFull(wpos + 1);                \
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
    if (distance > wpos && !WindowWrapped) {
      result = EntryStop;
      break;
    }
    wpos = CopyMatchFast(window, wpos, distance, length);
  }
#undef PK_REFILL
#undef PK_DROP
#undef PK_SUB
#undef PK_LITERAL
  // Whole unused bytes go back to InBuffer so that the held bits fit the
  // 32-bit BitBuffer: the bits beyond it, rounded up to whole bytes. They
  // were all loaded by this call, from this buffer.
  if (count > 32) {
    uint32_t back = (count - 32 + 7) >> 3;
    in -= back;
    count -= back * 8;
  }
  State.CompressedLeft -= (int32_t)(in - inStart);
  State.InPos = (uint16_t)(in - State.InBuffer);
  State.BitBuffer = (uint32_t)LowBits(bits, count);
  State.BitCount = (uint16_t)count;
  State.WindowPos = (uint16_t)wpos;
  return result;
}

int PackedDecodeCodes(const PackedEntry* tl, const PackedEntry* td, uint32_t wl, uint32_t wd) {
  for (;;) {
    int result = PackedFastCodes(tl, td, wl, wd);
    if (result != Continue) return result;
    result = PackedSlowCode(tl, td, wl, wd);
    if (result != Continue) return result;
  }
}

// Packed tables serve the 64-bit word loop; the byte reader and the 32-bit
// loop (the stub's) keep the linked tables.
inline bool UsePackedTables() { return !InflateByteReader && !InflateNarrowWord; }
#endif

// ---- blocks ----

int StoredBlock() {
  Bits bits = LoadBits();
  DropBits(bits.count & 7, bits);   // to the byte boundary
  uint32_t length = 0, check = 0;
  bool ok = TakeBits(16, bits, length) && TakeBits(16, bits, check) &&
            check == (~length & 0xFFFF);
  uint32_t wpos = State.WindowPos;
  uint8_t* window = State.Window;
  // The first bytes may still be in the bit buffer, the rest are taken from
  // InBuffer in blocks.
  while (ok && length > 0 && bits.count >= 8) {
    window[wpos] = (uint8_t)bits.buffer;
    DropBits(8, bits);
    length--;
    wpos = WrapWhenFull(wpos + 1);
  }
  while (ok && length > 0) {
    uint32_t buffered = (uint32_t)(State.InCount - State.InPos);
    if (buffered == 0) {
      int32_t b = NextByte();   // refills InBuffer
      if (b < 0) {
        ok = false;
        break;
      }
      window[wpos++] = (uint8_t)b;
      length--;
    } else {
      uint32_t piece = length < buffered ? length : buffered;
      if (piece > WindowSize - wpos) piece = WindowSize - wpos;
      memcpy(window + wpos, State.InBuffer + State.InPos, piece);
      State.InPos = (uint16_t)(State.InPos + piece);
      State.CompressedLeft -= (int32_t)piece;
      wpos += piece;
      length -= piece;
    }
    wpos = WrapWhenFull(wpos);
  }
  SaveBits(bits);
  State.WindowPos = (uint16_t)wpos;
  return ok ? BlockDone : EntryStop;
}

// The code lengths of the fixed literal/length code.
void FixedLitLengths(uint16_t* lengths) {
  for (int i = 0; i < 144; i++) lengths[i] = 8;
  for (int i = 144; i < 256; i++) lengths[i] = 9;
  for (int i = 256; i < 280; i++) lengths[i] = 7;
  for (int i = 280; i < 288; i++) lengths[i] = 8;
}

void BuildFixedTables() {
  uint16_t lengths[288];
  FixedLitLengths(lengths);
  int32_t width = 7;
  BuildDecodeTable(lengths, 288, 257, LengthBase, LengthExtra, FixedLit, FixedChain, width);
  for (int i = 0; i < 30; i++) lengths[i] = 5;
  width = 5;
  BuildDecodeTable(lengths, 30, 0, DistBase, DistExtra, FixedDist, FixedChain, width);
}

int FixedBlock() {
#if UINTPTR_MAX > 0xFFFFFFFFu
  if (UsePackedTables()) {
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
    return PackedDecodeCodes(PackedFixedLit, PackedFixedDist, PackedFixedLitWidth,
                             PackedFixedDistWidth);
  }
#endif
  if (State.FixedLitTable == nullptr) {
    if (FixedLit == nullptr) BuildFixedTables();
    State.FixedLitTable = FixedLit;
    State.FixedDistTable = FixedDist;
  }
  return DecodeCodes(State.FixedLitTable, State.FixedDistTable, 7, 5);
}

const uint16_t NoBase[19] = {0};
const uint8_t NoExtra[19] = {0};

// The code lengths of a dynamic block, 'total' of them, read through
// 'reader' (Decode: the next code-length symbol, -1 when its code is invalid
// or runs past the input; Take: n more bits). A repeat may not run past
// their end.
template <typename Reader>
bool ReadCodeLengths(Reader& reader, uint16_t* lengths, uint32_t total) {
  uint32_t i = 0;
  uint32_t last = 0;
  while (i < total) {
    int32_t symbol = reader.Decode();
    if (symbol < 0) return false;
    uint32_t v = (uint32_t)symbol;
    if (v < 16) {
      lengths[i++] = (uint16_t)v;
      last = v;
      continue;
    }
    uint32_t repeat, fill = 0;
    bool ok;
    if (v == 16) {
      ok = reader.Take(2, repeat);
      repeat += 3;
      fill = last;
    } else if (v == 17) {
      ok = reader.Take(3, repeat);
      repeat += 3;
      last = 0;
    } else {
      ok = reader.Take(7, repeat);
      repeat += 11;
      last = 0;
    }
    if (!ok || repeat > total - i) return false;
    while (repeat--) lengths[i++] = (uint16_t)fill;
  }
  return true;
}

// Reads code lengths with the byte reader.
struct ByteReader {
  const DecodeEntry* root;
  uint32_t width;
  Bits& bits;
  int32_t Decode() {
    const DecodeEntry* t = DecodeSlow(root, width, bits);
    return t != nullptr ? t->Value : -1;
  }
  bool Take(uint32_t n, uint32_t& value) { return TakeBits(n, bits, value); }
};

#if UINTPTR_MAX > 0xFFFFFFFFu
// The most bytes the code lengths of a block take (each code of up to 7 bits
// with up to 7 extra), plus the bytes a refill reads beyond them.
const uint32_t MaxCodeLengthBytes = (MaxLitLenCodes + MaxDistCodes) * 14 / 8 + 16;

// Reads code lengths a 64-bit word at a time straight from InBuffer, which
// must hold MaxCodeLengthBytes; Finish hands the bytes it did not use back.
struct WordReader {
  const PackedEntry* table;
  uint64_t mask;
  uint8_t* const start;
  uint8_t* in;
  uint64_t bits;
  uint32_t count;

  WordReader(const PackedEntry* codeTable, uint32_t width, const Bits& held)
      : table(codeTable), mask(((uint64_t)1 << width) - 1), start(State.InBuffer + State.InPos),
        in(start), bits(held.buffer), count(held.count) {}

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
  void Finish() {
    // The whole bytes held go back to InBuffer, as many as this reader
    // loaded from it: the bits left are fewer than the 32 a word loop
    // expects to find.
    uint32_t back = count >> 3;
    if (back > (uint32_t)(in - start)) back = (uint32_t)(in - start);
    in -= back;
    count -= back * 8;
    State.CompressedLeft -= (int32_t)(in - start);
    State.InPos = (uint16_t)(in - State.InBuffer);
    State.BitBuffer = (uint32_t)LowBits(bits, count);
    State.BitCount = (uint16_t)count;
  }
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

// The rest of a dynamic block on packed tables, from the code lengths of
// the code-length code on ('lengths' holds them by symbol; 'bits' is the
// bit state after them).
int PackedDynamicBlock(Bits bits, uint16_t* lengths, uint32_t nl, uint32_t nd) {
  const uint32_t CodeLengthSymbols = 19;
  PackedEntry lengthTable[1u << 7];
  uint32_t width = 7;
  int32_t status = BuildPackedTable(lengths, CodeLengthSymbols, CodeLengthSymbols, NoBase,
                                    NoExtra, lengthTable, 1u << 7, width);
  if (status != TableBuilt || width == 0) return EntryStop;
  const uint32_t total = nl + nd;
  bool ok;
  if (State.InCount - State.InPos >= (int32_t)MaxCodeLengthBytes) {
    WordReader reader(lengthTable, width, bits);
    ok = ReadCodeLengths(reader, lengths, total);
    reader.Finish();
  } else {
    PackedLengthReader reader = {{bits.buffer, bits.count}, lengthTable, width};
    ok = ReadCodeLengths(reader, lengths, total);
    State.BitBuffer = (uint32_t)reader.reader.bits;
    State.BitCount = (uint16_t)reader.reader.count;
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
  return PackedDecodeCodes(PackedLit, PackedDist, litBits, distBits);
}
#endif

int DynamicBlock() {
  Bits bits = LoadBits();
  uint32_t nl, nd, nb;
  if (!TakeBits(5, bits, nl) || !TakeBits(5, bits, nd) || !TakeBits(4, bits, nb))
    return EntryStop;
  nl += 257;
  nd += 1;
  nb += 4;

  uint16_t lengths[CodeLengthsSize];
  for (uint32_t j = 0; j < 19; j++) lengths[CodeLengthOrder[j]] = 0;
  for (uint32_t j = 0; j < nb; j++) {
    uint32_t v;
    if (!TakeBits(3, bits, v)) return EntryStop;
    lengths[CodeLengthOrder[j]] = (uint16_t)v;
  }
#if UINTPTR_MAX > 0xFFFFFFFFu
  if (UsePackedTables()) return PackedDynamicBlock(bits, lengths, nl, nd);
#endif
  DecodeEntry* root = nullptr;
  TableChain chain = nullptr;
  int32_t width = 7;
  int32_t status = BuildDecodeTable(lengths, 19, 19, NoBase, NoExtra, root, chain, width);
  if (status != TableBuilt || root == nullptr) {
    FreeDecodeTables(chain);
    return EntryStop;
  }

  // The code lengths of both codes; a repeat may not run past their end.
  const uint32_t total = nl + nd;
  ByteReader reader = {root, (uint32_t)width, bits};
  const bool ok = ReadCodeLengths(reader, lengths, total);
  FreeDecodeTables(chain);
  SaveBits(bits);
  if (!ok) return EntryStop;

  DecodeEntry* litRoot = nullptr;
  TableChain litChain = nullptr;
  int32_t litWidth = LitRootWidth;
  status = BuildDecodeTable(lengths, (uint16_t)nl, 257, LengthBase, LengthExtra, litRoot,
                            litChain, litWidth);
  if (status != TableBuilt || litRoot == nullptr) {
    FreeDecodeTables(litChain);
    return EntryStop;
  }
  DecodeEntry* distRoot = nullptr;
  TableChain distChain = nullptr;
  int32_t distWidth = 6;
  status = BuildDecodeTable(lengths + nl, (uint16_t)nd, 0, DistBase, DistExtra, distRoot,
                            distChain, distWidth);
  int result = EntryStop;
  if (status == TableBuilt || status == TableIncomplete)   // an incomplete distance code is accepted
    result = DecodeCodes(litRoot, distRoot, (uint32_t)litWidth, (uint32_t)distWidth);
  FreeDecodeTables(litChain);
  FreeDecodeTables(distChain);
  return result;
}

int DecodeBlock(uint32_t& last) {
  Bits bits = LoadBits();
  uint32_t type;
  if (!TakeBits(1, bits, last) || !TakeBits(2, bits, type)) return EntryStop;
  SaveBits(bits);
  if (type == 0) return StoredBlock();
  if (type == 1) return FixedBlock();
  if (type == 2) return DynamicBlock();
  return BlockDone;   // type 3 holds nothing
}

}  // namespace

int32_t FillInput() {
  if (State.InPos >= State.InCount) {
    uint32_t want = State.CompressedLeft <= 0 ? 0
                    : State.CompressedLeft < (int32_t)InputPortion ? (uint32_t)State.CompressedLeft
                                                                   : InputPortion;
    uint32_t got = want > 0 ? ReadArchive(State.InBuffer, want) : 0;
    if (got > want) got = want;
    if (State.CurrentEntry.EntryFlags & FlagEncrypted) DecryptEntryData(State.InBuffer, got);
    State.InCount = (int32_t)got;
    State.InPos = 0;
    if (got == 0) {
      State.CompressedLeft = 0;
      return -1;
    }
  }
  return State.InBuffer[State.InPos++];
}

int32_t NextByte() {
  if (State.CompressedLeft <= 0) return -1;
  int32_t b = FillInput();
  State.CompressedLeft--;
  return b;
}

void InflateEntry() {
  State.InPos = 0;
  State.InCount = 0;
  State.WindowPos = 0;
  State.BitCount = 0;
  State.BitBuffer = 0;
#if UINTPTR_MAX > 0xFFFFFFFFu
  State.InBuffer = InStorage;
  State.Window = WindowStorage;
#else
  State.InBuffer = (uint8_t*)Allocate(BufferSize);
  State.Window = (uint8_t*)Allocate(BufferSize);
#endif
  State.FixedLitTable = nullptr;
  State.FixedDistTable = nullptr;
  WindowWrapped = false;

  uint32_t last = 0;
  while (DecodeBlock(last) == BlockDone && last == 0) {
  }
  if (State.WindowPos > 0) FlushWindow(State.WindowPos);
  State.WindowPos = 0;

#if UINTPTR_MAX <= 0xFFFFFFFFu
  Release(State.InBuffer);
  Release(State.Window);
#endif
  State.InBuffer = nullptr;
  State.Window = nullptr;
}

void FreeFixedTables() {
  FreeDecodeTables(FixedChain);
  FixedChain = nullptr;
  FixedLit = nullptr;
  FixedDist = nullptr;
  State.FixedLitTable = nullptr;
  State.FixedDistTable = nullptr;
}
