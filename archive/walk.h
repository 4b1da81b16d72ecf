#pragma once
// The forward walk over the archive's local headers, in listing or extraction mode.
#include <stdint.h>
#include "platform/platform.h"

bool ReadLocalHeader();
bool FindSelectedEntry(ListHandle list, const char* name);
// Walks the archive into the dialog's list 'listId'. Refused (does nothing)
// while another walk is running.
void ProcessArchive(WindowHandle dialog, int listId, bool listOnly);
bool WalkRunning();
