#pragma once
// Decodes the current deflated (method 8) entry: reads its CompressedLeft
// bytes from State.ArchiveFile (decrypting when State.CurrentEntry.EntryFlags
// bit 0 is set), writes the output to its OutputFile in pieces of 32768
// bytes plus one shorter piece, and updates its Crc over what it writes.
// 'extraction' is the global State, which the caller holds in a register.
//
// Damaged data (an invalid code or table, a distance reaching before the
// entry's first byte, input that runs out) ends the entry at once; the result
// says how it ended. A failed write does not stop the decoding: the CRC
// covers only what the writes took.
#include "base/state.h"
#include "codec/decode_result.h"

DecodeResult InflateEntry(ExtractState& extraction);

// The code loops InflateEntry runs. The stub's own decode on linked tables
// with a 32-bit word loop; where pointers are 64 bits wide there are also
// packed tables with a 64-bit word loop, the fastest. Every loop hands the
// tail of the buffered input to a byte-at-a-time reader; that reader alone,
// the slowest, serves to check the others.
enum CodeLoops : uint8_t {
  FastestLoops = 0,   // packed tables on 64-bit hosts, the stub's loops elsewhere
  StubLoops = 1,      // what `tolvane-pack test` runs, to read a package as the stub does
  ByteLoops = 2       // a bit of its own, which the code loop tests
};
extern CodeLoops InflateUses;   // FastestLoops unless set

// Releases the fixed-code tables, which are built once and kept for the run.
void FreeFixedTables();
