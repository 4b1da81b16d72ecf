#pragma once
// Copies the current stored (method 0) entry: its CompressedLeft bytes from
// State.ArchiveFile to its OutputFile in chunks of at most 32768 bytes,
// decrypting with DecryptEntryData when its CurrentEntry.EntryFlags bit 0 is
// set and updating its Crc over the bytes each write reported. A read that
// delivers nothing ends the copy. 'extraction' is the global State, which the
// caller holds in a register.
#include "base/state.h"
#include "codec/decode_result.h"

DecodeResult CopyStoredEntry(ExtractState& extraction);
