#include "codec/stored.h"

#include "codec/entry_io.h"
#include "codec/winzip_aes.h"
#include "base/reader.h"
#include "base/state.h"
#include "platform/platform.h"

DecodeResult CopyStoredEntry(ExtractState& extraction) {
  EntryOutput output = {extraction.OutputFile, extraction.Crc, {DecodeDone, 0}};
  int32_t left = extraction.CompressedLeft;
  if (left <= 0) return output.result;
  const int32_t chunk = 32768;
  int32_t size = left < chunk ? left : chunk;
  uint8_t* buffer = (uint8_t*)Allocate((size_t)size + 2);
  bool encrypted = (extraction.CurrentEntry.EntryFlags & FlagEncrypted) != 0;
  while (left > 0) {
    uint32_t want = (uint32_t)(left < chunk ? left : chunk);
    uint32_t got = ReadArchive(buffer, want);
    if (got == 0 || got > want) {   // a truncated archive ends the copy
      output.result.end = DecodeInputEnds;
      break;
    }
    left -= (int32_t)got;
    if (encrypted) DecryptEntryData(buffer, got);
    WriteOutput(output, buffer, got);
  }
  Release(buffer);
  extraction.CompressedLeft = left;
  extraction.Crc = output.crc;
  return output.result;
}
