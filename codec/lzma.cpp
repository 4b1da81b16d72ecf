#include "codec/lzma.h"

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/entry_io.h"
#include "platform/held.h"
#include "platform/platform.h"

namespace {

// Built for size (the stub) the decoder keeps one copy of each routine; built
// for speed every routine of the symbol loop is inlined into it.
#ifdef __OPTIMIZE_SIZE__
#define TV_LOOP_ROUTINE
#else
#define TV_LOOP_ROUTINE __attribute__((always_inline)) inline
#endif

// ---- the range decoder ----
// Each probability is the chance, in 1/2048ths, that the next bit is 0; it
// moves by 1/32 of the distance towards the bit that came.
typedef uint16_t Prob;
const uint32_t ProbBits = 11;
const Prob ProbInit = 1 << (ProbBits - 1);
const uint32_t MoveBits = 5;
const uint32_t TopValue = 1u << 24;

struct RangeDecoder {
  uint32_t range;
  uint32_t code;
  uint8_t* buffer;        // the entry's input buffer (none for data in memory)
  const uint8_t* in;      // the unread part of the buffer (or of the data in memory)
  const uint8_t* inEnd;
  uint32_t unread;        // bytes of the entry not yet in the buffer
  bool ranOut;            // a byte was wanted after the entry's last
};

// Reads the next portion of the entry and returns its first byte; at the
// entry's end a zero, and ranOut is set.
uint32_t NextPortion(RangeDecoder& rc) {
  uint32_t count =
      rc.unread == 0 ? 0 : ReadPortion(rc.buffer, rc.unread < InputPortion ? rc.unread : InputPortion);
  rc.unread -= count;
  if (count == 0) {
    rc.unread = 0;
    rc.ranOut = true;
    return 0;
  }
  rc.in = rc.buffer + 1;
  rc.inEnd = rc.buffer + count;
  return rc.buffer[0];
}

TV_LOOP_ROUTINE uint32_t InputByte(RangeDecoder& rc) { return rc.in != rc.inEnd ? *rc.in++ : NextPortion(rc); }

// Whether every byte of the entry's data has been taken.
TV_LOOP_ROUTINE bool AllUsed(const RangeDecoder& rc) { return rc.in == rc.inEnd && rc.unread == 0; }

// Keeps the range above 2^24 by shifting in the next input byte.
__attribute__((always_inline)) inline void Normalize(RangeDecoder& rc, uint32_t& range, uint32_t& code) {
  if (range < TopValue) {
    range <<= 8;
    code = (code << 8) | InputByte(rc);
  }
}

// One bit on the range and code a caller holds in locals: a run of bits
// (a tree, a literal) keeps them in registers and stores them once.
__attribute__((always_inline)) inline uint32_t Bit(RangeDecoder& rc, uint32_t& range, uint32_t& code,
                                                   Prob& prob) {
  uint32_t bound = (range >> ProbBits) * prob;
  uint32_t bit = code >= bound;
  if (bit) {
    range -= bound;
    code -= bound;
    prob = (Prob)(prob - (prob >> MoveBits));
  } else {
    range = bound;
    prob = (Prob)(prob + (((1u << ProbBits) - prob) >> MoveBits));
  }
  Normalize(rc, range, code);
  return bit;
}

TV_LOOP_ROUTINE uint32_t DecodeBit(RangeDecoder& rc, Prob& prob) {
  uint32_t range = rc.range, code = rc.code;
  uint32_t bit = Bit(rc, range, code, prob);
  rc.range = range;
  rc.code = code;
  return bit;
}

// 'count' bits with a fixed probability of one half, highest first.
TV_LOOP_ROUTINE uint32_t DecodeDirectBits(RangeDecoder& rc, uint32_t count) {
  uint32_t range = rc.range, code = rc.code, value = 0;
  do {
    range >>= 1;
    uint32_t bit = code >= range;
    if (bit) code -= range;
    value = (value << 1) | bit;
    Normalize(rc, range, code);
  } while (--count);
  rc.range = range;
  rc.code = code;
  return value;
}

// One bit of a tree: the next node is node * 2 + bit. The node takes the bit
// at once, so the bit need not hold one of x86-32's few registers.
__attribute__((always_inline)) inline void TreeBit(RangeDecoder& rc, uint32_t& range, uint32_t& code,
                                                   Prob* probs, uint32_t& node) {
  Prob* prob = probs + node;
  uint32_t p = *prob;
  uint32_t bound = (range >> ProbBits) * p;
  uint32_t bit = code >= bound;
  node = (node << 1) + bit;
  // Both outcomes computed, one taken: tree bits (literals above all) are
  // too random for the branch predictor.
  uint32_t up = p + (((1u << ProbBits) - p) >> MoveBits), down = p - (p >> MoveBits);
  uint32_t taken = 0u - bit;   // all ones for a 1
  range = bound ^ ((bound ^ (range - bound)) & taken);
  code -= bound & taken;
  *prob = (Prob)(up ^ ((up ^ down) & taken));
  Normalize(rc, range, code);
}

// A value of 'count' bits coded along a binary tree of probabilities,
// highest bit first; probs[1] is the root.
TV_LOOP_ROUTINE uint32_t DecodeTree(RangeDecoder& rc, Prob* probs, uint32_t count) {
  const uint32_t leaves = 1u << count;
  uint32_t range = rc.range, code = rc.code, node = 1;
  do TreeBit(rc, range, code, probs, node);
  while (node < leaves);
  rc.range = range;
  rc.code = code;
  return node - leaves;
}

// The same tree with the value's lowest bit first: the path is the same, its
// bits are read the other way round.
TV_LOOP_ROUTINE uint32_t DecodeReverseTree(RangeDecoder& rc, Prob* probs, uint32_t count) {
  uint32_t path = DecodeTree(rc, probs, count), value = 0;
  for (uint32_t i = 0; i < count; i++, path >>= 1) value = (value << 1) | (path & 1);
  return value;
}

// The eight bits of a literal that follows a match, coded against the byte
// at rep0: while their bits agree, each bit has its own probabilities (0x100
// or 0x200 further on, by the match byte's bit); from the first difference
// on, the plain ones (offset 0). A literal after a literal is a plain tree.
TV_LOOP_ROUTINE uint32_t DecodeMatchedLiteral(RangeDecoder& rc, Prob* probs, uint32_t matchByte) {
  uint32_t range = rc.range, code = rc.code, symbol = 1, offset = 0x100;
  do {
    matchByte <<= 1;
    uint32_t matchBit = matchByte & offset;
    TreeBit(rc, range, code, probs + offset + matchBit, symbol);
    offset &= (symbol & 1) ? matchBit : ~matchBit;
  } while (symbol < 0x100);
  rc.range = range;
  rc.code = code;
  return symbol & 0xFF;
}

// ---- the model ----
const uint32_t States = 12;
const uint32_t LiteralStates = 7;   // states 0..6 follow a literal
const uint32_t MaxPositionBits = 4;
const uint32_t MinMatchLength = 2;
// Lengths 2..273: a choice bit, then 3 bits (low), 3 bits (mid) or 8 bits (high).
const uint32_t LowLengthBits = 3;
const uint32_t MidLengthBits = 3;
const uint32_t HighLengthBits = 8;
// Distances: a 6-bit slot chosen by the length (0, 1, 2, 3 or more); slots 0..3
// are the distance; slots up to 13 add reverse-tree bits; higher ones add
// direct bits and 4 reverse-tree "align" bits.
const uint32_t LengthStates = 4;
const uint32_t SlotBits = 6;
const uint32_t EndSlotWithTree = 14;
const uint32_t FullDistances = 1 << (EndSlotWithTree / 2);
const uint32_t AlignBits = 4;
const uint32_t EndMarkerDistance = 0xFFFFFFFF;

struct LengthModel {
  Prob choice;
  Prob choice2;
  Prob low[1 << MaxPositionBits][1 << LowLengthBits];
  Prob mid[1 << MaxPositionBits][1 << MidLengthBits];
  Prob high[1 << HighLengthBits];
};

// Every probability of a stream but the literal coders', which follow it in
// the same block: 0x300 for each of the 2^(lc + lp) literal contexts.
struct Model {
  Prob isMatch[States][1 << MaxPositionBits];
  Prob isRep[States];
  Prob isRepG0[States];
  Prob isRepG1[States];
  Prob isRepG2[States];
  Prob isRep0Long[States][1 << MaxPositionBits];
  Prob slot[LengthStates][1 << SlotBits];
  Prob distance[1 + FullDistances - EndSlotWithTree];
  Prob align[1 << AlignBits];
  LengthModel length;
  LengthModel repLength;
};
const uint32_t LiteralCoderSize = 0x300;

// The length of a match minus MinMatchLength.
TV_LOOP_ROUTINE uint32_t DecodeLength(RangeDecoder& rc, LengthModel& model, uint32_t posState) {
  if (DecodeBit(rc, model.choice) == 0) return DecodeTree(rc, model.low[posState], LowLengthBits);
  if (DecodeBit(rc, model.choice2) == 0)
    return (1 << LowLengthBits) + DecodeTree(rc, model.mid[posState], MidLengthBits);
  return (1 << LowLengthBits) + (1 << MidLengthBits) + DecodeTree(rc, model.high, HighLengthBits);
}

// The distance of a new match minus one (EndMarkerDistance: the end marker).
TV_LOOP_ROUTINE uint32_t DecodeDistance(RangeDecoder& rc, Model& model, uint32_t length) {
  uint32_t lengthState = length < LengthStates - 1 ? length : LengthStates - 1;
  uint32_t slot = DecodeTree(rc, model.slot[lengthState], SlotBits);
  if (slot < 4) return slot;
  uint32_t bits = (slot >> 1) - 1;
  uint32_t distance = (2 | (slot & 1)) << bits;
  if (slot < EndSlotWithTree)
    return distance + DecodeReverseTree(rc, model.distance + distance - slot, bits);
  distance += DecodeDirectBits(rc, bits - AlignBits) << AlignBits;
  return distance + DecodeReverseTree(rc, model.align, AlignBits);
}

// ---- the window ----
// The output goes into a window that is written out whenever it is full and
// at the end; a match copies from up to a window's length back. A solid
// block's window lives from entry to entry: what an entry wrote starts at
// 'start', and its position and coder state carry over to the next entry.
struct Window {
  uint8_t* bytes;
  uint32_t size;
  uint32_t pos;        // where the next byte goes
  uint32_t total;      // bytes produced since the stream (the block's dictionary) started
  uint32_t limit;      // where the symbols stop: the entry's size (a chunk's end in a block)
  EntryOutput output;   // where the bytes go, the CRC of what it took, the result
  uint32_t start;      // the first byte not yet written out
  // The coder's state between two runs of symbols (LZMA2 chunks): the state
  // and the four most recent distances.
  uint32_t state, rep0, rep1, rep2, rep3;
};

// Writes out what the window holds since 'start'; a full window starts over.
__attribute__((noinline)) void FlushWindow(Window& w) {
  WriteOutput(w.output, w.bytes + w.start, w.pos - w.start);
  w.start = w.pos;
  if (w.pos == w.size) w.pos = w.start = 0;
}

TV_LOOP_ROUTINE void WhenFull(Window& w) {
  if (w.pos == w.size) FlushWindow(w);
}

// Where the byte 'distance' + 1 back lies.
TV_LOOP_ROUTINE uint32_t BackIndex(const Window& w, uint32_t distance) {
  return w.pos > distance ? w.pos - distance - 1 : w.pos + w.size - distance - 1;
}

TV_LOOP_ROUTINE uint8_t ByteBack(const Window& w, uint32_t distance) { return w.bytes[BackIndex(w, distance)]; }

TV_LOOP_ROUTINE void PutByte(Window& w, uint8_t byte) {
  w.bytes[w.pos++] = byte;
  w.total++;
  WhenFull(w);
}

// Copies 'length' bytes from 'distance' + 1 back, in runs that stop at the
// window's end (where it is written out) or the source's.
TV_LOOP_ROUTINE void CopyMatch(Window& w, uint32_t distance, uint32_t length) {
  uint32_t from = BackIndex(w, distance);
  w.total += length;
  while (length > 0) {
    uint32_t run = length;
    if (run > w.size - w.pos) run = w.size - w.pos;
    if (run > w.size - from) run = w.size - from;
    uint8_t* to = w.bytes + w.pos;
    const uint8_t* source = w.bytes + from;
#if defined(__i386__) && defined(__OPTIMIZE_SIZE__)
    // One string move: it copies forwards byte by byte too.
    uint32_t left = run;
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(source), "+c"(left) : : "memory");
#else
    uint8_t* const end = to + run;
    while (to != end) *to++ = *source++;   // forwards: overlaps repeat
#endif
    w.pos += run;
    from += run;
    length -= run;
    if (from == w.size) from = 0;
    WhenFull(w);
  }
}

