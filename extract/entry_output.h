#pragma once
// An entry's output once its data are decoded: the verdict on the data, the
// entry's time, and the end of its temporary file (kept under the entry's
// name, or removed). Shared by the entries the engine decodes in turn and the
// one on its second thread (extract/background.h).
#include <stddef.h>
#include <stdint.h>

#include "archive/walk.h"
#include "base/entry.h"
#include "codec/decode_result.h"
#include "platform/platform.h"

// The paths of an entry being written: the destination folder, a backslash
// and its name (allocated per entry, because names and folders together have
// no fixed bound), and the temporary file it is written to.
struct EntryPaths {
  char* Output;
  size_t OutputLength;
  char* Temp;
};

void CopyBytes(char* dest, const char* source, size_t count);
// A message that ends in a blank, followed directly by a path or name.
void ShowMessageWith(const char* prefix, const char* detail, size_t detailLength, uint32_t icon);
void ReportCannotOpen(const EntryPaths& paths);
// Names an entry whose compression settings the decoder cannot serve (for
// those two outcomes; any other shows nothing).
void ReportUnservable(EntryOutcome outcome, const char* name);

// The one verdict on an entry's decoded data, given the CRC of what was
// written and whether the entry is AES-encrypted (its authentication code is
// then read at the read position).
EntryOutcome DataVerdict(DecodeResult decoded, uint32_t crc, const ArchiveEntry& entry, bool aes);
// The time of the current entry, whose local header starts at 'headerPosition'.
void ReadEntryTime(uint32_t headerPosition, FileStamp& stamp);
// Ends an entry's temporary file 'file' by its outcome; returns the outcome,
// a write failure when the close or the move fails. The temporary path is
// released; the output path stays the caller's.
EntryOutcome SettleOutput(EntryOutcome outcome, FileHandle file, EntryPaths& paths,
                          const FileStamp& stamp, ListHandle list, int32_t listIndex);
