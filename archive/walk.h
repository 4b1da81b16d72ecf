#pragma once
// The forward walk over the archive's local headers, in listing or extraction mode.
#include <stdint.h>
#include "platform/platform.h"

// What the walk does with an entry in extraction mode; the extraction engine
// (extract/engine.cpp) provides ExtractEntry and FinishExtraction.
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
// 'complete' is false when the walk stopped before the archive's end (a cut
// or damaged package): the run then fails whatever the list holds.
void FinishExtraction(ListHandle list, bool complete);

// The extra field of the entry whose local header (State.CurrentEntry) starts
// at 'headerPosition', in a block the caller releases; *length is what was read.
uint8_t* ReadEntryExtra(uint32_t headerPosition, uint32_t* length);

bool ReadLocalHeader();
bool FindSelectedEntry(ListHandle list, const char* name);
// Walks the archive into the dialog's list 'listId'. Refused (does nothing)
// while another walk is running.
void ProcessArchive(WindowHandle dialog, int listId, bool listOnly);
bool WalkRunning();
