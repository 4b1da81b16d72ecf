#pragma once
// CRC-32 (the reflected polynomial 0xEDB88320 that ZIP uses) over the bytes
// written for an entry. The running value lives in State.Crc; callers start it
// at 0xFFFFFFFF and complement it once at the end.
#include <stdint.h>

// State.CrcTable holds eight rows of 256 words: row k gives the CRC of a byte
// followed by k zero bytes, so that CrcUpdate takes eight bytes per step. Row
// 0 is the one-byte step's table. Reached through the one pointer, the rows
// cost the stub no relocations.
const uint32_t CrcTableRows = 8;
const uint32_t CrcTableSize = CrcTableRows * 256 * sizeof(uint32_t);

// Fills State.CrcTable (the caller allocated CrcTableSize bytes). Must run
// once before any CrcStep or CrcUpdate.
void BuildCrcTable();

// One byte: CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8).
uint32_t CrcStep(uint8_t b, uint32_t crc);
// The same on a table the caller already holds (a loop keeps it in a register).
inline uint32_t CrcStepIn(const uint32_t* table, uint32_t b, uint32_t crc) {
  return table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// Applies CrcStep to each byte in order; a length of 0 or less changes nothing.
void CrcUpdate(const uint8_t* buffer, int32_t length, uint32_t& crc);

// On x86-64 hosts whose processor multiplies carry-less, CrcUpdate folds long
// buffers 64 bytes per step, or 256 where it does so on 512-bit registers;
// elsewhere (the stub) it takes the tables. Every way gives the same CRC.
enum CrcWay : uint8_t { CrcWideFolding, CrcFolding, CrcTables };
// CrcUpdate the given way, or the next narrower one the processor has (the
// tests and the benchmark run them one against another).
void CrcUpdateBy(CrcWay way, const uint8_t* buffer, int32_t length, uint32_t& crc);
