#pragma once
// The two ends every decoder shares. The input: the entry's data, read from
// State.ArchiveFile into the decoder's buffer in portions of at most
// InputPortion bytes and decrypted there when the entry is encrypted.
// The output: a file, with a CRC kept over what each write took. Each decoder
// holds both in its own state and passes them along: reached through a
// pointer, a field costs the stub less than a global does.
#include <stdint.h>

#include "codec/decode_result.h"
#include "platform/platform.h"

const uint32_t InputPortion = 32768;

// The buffered input of an entry.
struct EntryInput {
  uint8_t* buffer;   // InputPortion bytes or more
  uint32_t pos;      // next byte of the buffer
  uint32_t count;    // bytes in the buffer
  int32_t left;      // bytes of the entry not yet taken
};

// Reads up to 'want' bytes of the entry into 'buffer' and decrypts them;
// returns how many came (0 at the end of the file).
uint32_t ReadPortion(uint8_t* buffer, uint32_t want);
// Next byte of the buffer (0..255), refilling it when used up; -1 when a
// refill delivers nothing (left then becomes 0).
int32_t FillInput(EntryInput& input);
// -1 once left is 0 or less; otherwise FillInput's byte, counted off left.
int32_t NextByte(EntryInput& input);

// The output of an entry: its file, the CRC over what the file took, and
// what the decoder reports.
struct EntryOutput {
  FileHandle file;
  uint32_t crc;
  DecodeResult result;
};

// Writes 'count' bytes to the output file and adds what the write took to
// the CRC and to result.written; a refused or short write sets result.end to
// DecodeWriteFailed, so the CRC covers only what the file holds. The bytes
// go out in pieces of at most OutputPiece: under Wine one write of several
// megabytes takes far longer than the same bytes in pieces.
const uint32_t OutputPiece = 1 << 20;
void WriteOutput(EntryOutput& output, const uint8_t* data, uint32_t count);
