#pragma once
// The extraction mode of the archive walk: one selected entry at a time, then
// the end-of-run message.
#include <stdint.h>
#include "platform/platform.h"

enum EntryResult {
  NextEntry,   // go on with the next header
  EndWalk,     // stop the walk; the end-of-run step still runs
  AbortRun     // stop the run at once, with no end-of-run message
};

// Set when the entry being extracted passed the password stage.
extern bool EntryReady;

// Extracts the entry whose header is State.CurrentEntry, read at
// headerPosition, with the given name; State.LastIndex is its list item.
EntryResult ExtractEntry(WindowHandle dialog, ListHandle list, uint32_t headerPosition,
                         const char* name);
// The end of an extraction run: the final message and ExtractSucceeded.
void FinishExtraction(ListHandle list);
