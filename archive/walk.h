#pragma once
// The forward walk over the archive's local headers, in listing or extraction mode.
#include <stdint.h>
#include "base/state.h"
#include "platform/platform.h"

// What the walk does after an entry in extraction mode.
enum EntryResult {
  NextEntry,   // go on with the next header
  EndWalk,     // stop the walk; the end-of-run step still runs
  AbortRun     // stop the run at once, with no end-of-run step
};

// What became of an entry handed to extraction. The first four mirror how a
// decoder ends (codec/decode_result.h), so a decoder's end is its entry's outcome.
enum EntryOutcome : uint8_t {
  EntryExtracted,      // written and checked (a folder entry: its folder exists)
  EntryDamaged,        // its data are damaged, or cannot be located
  EntryEndsEarly,      // its data end before their stream does
  EntryWriteFailed,    // a file or folder could not be created, written, closed or moved
  EntryUnsupported,    // compression settings the decoder does not take
  EntryOutOfMemory,    // the decoder's buffers for its settings cannot be allocated
  EntryCrcMismatch,    // decoded in full, but not to its CRC-32
  EntryCodeMismatch,   // an AES entry whose authentication code does not match
  EntrySizeMismatch,   // its stream ended, but not at its size
  EntryKept,           // a file stands under its name and the run keeps existing files
  EntryRefusedName,    // its name would leave the destination folder
  EntryWrongPassword,  // no password that was tried opens it
  EntryUnknownMethod,  // a compression method (or AES field) the engine does not read
  EntryDecoding,       // being decoded on a second thread: its item is deselected once it
                       // checks out, at the latest before the run's final message
  EntrySkipped         // not selected: the walk passes it by (for the run's log)
};

struct EntryReport {
  EntryResult next;      // what the walk does next
  EntryOutcome outcome;
};

// What extraction mode does with each selected entry, and at the end of a
// run: the extraction engine's (extract/engine.h), or a tool's around it.
struct EntryHandler {
  // The entry whose header is State.CurrentEntry, read at 'headerPosition',
  // with the given name; State.LastIndex is its list item.
  EntryReport (*Extract)(WindowHandle dialog, ListHandle list, uint32_t headerPosition,
                         const char* name);
  // The end of a run that handled at least one entry or stopped early.
  // 'complete' is false when the walk stopped before the archive's end (a
  // cut or damaged package): the run then fails whatever the list holds.
  void (*Finish)(ListHandle list, bool complete);
};

// Where and why a walk stopped.
enum WalkEnd : uint8_t {
  WalkComplete,     // at the central directory or end record: where the archive says it ends
  WalkStopped,      // the handler ended or aborted the run
  WalkRefusedName,  // an entry whose name is empty or too long
  WalkFileEnds,     // the file ends where a header should be: the package is cut short
  WalkCutHeader,    // the file ends inside a local header
  WalkCutName,      // the file ends inside an entry's name
  WalkNoHeader,     // bytes that are no header, or a position that cannot be reached
  WalkBusy          // another walk is running: nothing was done
};
struct WalkResult {
  WalkEnd end;
  uint32_t position;   // of the header (or the bytes) where the walk stopped
};

bool FindSelectedEntry(ListHandle list, const char* name);
// Walks the archive into the dialog's list 'listId': lists every entry when
// 'extraction' is null, else hands each selected entry to it. Refused (does
// nothing) while another walk is running.
WalkResult ProcessArchive(WindowHandle dialog, int listId, const EntryHandler* extraction);
inline WalkResult ListArchive(WindowHandle dialog, int listId) {
  return ProcessArchive(dialog, listId, nullptr);
}
bool WalkRunning();
// The same, for a caller that already holds the state in a register.
inline bool WalkRunning(const ExtractState& state) { return state.Walking; }
// "Error reading archive.": the archive, or an entry's data, cannot be read.
void ReportReadError();
