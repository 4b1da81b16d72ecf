#pragma once
// An entry's extra field, read from the package.
#include <stdint.h>

// The extra field of the entry whose local header (State.CurrentEntry) starts
// at 'headerPosition', in a block the caller releases; *length is what was read.
uint8_t* ReadEntryExtra(uint32_t headerPosition, uint32_t* length);
