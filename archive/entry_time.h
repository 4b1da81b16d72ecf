#pragma once
// The modification time an entry carries.
#include <stdint.h>
#include "platform/platform.h"

// Bytes of a local header's extra field that are searched for a time.
const uint32_t ExtraTimeRoom = 256;

// The time from the extra field: the NTFS field first (finer), then the
// extended timestamp; without either, the DOS date and time of the header.
// Fields that run past 'length' are ignored.
FileStamp EntryStamp(const uint8_t* extra, uint32_t length, uint16_t dosDate, uint16_t dosTime);
