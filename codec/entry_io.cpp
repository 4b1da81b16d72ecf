#include "codec/entry_io.h"

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/crc32.h"
#include "codec/winzip_aes.h"
#include "platform/platform.h"

uint32_t ReadPortion(uint32_t want) {
  uint32_t got = want > 0 ? ReadArchive(State.InBuffer, want) : 0;
  if (got > want) got = want;
  if (State.CurrentEntry.EntryFlags & FlagEncrypted) DecryptEntryData(State.InBuffer, got);
  return got;
}

int32_t FillInput() {
  if (State.InPos >= State.InCount) {
    uint32_t want = State.CompressedLeft <= 0 ? 0
                    : State.CompressedLeft < (int32_t)InputPortion ? (uint32_t)State.CompressedLeft
                                                                   : InputPortion;
    uint32_t got = ReadPortion(want);
    State.InCount = (int32_t)got;
    State.InPos = 0;
    if (got == 0) {
      State.CompressedLeft = 0;
      return -1;
    }
  }
  return State.InBuffer[State.InPos++];
}

int32_t NextByte() {
  if (State.CompressedLeft <= 0) return -1;
  int32_t b = FillInput();
  State.CompressedLeft--;
  return b;
}

void WriteOutputTo(FileHandle file, uint32_t& crc, const uint8_t* data, uint32_t count,
                   DecodeResult& result) {
  while (count > 0) {
    uint32_t piece = count < OutputPiece ? count : OutputPiece;
    uint32_t written = WriteFileBytes(file, data, piece);
    if (written > piece) written = piece;
    result.written += written;
    CrcUpdate(data, (int32_t)written, crc);
    if (written < piece) {
      result.end = DecodeWriteFailed;
      return;
    }
    data += piece;
    count -= piece;
  }
}

void WriteOutput(const uint8_t* data, uint32_t count, DecodeResult& result) {
  WriteOutputTo(State.OutputFile, State.Crc, data, count, result);
}
