#pragma once
// Copies the current stored (method 0) entry: State.CompressedLeft bytes from
// State.ArchiveFile to State.OutputFile in chunks of at most 32768 bytes,
// decrypting with DecryptEntryData when State.CurrentEntry.EntryFlags bit 0 is
// set and updating State.Crc over the bytes each write reported. A read that
// delivers nothing ends the copy.
#include "codec/decode_result.h"

DecodeResult CopyStoredEntry();
