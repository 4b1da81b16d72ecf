#pragma once
// The modification time an entry carries.
#include <stdint.h>
#include "platform/platform.h"

// The time from the extra field: the NTFS field first (finer), then the
// extended timestamp; without either, the DOS date and time of the header.
// Fields that run past 'length' are ignored. Written into 'stamp': a stamp
// returned by value is a copy on the caller's stack, which the stub's
// compiler aligns by realigning the whole frame.
void EntryStamp(const uint8_t* extra, uint32_t length, uint16_t dosDate, uint16_t dosTime,
                FileStamp& stamp);