// How the symbol loop ended.
enum StreamEnd { StreamAtSize, StreamAtMarker, StreamDamaged };

// Built for size, the symbol loop alone is still optimised for speed (without
// the alignment padding): for about 200 bytes it decodes a quarter faster.
#ifdef __OPTIMIZE_SIZE__
#define TV_SPEED_LOOP \
  __attribute__((noinline, optimize("O2", "no-align-loops", "no-align-jumps", "no-align-labels", "no-align-functions")))
#else
#define TV_SPEED_LOOP
#endif

// Decodes symbols until the window holds 'limit' bytes, the end marker comes,
// or the data prove damaged. The coder's state comes from the window and
// goes back there.
TV_SPEED_LOOP StreamEnd DecodeSymbols(RangeDecoder& rc, Model& model, Window& w, const LzmaProperties& p,
                        bool endMarker) {
  const uint32_t posMask = (1u << p.positionBits) - 1;
  const uint32_t literalPosMask = (1u << p.literalPositionBits) - 1;
  const uint32_t lc = p.literalContextBits;
  uint32_t state = w.state;
#ifdef __OPTIMIZE_SIZE__
  // The stub keeps the distances in the window (x86-32 has no registers for them).
  uint32_t &rep0 = w.rep0, &rep1 = w.rep1, &rep2 = w.rep2, &rep3 = w.rep3;
#else
  uint32_t rep0 = w.rep0, rep1 = w.rep1, rep2 = w.rep2, rep3 = w.rep3;
#endif
  uint8_t previous = ByteBack(w, 0);   // 0 before the first byte (see the window's allocations)
  Prob* const literals = (Prob*)(&model + 1);
  StreamEnd end = StreamDamaged;
  for (;;) {
    if (rc.ranOut) break;
    // At the entry's size a stream whose flag promises the end marker ends
    // with it, unless every byte is used (writers differ on this).
    if (w.total == w.limit && (!endMarker || AllUsed(rc))) {
      end = StreamAtSize;
      break;
    }
    uint32_t posState = w.total & posMask;

    if (DecodeBit(rc, model.isMatch[state][posState]) == 0) {
      if (w.total == w.limit) break;
      Prob* probs = literals + LiteralCoderSize * (((w.total & literalPosMask) << lc) +
                                                   ((uint32_t)previous >> (8 - lc)));
      previous = (uint8_t)(state >= LiteralStates ? DecodeMatchedLiteral(rc, probs, ByteBack(w, rep0))
                                                  : DecodeTree(rc, probs, 8));
      PutByte(w, previous);
      state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
      continue;
    }

    uint32_t length;
    if (DecodeBit(rc, model.isRep[state]) == 0) {
      length = DecodeLength(rc, model.length, posState);
      state = state < LiteralStates ? 7 : 10;
      rep3 = rep2;
      rep2 = rep1;
      rep1 = rep0;
      rep0 = DecodeDistance(rc, model, length);
      if (rep0 == EndMarkerDistance) {
        if (!rc.ranOut) end = StreamAtMarker;
        break;
      }
    } else {
      if (w.total == 0) break;
      if (DecodeBit(rc, model.isRepG0[state]) == 0) {
        if (DecodeBit(rc, model.isRep0Long[state][posState]) == 0) {
          // One byte from rep0.
          if (w.total == w.limit) break;
          state = state < LiteralStates ? 9 : 11;
          previous = ByteBack(w, rep0);
          PutByte(w, previous);
          continue;
        }
      } else {
        uint32_t distance;
        if (DecodeBit(rc, model.isRepG1[state]) == 0) {
          distance = rep1;
        } else {
          if (DecodeBit(rc, model.isRepG2[state]) == 0) {
            distance = rep2;
          } else {
            distance = rep3;
            rep3 = rep2;
          }
          rep2 = rep1;
        }
        rep1 = rep0;
        rep0 = distance;
      }
      length = DecodeLength(rc, model.repLength, posState);
      state = state < LiteralStates ? 8 : 11;
    }
    length += MinMatchLength;
    // A distance must reach into what the window holds, and a match may not
    // run past the entry's size.
    if (rep0 >= w.total || rep0 >= w.size || length > w.limit - w.total) break;
    CopyMatch(w, rep0, length);
    previous = ByteBack(w, 0);
  }
  w.state = state;
#ifndef __OPTIMIZE_SIZE__
  w.rep0 = rep0;
  w.rep1 = rep1;
  w.rep2 = rep2;
  w.rep3 = rep3;
#endif
  return end;
}

}  // namespace

