#pragma once
// The run log's line for an entry: what became of it, and why when it failed.
#include "archive/walk.h"

// "extracted", "kept", "skipped" or "failed", the name (in the texts'
// encoding) and, for a failure, its reason (a failed write with the
// system's words).
void LogEntry(EntryOutcome outcome, const char* name);
