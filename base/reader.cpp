#include "base/reader.h"

#include "base/state.h"
#include "base/config.h"
#include "platform/held.h"

namespace {

// Bytes [blockStart, blockEnd) of the file are in block; the file itself
// stands at blockEnd, and the read position is position, within the block's
// range. While tracking is off (no seek yet) nothing is buffered. Its
// functions take it by reference, from Held (platform/held.h): each field is then
// a one-byte displacement from a register, not an address to relocate.
struct ArchiveReader {
  uint32_t blockStart, blockEnd, position;
  bool tracking;
  uint8_t block[ArchiveBlockSize];
};
ArchiveReader Reader;

void SeekIn(ArchiveReader& reader, ExtractState& state, uint32_t offset) {
  if (reader.tracking && offset >= reader.blockStart && offset <= reader.blockEnd) {
    reader.position = state.LastSeek = offset;
    return;
  }
  state.LastSeek = SeekFile(state.ArchiveFile, offset);
  if (state.LastSeek == SeekFailed) return;
  reader.blockStart = reader.blockEnd = reader.position = offset;
  reader.tracking = true;
}

uint32_t ReadFrom(ArchiveReader& reader, FileHandle file, void* buffer, uint32_t count) {
  if (!reader.tracking) return ReadFileBytes(file, buffer, count);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = reader.blockEnd - reader.position;
  if (done > count) done = count;
  __builtin_memcpy(out, reader.block + (reader.position - reader.blockStart), done);
  reader.position += done;
  if (done == count) return done;
  // The block is used up. A large read takes the rest straight from the file
  // (and the next one then starts on a fresh block); a small one refills it.
  uint32_t rest = count - done;
  if (count >= ArchiveBlockSize) {
    uint32_t got = ReadFileBytes(file, out + done, rest);
    if (got > rest) got = rest;
    reader.blockStart = reader.blockEnd = reader.position = reader.position + got;
    return done + got;
  }
  uint32_t got = ReadFileBytes(file, reader.block, ArchiveBlockSize);
  if (got > ArchiveBlockSize) got = ArchiveBlockSize;
  reader.blockStart = reader.position;
  reader.blockEnd = reader.position + got;
  if (rest > got) rest = got;
  __builtin_memcpy(out + done, reader.block, rest);
  reader.position += rest;
  return done + rest;
}

}  // namespace

void UseArchiveFile(FileHandle file) {
  State.ArchiveFile = file;
  Held(Reader).tracking = false;
}

void SeekArchive(uint32_t offset, uint16_t origin) {
  (void)origin;  // every caller positions from the start of the file
  SeekIn(Held(Reader), Held(State), offset);
}

uint32_t ReadArchive(void* buffer, uint32_t count) { return ReadFrom(Held(Reader), State.ArchiveFile, buffer, count); }
