// Reading an entry's extra field.
#include "archive/extra_field.h"

#include "base/config.h"
#include "base/entry.h"
#include "platform/held.h"
#include "base/reader.h"
#include "base/state.h"

uint8_t* ReadEntryExtra(uint32_t headerPosition, uint32_t* length) {
  ExtractState& state = Held(State);
  const ArchiveEntry& entry = state.CurrentEntry;
  uint8_t* extra = (uint8_t*)Allocate(entry.ExtraLength + 1u);
  *length = 0;
  SeekArchive(headerPosition + LocalHeaderSize + entry.NameLength, 0);
  if (state.LastSeek != SeekFailed) *length = ReadArchive(extra, entry.ExtraLength);
  return extra;
}
