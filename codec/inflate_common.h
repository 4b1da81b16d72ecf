#pragma once
// What the two code decoders share: the window, how matches are copied into
// it and how it is written out, the state of an entry, the block results and
// the reader of a dynamic block's code lengths. inflate.cpp holds the blocks
// and the decoder on linked tables (the stub's); inflate_packed.cpp the
// decoder on packed tables that 64-bit hosts use.
#include <stdint.h>
#include <string.h>

#include "codec/decode_result.h"
#include "codec/entry_io.h"

const uint32_t WindowSize = 32768;
// The code lengths of a dynamic block: nl (257 + a 5-bit count) literal/length
// lengths followed by nd (1 + a 5-bit count) distance lengths.
const uint32_t MaxLitLenCodes = 257 + 31;
const uint32_t MaxDistCodes = 1 + 31;
// The code-length code's symbols, which decode to themselves, and its
// longest code (3-bit lengths), which is also its root width.
const uint32_t CodeLengthSymbols = 19;
const uint32_t CodeLengthCodeBits = 7;
inline constexpr uint16_t NoBase[CodeLengthSymbols] = {};
inline constexpr uint8_t NoExtra[CodeLengthSymbols] = {};
// Room the word loop's match copy may write past a match's end (and then restore).
const uint32_t CopyOverrun = 16;

// Block results: Continue is internal to the code loop.
enum : int { BlockDone = 0, EntryStop = 1, Continue = 2 };

// Bytes that must be buffered for the word loop to decode one more symbol
// and look up the next: at most three refills of a word each.
const intptr_t FastMargin = 16;

// ---- the state of one entry ----
// The byte reader works on the state's bits in place; each word loop on a
// local copy, loaded when it starts and saved when it returns normally (an
// entry that stops needs no saved state).
struct Bits {
  uint32_t buffer;   // bit 0 is the next bit of the stream
  uint32_t count;    // bits held in buffer
};

// Everything a deflated entry's decoding changes, held by InflateEntry and
// handed to every routine.
struct InflateState {
  EntryInput input;
  Bits bits;
  uint8_t* window;
  uint32_t windowPos;
  // Set once the window has been written out: from then on every distance up
  // to 32768 reaches history. Before that a distance may reach only the bytes
  // already produced for this entry; anything further is damage, not stale data.
  bool windowWrapped;
  EntryOutput output;
};

// Writes the first k bytes of the window to the output and adds them to the CRC.
inline void FlushWindow(InflateState& state, uint32_t k) { WriteOutput(state.output, state.window, k); }

// Called after every advance of the window position: a full window is written
// out and the next cycle starts at 0; from then on distances reach history.
inline uint32_t WrapWhenFull(InflateState& state, uint32_t wpos) {
  if (wpos == WindowSize) {
    FlushWindow(state, WindowSize);
    state.windowWrapped = true;
    wpos = 0;
  }
  return wpos;
}

// ---- output ----

// Copies n bytes from src to dst front to back, as a byte loop would: where
// the source is less than n bytes behind, the copy repeats the last bytes.
// Never writes past dst + n, since the rest of the window is live history.
inline void CopyForward(uint8_t* dst, const uint8_t* src, uint32_t n) {
  if (src == dst) return;   // a distance of exactly 32768
#ifdef __OPTIMIZE_SIZE__
  // Built for size (the stub) the byte loop alone: CopyMatchFast takes every
  // match but those near the window's end and those of the byte reader.
  while (n--) *dst++ = *src++;
#else
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
#endif
}

// Copies a back-reference into the window in pieces that cross neither the
// end of the source's nor of the destination's window cycle; the window is
// written out whenever it fills. Returns the new window position.
inline uint32_t CopyMatch(InflateState& state, uint32_t wpos, uint32_t distance, uint32_t length) {
  uint8_t* const window = state.window;
  uint32_t from = (wpos - distance) & (WindowSize - 1);
  while (length > 0) {
    uint32_t piece = WindowSize - (from > wpos ? from : wpos);
    if (piece > length) piece = length;
    length -= piece;
    CopyForward(window + wpos, window + from, piece);
    wpos = WrapWhenFull(state, wpos + piece);
    from = (from + piece) & (WindowSize - 1);
  }
  return wpos;
}

// CopyMatch for the word loops: where the whole match lies in one window
// cycle, either behind the destination or far enough ahead (then distance is
// at least 19) that no word written touches a byte still to be read, with
// room after both, it copies whole words and then puts back the bytes the
// last word overwrote past the end (they are live history).
__attribute__((always_inline)) inline uint32_t CopyMatchFast(InflateState& state, uint8_t* window,
                                                             uint32_t wpos, uint32_t distance,
                                                             uint32_t length) {
  // The source starts 'from'; in the previous window cycle when it lies
  // ahead of the destination.
  const uint32_t from = (wpos - distance) & (WindowSize - 1);
  if (!(wpos + length + CopyOverrun <= WindowSize &&
        (distance <= wpos ||
         (from >= wpos + length + CopyOverrun && from + length + CopyOverrun <= WindowSize))))
    return CopyMatch(state, wpos, distance, length);
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

// The code lengths of the fixed literal/length code.
inline void FixedLitLengths(uint16_t* lengths) {
  for (int i = 0; i < 144; i++) lengths[i] = 8;
  for (int i = 144; i < 256; i++) lengths[i] = 9;
  for (int i = 256; i < 280; i++) lengths[i] = 7;
  for (int i = 280; i < 288; i++) lengths[i] = 8;
}

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

#if UINTPTR_MAX > 0xFFFFFFFFu
// inflate_packed.cpp: whether blocks decode on packed tables (64-bit hosts,
// unless a test asks for the stub's loops), a fixed block on them, and the
// rest of a dynamic block from its code-length code's lengths on ('lengths'
// holds them by symbol, 'bits' is the bit state after them).
bool UsePackedTables();
int PackedFixedBlock(InflateState& state);
int PackedDynamicBlock(InflateState& state, Bits bits, uint16_t* lengths, uint32_t nl, uint32_t nd);
#endif
