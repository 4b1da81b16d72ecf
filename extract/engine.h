#pragma once
// The extraction mode of the archive walk: one selected entry at a time, then
// the end-of-run message.
#include <stdint.h>
#include "archive/walk.h"
#include "platform/platform.h"

// The two messages that end an extraction run.
extern const char AllExtractedText[];
extern const char NotExtractedText[];

// Extracts the entry whose header is State.CurrentEntry, read at
// 'headerPosition', with the given name; State.LastIndex is its list item,
// deselected when the entry is done.
EntryReport ExtractEntry(WindowHandle dialog, ListHandle list, uint32_t headerPosition,
                         const char* name);
// The end of an extraction run: the final message and State.ExtractSucceeded.
void FinishExtraction(ListHandle list, bool complete);

// The engine as the walk's handler.
extern const EntryHandler Extraction;

// Extracts the selected entries of the dialog's list 'listId' below DestFolder.
WalkResult ExtractArchive(WindowHandle dialog, int listId);
