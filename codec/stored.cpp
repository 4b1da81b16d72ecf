#include "codec/stored.h"

#include "codec/entry_io.h"
#include "codec/winzip_aes.h"
#include "base/reader.h"
#include "base/state.h"
#include "platform/platform.h"

DecodeResult CopyStoredEntry() {
  DecodeResult result = {DecodeDone, 0};
  if (State.CompressedLeft <= 0) return result;
  const int32_t chunk = 32768;
  int32_t size = State.CompressedLeft < chunk ? State.CompressedLeft : chunk;
  uint8_t* buffer = (uint8_t*)Allocate((size_t)size + 2);
  bool encrypted = (State.CurrentEntry.EntryFlags & FlagEncrypted) != 0;
  while (State.CompressedLeft > 0) {
    uint32_t want = (uint32_t)(State.CompressedLeft < chunk ? State.CompressedLeft : chunk);
    uint32_t got = ReadArchive(buffer, want);
    if (got == 0 || got > want) {   // a truncated archive ends the copy
      result.end = DecodeInputEnds;
      break;
    }
    State.CompressedLeft -= (int32_t)got;
    if (encrypted) DecryptEntryData(buffer, got);
    WriteOutput(buffer, got, result);
  }
  Release(buffer);
  return result;
}
