#pragma once
// The extraction mode of the archive walk: one selected entry at a time, then
// the end-of-run message.
// ExtractEntry and FinishExtraction, the walk's hooks, are declared with the walk.
#include <stdint.h>
#include "archive/walk.h"
#include "platform/platform.h"

// The two messages that end an extraction run.
extern const char AllExtractedText[];
extern const char NotExtractedText[];
