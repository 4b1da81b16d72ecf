#pragma once
// The two ends every decoder shares. The input: State.CompressedLeft bytes of
// the entry, read from State.ArchiveFile into State.InBuffer in portions of at
// most InputPortion bytes and decrypted there when the entry is encrypted.
// The output: State.OutputFile, with State.Crc kept over what each write took.
#include <stdint.h>

#include "codec/decode_result.h"
#include "platform/platform.h"

const uint32_t InputPortion = 32768;

// Reads up to 'want' bytes of the entry into InBuffer and decrypts them;
// returns how many came (0 at the end of the file).
uint32_t ReadPortion(uint32_t want);
// Next byte of InBuffer (0..255), refilling it when used up; -1 when a refill
// delivers nothing (CompressedLeft then becomes 0).
int32_t FillInput();
// -1 once CompressedLeft is 0 or less; otherwise FillInput's byte, counted
// off CompressedLeft.
int32_t NextByte();

// Writes 'count' bytes to the output file and adds what the write took to
// the CRC and to result.written; a refused or short write sets result.end to
// DecodeWriteFailed, so the CRC covers only what the file holds.
void WriteOutput(const uint8_t* data, uint32_t count, DecodeResult& result);
// The same for any file and CRC (an entry decoded on a second thread). The
// bytes go out in pieces of at most OutputPiece: under Wine one write of
// several megabytes takes far longer than the same bytes in pieces.
const uint32_t OutputPiece = 1 << 20;
void WriteOutputTo(FileHandle file, uint32_t& crc, const uint8_t* data, uint32_t count,
                   DecodeResult& result);