namespace {

// Takes lc, lp and pb from their byte, (pb * 5 + lp) * 9 + lc; false when it
// lies beyond the format's limits.
__attribute__((noinline)) bool TakeProperties(uint32_t lclppb, LzmaProperties& properties) {
  properties.literalContextBits = lclppb % 9;
  properties.literalPositionBits = lclppb / 9 % 5;
  properties.positionBits = lclppb / 45;
  return lclppb < 9 * 5 * 5;
}

}  // namespace

bool ReadLzmaHeader(const uint8_t* header, LzmaProperties& properties) {
  properties.dictionarySize = Read32(header + 5);
  return Read16(header + 2) == 5 && TakeProperties(header[4], properties);
}

namespace {

// Sets every probability of a model (with its literal coders, 'size' bytes
// in all) to one half.
__attribute__((noinline)) void ResetModel(Model* model, size_t size) {
  Prob* probs = (Prob*)model;
  for (size_t i = 0; i < size / sizeof(Prob); i++) probs[i] = ProbInit;
}

// Starts the range decoder on the next five bytes of input; false when they
// cannot start a stream (the first byte is always 0, the code starts below
// the range) or the input ends.
__attribute__((noinline)) bool StartRange(RangeDecoder& rc) {
  rc.range = 0xFFFFFFFF;
  bool startsWell = InputByte(rc) == 0;
  for (int i = 0; i < 4; i++) rc.code = (rc.code << 8) | InputByte(rc);
  return startsWell && rc.code != rc.range && !rc.ranOut;
}

// Decodes an entry's data, from its LZMA header on, into 'w' (whose limit,
// file and CRC are set); 'rc' delivers the data.
void DecodeData(RangeDecoder& rc, Window& w, bool endMarker) {
  uint8_t header[LzmaHeaderSize];
  for (uint32_t i = 0; i < LzmaHeaderSize; i++) header[i] = (uint8_t)InputByte(rc);
  LzmaProperties properties;
  Model* model = nullptr;
  if (rc.ranOut) {
    w.output.result.end = DecodeInputEnds;
  } else if (!ReadLzmaHeader(header, properties)) {
    w.output.result.end = DecodeUnsupported;
  } else {
    // The window need not reach further back than the entry is long; below
    // 64 KiB it would only mean more, smaller writes.
    const uint32_t leastWindow = 1 << 16;
    w.size = properties.dictionarySize > leastWindow ? properties.dictionarySize : leastWindow;
    if (w.size > w.limit) w.size = w.limit > 0 ? w.limit : 1;
    uint32_t literalCoders = 1u << (properties.literalContextBits + properties.literalPositionBits);
    size_t modelSize = sizeof(Model) + LiteralCoderSize * literalCoders * sizeof(Prob);
    w.bytes = (uint8_t*)TryAllocate(w.size);
    model = (Model*)TryAllocate(modelSize);
    if (w.bytes == nullptr || model == nullptr) {
      w.output.result.end = DecodeOutOfMemory;
    } else {
      ResetModel(model, modelSize);
      w.bytes[w.size - 1] = 0;   // the byte before the first, for the first literal's context
    }
  }

  if (w.output.result.end == DecodeDone) {
    StreamEnd end = StreamDamaged;
    if (StartRange(rc)) end = DecodeSymbols(rc, *model, w, properties, endMarker);
    FlushWindow(w);
    // A whole stream ends with its code at zero and every byte of the data used.
    if (w.output.result.end == DecodeDone && rc.ranOut)
      w.output.result.end = DecodeInputEnds;
    else if (w.output.result.end == DecodeDone && (end == StreamDamaged || rc.code != 0 || !AllUsed(rc)))
      w.output.result.end = DecodeDamaged;
  }
  Release(model);
  Release(w.bytes);
}

// ---- solid blocks (docs/solid.md) ----
// The LZMA2 chunk layer over the same symbol decoder, with one window and one
// model that live from entry to entry of a block.

// LZMA2 allows lc + lp <= 4: the model of a block has room for 16 literal coders.
const uint32_t SolidModelSize = sizeof(Model) + LiteralCoderSize * 16 * sizeof(Prob);

struct SolidBlock {
  Window w;                 // the dictionary (its model follows it in the same block of memory)
  LzmaProperties p;
  uint32_t next;            // the number of the entry that may continue the state; 0: none (entries count from 1)
  bool orphaned;            // the entry continued a block whose state was not there
} Solid;

// The next two bytes of input as a big-endian number, plus one.
__attribute__((noinline)) uint32_t ChunkSize(RangeDecoder& rc) {
  uint32_t high = InputByte(rc);
  return (high << 8 | InputByte(rc)) + 1;
}

// Decodes a solid entry's data (a property byte, then LZMA2 chunks) into the
// block's window; returns how decoding ended, whatever the writes did.
__attribute__((noinline)) DecodeEnd DecodeChunks(RangeDecoder& rc, SolidBlock& b, uint32_t left, bool continues) {
  Window& w = b.w;
  uint32_t dictionary = InputByte(rc);
  for (;;) {
    if (rc.ranOut) break;
    if (AllUsed(rc)) return left == 0 ? DecodeDone : DecodeDamaged;
    uint32_t control = InputByte(rc);
    if (control == 1 || control >= 0xE0) {
      // A dictionary reset: what the window holds is written out, and the
      // window becomes as large as the block's dictionary.
      if (dictionary >= 40) return DecodeUnsupported;
      uint32_t size = (2 | (dictionary & 1)) << (dictionary / 2 + 11);
      FlushWindow(w);
      w.pos = w.start = w.total = 0;
      if (w.size != size) {
        Release(w.bytes);
        w.size = 0;
        w.bytes = (uint8_t*)TryAllocate(size + SolidModelSize);
        if (!w.bytes) return DecodeOutOfMemory;
        w.size = size;
      }
      w.bytes[size - 1] = 0;   // the byte before the first, for the first literal's context
      // No properties yet: an LZMA chunk must bring them.
      b.p.literalContextBits = 9;
      continues = true;
    } else if (!continues) {
      b.orphaned = true;
      break;
    }
    uint32_t size = ChunkSize(rc) + (control >= 0x80 ? (control & 0x1F) << 16 : 0);
    // Control bytes 0 and 3 to 0x7F are not chunks.
    if (size > left || (control - 1 > 1 && control < 0x80)) break;
    left -= size;
    if (control < 0x80) {
      // Uncompressed bytes, into the window as they are.
      do PutByte(w, (uint8_t)InputByte(rc));
      while (--size);
      continue;
    }
    uint32_t packed = ChunkSize(rc);
    if (control >= 0xC0 && !TakeProperties(InputByte(rc), b.p)) break;
    if (b.p.literalContextBits + b.p.literalPositionBits > 4) break;
    Model* model = (Model*)(w.bytes + w.size);
    if (control >= 0xA0) {
      // A state reset.
      ResetModel(model, SolidModelSize);
      __builtin_memset(&w.state, 0, 5 * sizeof(uint32_t));
    }
    // The chunk's data: they must decode to its size with every byte used.
    uint32_t before = rc.unread + (uint32_t)(rc.inEnd - rc.in);
    w.limit = w.total + size;
    if (!StartRange(rc) || DecodeSymbols(rc, *model, w, b.p, false) != StreamAtSize || rc.code != 0 ||
        before - rc.unread - (uint32_t)(rc.inEnd - rc.in) != packed)
      break;
  }
  return rc.ranOut ? DecodeInputEnds : DecodeDamaged;
}

// A solid entry into the block's window, which it returns: its output is
// 'output', its result what the decoding or else the writes gave.
__attribute__((noinline)) Window& SolidEntry(RangeDecoder& rc, const EntryOutput& output,
                                             const ExtractState& extraction) {
  SolidBlock& b = Held(Solid);
  b.w.output = output;
  // The state continues the entry before this one, or none; until this entry
  // is through, it continues nothing.
  bool continues = b.next == extraction.EntryNumber;
  b.next = 0;
  b.orphaned = false;
  DecodeEnd end = DecodeChunks(rc, b, extraction.CurrentEntry.UncompressedSize, continues);
  FlushWindow(b.w);
  // A failure to decode is named before one to write: the entries after it depend on it.
  if (end != DecodeDone) b.w.output.result.end = end;
  else b.next = extraction.EntryNumber + 1;
  return b.w;
}

}  // namespace

