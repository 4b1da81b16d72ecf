#include "codec/entry_io.h"

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/crc32.h"
#include "codec/winzip_aes.h"
#include "platform/platform.h"

uint32_t ReadPortion(uint8_t* buffer, uint32_t want) {
  uint32_t got = want > 0 ? ReadArchive(buffer, want) : 0;
  if (got > want) got = want;
  if (State.CurrentEntry.EntryFlags & FlagEncrypted) DecryptEntryData(buffer, got);
  return got;
}

int32_t FillInput(EntryInput& input) {
  if (input.pos >= input.count) {
    uint32_t want = input.left <= 0                     ? 0
                    : input.left < (int32_t)InputPortion ? (uint32_t)input.left
                                                         : InputPortion;
    uint32_t got = ReadPortion(input.buffer, want);
    input.count = got;
    input.pos = 0;
    if (got == 0) {
      input.left = 0;
      return -1;
    }
  }
  return input.buffer[input.pos++];
}

int32_t NextByte(EntryInput& input) {
  if (input.left <= 0) return -1;
  int32_t b = FillInput(input);
  input.left--;
  return b;
}

void WriteOutput(EntryOutput& output, const uint8_t* data, uint32_t count) {
  while (count > 0) {
    uint32_t piece = count < OutputPiece ? count : OutputPiece;
    uint32_t written = WriteFileBytes(output.file, data, piece);
    if (written > piece) written = piece;
    output.result.written += written;
    CrcUpdate(data, (int32_t)written, output.crc);
    if (written < piece) {
      output.result.end = DecodeWriteFailed;
      return;
    }
    data += piece;
    count -= piece;
  }
}
