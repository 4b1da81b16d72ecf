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

// False (the default): decode codes with the word-at-a-time loop while
// enough input is buffered. True: the byte-at-a-time reader throughout.
extern bool InflateByteReader;
// The word loop uses a 64-bit bit buffer where pointers are 64 bits wide and
// a 32-bit one elsewhere (the stub); true selects the 32-bit one on 64-bit
// hosts too. Tests run all three variants.
extern bool InflateNarrowWord;
