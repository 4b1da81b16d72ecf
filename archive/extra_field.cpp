// Reading and searching an entry's extra field.
#include "archive/entry.h"
#include "archive/walk.h"
#include "extract/state.h"
#include "package/config.h"
#include "package/reader.h"

const uint8_t* FindExtraField(const uint8_t* extra, uint32_t length, uint16_t tag, uint16_t* size) {
  for (uint32_t at = 0; at + 4 <= length;) {
    uint16_t id = Read16(extra + at);
    uint16_t fieldSize = Read16(extra + at + 2);
    at += 4;
    if (at + fieldSize > length) break;   // runs past the end: damaged
    if (id == tag) {
      *size = fieldSize;
      return extra + at;
    }
    at += fieldSize;
  }
  return nullptr;
}

uint8_t* ReadEntryExtra(uint32_t headerPosition, uint32_t* length) {
  const ArchiveEntry& entry = State.CurrentEntry;
  uint8_t* extra = (uint8_t*)Allocate(entry.ExtraLength + 1u);
  *length = 0;
  SeekArchive(headerPosition + LocalHeaderSize + entry.NameLength, 0);
  if (State.LastSeek != SeekFailed) *length = ReadArchive(extra, entry.ExtraLength);
  return extra;
}