DecodeResult LzmaEntry(ExtractState& extraction) {
  const ArchiveEntry& entry = extraction.CurrentEntry;
  uint8_t* buffer = (uint8_t*)Allocate(InputPortion);
  RangeDecoder rc = {0xFFFFFFFF, 0, buffer, buffer, buffer,
                     extraction.CompressedLeft > 0 ? (uint32_t)extraction.CompressedLeft : 0, false};
  Window own = {nullptr, 0, 0, 0, entry.UncompressedSize, {extraction.OutputFile, extraction.Crc, {DecodeDone, 0}},
                0, 0, 0, 0, 0, 0};
  Window* w = &own;
  if (entry.Method == MethodSolid)
    w = &SolidEntry(rc, own.output, extraction);
  else
    DecodeData(rc, own, (entry.EntryFlags & FlagLzmaEndMarker) != 0);
  extraction.Crc = w->output.crc;
  extraction.CompressedLeft = (int32_t)rc.unread;
  Release(buffer);
  return w->output.result;
}

DecodeResult LzmaFromMemory(const uint8_t* data, uint32_t length, uint32_t size, bool endMarker,
                            FileHandle file, uint32_t& crc) {
  RangeDecoder rc = {0xFFFFFFFF, 0, nullptr, data, data + length, 0, false};
  Window w = {nullptr, 0, 0, 0, size, {file, crc, {DecodeDone, 0}}, 0, 0, 0, 0, 0, 0};
  DecodeData(rc, w, endMarker);
  crc = w.output.crc;
  return w.output.result;
}

bool SolidEntryOrphaned() { return Solid.orphaned; }

void ForgetSolidBlock() {
  Release(Solid.w.bytes);
  Solid = SolidBlock();
}
