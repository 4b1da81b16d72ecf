#pragma once
// The byte end of the inflate input: State.CompressedLeft bytes of the entry,
// read from State.ArchiveFile into State.InBuffer in portions of at most 32768
// bytes and decrypted there when the entry is encrypted.
#include <stdint.h>

// Next byte of InBuffer (0..255), refilling it when used up; -1 when a refill
// delivers nothing (CompressedLeft then becomes 0).
int32_t FillInput();
// -1 once CompressedLeft is 0 or less; otherwise FillInput's byte, counted
// off CompressedLeft.
int32_t NextByte();

// Where pointers are 64 bits wide, codes are decoded on packed tables with a
// 64-bit word loop; elsewhere (the stub) on linked tables with a 32-bit word
// loop. Both hand the tail of the buffered input to a byte-at-a-time reader.
// Tests run three variants on 64-bit hosts: the default, the stub's loop
// (InflateNarrowWord) and the stub's byte reader alone (InflateByteReader).
//
// False (the default): decode codes with a word-at-a-time loop while
// enough input is buffered. True: linked tables and the byte-at-a-time
// reader throughout.
extern bool InflateByteReader;
// True: linked tables and the 32-bit word loop on 64-bit hosts too.
extern bool InflateNarrowWord;
