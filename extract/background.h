#pragma once
// An LZMA entry, the slowest to decode, may be decoded on a second thread
// while the walk goes on with the next entries on the first, so that two
// processor cores decode at once. One entry at a time; it is settled (judged,
// moved onto its name or removed) once its thread has ended, and at the
// latest before a later entry of its name and at the end of the run.
#include <stdint.h>

#include "archive/walk.h"
#include "base/entry.h"
#include "base/state.h"
#include "extract/entry_output.h"
#include "platform/platform.h"

// Whether the entry goes to the second thread: an LZMA entry of 64 KiB or
// more, not encrypted, with at most 64 MiB of data, while none runs there.
bool GoesToBackground(const ArchiveEntry& entry);
// Reads the current entry's data (at the read position) into 'data' and hands
// the entry, its temporary file (state.OutputFile) open and its 'paths' (both
// taken over), to the second thread. 'state' is the global State, held by
// the caller. Returns EntryDecoding while that runs;
// without a thread the entry is decoded here the same way, and its outcome
// returned.
EntryOutcome StartBackground(ExtractState& state, uint8_t* data, const char* name, uint32_t headerPosition,
                             ListHandle list, EntryPaths& paths);
// Settles the entry on the second thread once that has ended; with 'wait',
// waits for it. Its messages are in its own encoding.
void SettleBackground(bool wait);
// Settles the entry on the second thread first, waiting for it, when it
// writes the file or folder 'path' names as the file system sees it: an
// entry of that name later in the archive must come after it.
void SettleBackgroundBefore(const char* path);
