#include "base/reader.h"

#include "base/state.h"
#include "base/config.h"

namespace {

// Bytes [BlockStart, BlockEnd) of the file are in Block; the file itself
// stands at BlockEnd, and the read position is Position, within the block's
// range. While Tracking is off (no seek yet) nothing is buffered.
uint8_t Block[ArchiveBlockSize];
uint32_t BlockStart, BlockEnd, Position;
bool Tracking;

}  // namespace

void UseArchiveFile(FileHandle file) {
  State.ArchiveFile = file;
  Tracking = false;
}

void SeekArchive(uint32_t offset, uint16_t origin) {
  (void)origin;  // every caller positions from the start of the file
  if (Tracking && offset >= BlockStart && offset <= BlockEnd) {
    Position = State.LastSeek = offset;
    return;
  }
  State.LastSeek = SeekFile(State.ArchiveFile, offset);
  if (State.LastSeek == SeekFailed) return;
  BlockStart = BlockEnd = Position = offset;
  Tracking = true;
}

uint32_t ReadArchive(void* buffer, uint32_t count) {
  if (!Tracking) return ReadFileBytes(State.ArchiveFile, buffer, count);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = BlockEnd - Position;
  if (done > count) done = count;
  __builtin_memcpy(out, Block + (Position - BlockStart), done);
  Position += done;
  if (done == count) return done;
  // The block is used up. A large read takes the rest straight from the file
  // (and the next one then starts on a fresh block); a small one refills it.
  uint32_t rest = count - done;
  if (count >= ArchiveBlockSize) {
    uint32_t got = ReadFileBytes(State.ArchiveFile, out + done, rest);
    if (got > rest) got = rest;
    BlockStart = BlockEnd = Position = Position + got;
    return done + got;
  }
  uint32_t got = ReadFileBytes(State.ArchiveFile, Block, ArchiveBlockSize);
  if (got > ArchiveBlockSize) got = ArchiveBlockSize;
  BlockStart = Position;
  BlockEnd = Position + got;
  if (rest > got) rest = got;
  __builtin_memcpy(out + done, Block, rest);
  Position += rest;
  return done + rest;
}
