#pragma once
// The extraction mode of the archive walk: one selected entry at a time, then
// the end-of-run message.
#include <stdint.h>
#include "archive/walk.h"
#include "platform/platform.h"

// The two messages that end an extraction run.
extern const char AllExtractedText[];
extern const char NotExtractedText[];

// What became of an entry the engine was given.
enum EntryOutcome : uint8_t {
  EntryExtracted,      // written and checked (a folder entry: its folder exists)
  EntryKept,           // a file stands under its name and the run keeps existing files
  EntryRefusedName,    // its name would leave the destination folder
  EntryWrongPassword,  // no password that was tried opens it
  EntryUnknownMethod,  // a compression method (or AES field) the engine does not read
  EntryDamaged,        // its data are damaged, or cannot be located
  EntryEndsEarly,      // its data end before their stream does
  EntryCrcMismatch,    // decoded in full, but not to its CRC-32
  EntryCodeMismatch,   // an AES entry whose authentication code does not match
  EntryWriteFailed     // a file or folder could not be created, written, closed or moved
};

struct EntryReport {
  EntryResult next;      // what the walk does next
  EntryOutcome outcome;
};

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
