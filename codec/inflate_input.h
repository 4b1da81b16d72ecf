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
