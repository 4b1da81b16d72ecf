#pragma once
// Decodes the current deflated (method 8) entry: reads State.CompressedLeft
// bytes from State.ArchiveFile (decrypting when State.CurrentEntry.EntryFlags
// bit 0 is set), writes the output to State.OutputFile in pieces of 32768
// bytes plus one shorter piece, and updates State.Crc over what it writes.
//
// Damaged data (an invalid code or table, a distance reaching before the
// entry's first byte, input that runs out) ends the entry at once; the result
// says how it ended. A failed write does not stop the decoding: the CRC
// covers only what the writes took.
#include "codec/decode_result.h"

DecodeResult InflateEntry();

// Releases the fixed-code tables, which are built once and kept for the run.
void FreeFixedTables();
