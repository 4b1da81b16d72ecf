#pragma once
// Decodes the current LZMA (method 14) entry. Its data start with four bytes
// (the encoder's version, two bytes, then the size of the properties, 16 bits,
// which is 5) and the five properties: one byte (pb * 5 + lp) * 9 + lc, then
// the dictionary size, 32 bits. The range-coded stream follows. It ends at the
// entry's uncompressed size, and when flag bit 1 (FlagLzmaEndMarker) is set
// with its end marker there unless no byte is left; it never produces more
// than that size.
//
// Input, decryption, output and CRC are those of every decoder
// (codec/entry_io.h). The window and the probabilities are allocated per
// entry, the window as large as the dictionary or the entry, whichever is
// smaller. Properties beyond the format's limits end the entry as
// DecodeUnsupported, buffers that cannot be allocated as DecodeOutOfMemory;
// nothing is written then.
#include <stdint.h>

#include "base/state.h"
#include "codec/decode_result.h"
#include "platform/platform.h"

// 'extraction' is the global State, which the caller holds in a register.
DecodeResult LzmaEntry(ExtractState& extraction);
// The same for an entry whose 'length' bytes of data are in memory, 'size'
// bytes once decoded, written to 'file' with 'crc' kept over what it took.
// Touches no shared state: it runs on a second thread while the walk goes on.
DecodeResult LzmaFromMemory(const uint8_t* data, uint32_t length, uint32_t size, bool endMarker,
                            FileHandle file, uint32_t& crc);

// The properties of an LZMA stream: lc, lp and pb, and the dictionary size.
struct LzmaProperties {
  uint32_t literalContextBits;    // lc, 0..8
  uint32_t literalPositionBits;   // lp, 0..4
  uint32_t positionBits;          // pb, 0..4
  uint32_t dictionarySize;
};
const uint32_t LzmaHeaderSize = 4 + 5;
// Reads the header at the start of an entry's data; false when the properties
// size is not 5 or the lc/lp/pb byte lies beyond the format's limits.
bool ReadLzmaHeader(const uint8_t* header, LzmaProperties& properties);

// LzmaEntry decodes a solid entry too (method MethodSolid, docs/solid.md): a
// property byte, then LZMA2 chunks that continue the block's stream. The
// window (the block's dictionary) and the coder's state live from entry to
// entry: an entry whose first chunk does not reset the dictionary continues
// the state that the entry numbered extraction.EntryNumber - 1 left, and ends
// as DecodeDamaged when that entry was not decoded whole (it failed, or was
// never given to the decoder). An entry that fails leaves no state, so the
// later entries of its block fail too; the next dictionary reset starts
// afresh. The window is as large as the block's dictionary, allocated at the
// block's start and kept for the next block of the same size.
// Input, decryption, output and CRC are those of every decoder; a write that
// fails does not stop the decoding (the state stays good for the next
// entry), so an entry decoded with no file at all is decoded for the
// entries after it; a failure to decode is reported before a failure to write.
// Whether the last solid entry failed because it continued a block whose
// state was not there (an earlier entry of its block failed or was not decoded).
bool SolidEntryOrphaned();
// Releases the block's window and forgets its state (the tools, between packages).
void ForgetSolidBlock();
