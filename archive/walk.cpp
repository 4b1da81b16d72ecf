// The forward walk over the archive's local headers. The central directory is
// never read: the walk goes from header to header by the sizes each header
// states, and stops at the first four bytes that are neither a local header
// nor a signed data descriptor. Only a stop at the central directory (or, for
// an archive without entries, at the end record) is where the archive says it
// ends; any other stop means the package is cut short or damaged.
#include "archive/walk.h"

#include "archive/entry.h"
#include "codec/crc32.h"
#include "extract/paths.h"
#include "extract/state.h"
#include "package/config.h"
#include "package/reader.h"

namespace {

bool Running = false;

// Set by ReadLocalHeader when the walk stopped where the archive ends.
bool ReachedDirectory = false;

// A header and the name after it, read together: LocalHeaderSize +
// NameBufferSize bytes and a terminator; 'HeaderBytes' of them were read.
uint8_t* HeaderBlock;
uint32_t HeaderBytes;

// The local header signature is formed at run time from the next value up,
// so the program's image never holds the four signature bytes themselves (the
// stub would otherwise find its own code looking like an archive entry). The
// empty asm hides the value from the compiler, which would fold it back.
void FormLocalHeaderSignature() {
  uint32_t seed = LocalHeaderSignature + 1;
  __asm__("" : "+r"(seed));
  State.LocalHeaderSignature = seed - 1;
}

// The name's encoding for the engine and for the seam, which converts the
// texts it is given accordingly.
__attribute__((noinline)) void SetNameEncoding(bool utf8) {
  State.Utf8Name = utf8;
  SetUtf8Texts(utf8);
}

// The entry's header starts at 'headerPosition'; its stored name takes
// nameLength bytes, the first 'length' of them the name. A name not marked UTF-8 may
// carry its UTF-8 form in a Unicode Path extra field, which counts only while
// the CRC-32 it records matches the stored name: a program that renamed the
// entry without knowing the field leaves a stale one behind. Puts that form
// into 'name' and returns its length (0 when it does not fit, which refuses
// the entry like any name that does not fit); returns 'length' when no field applies.
__attribute__((noinline)) uint16_t TakeUnicodePath(char* name, uint16_t nameLength, uint16_t length,
                                                   uint32_t headerPosition) {
  uint32_t extraLength;
  uint8_t* extra = ReadEntryExtra(headerPosition, &extraLength);
  uint16_t size;
  const uint8_t* field = FindExtraField(extra, extraLength, UnicodePathTag, &size);
  // Version, the CRC-32 of the stored name, the UTF-8 name.
  if (field && size >= 5 && field[0] == UnicodePathVersion) {
    uint32_t crc = 0xFFFFFFFF;
    CrcUpdate(reinterpret_cast<const uint8_t*>(name), nameLength, crc);
    if (~crc == Read32(field + 1)) {
      size -= 5;
      length = 0;
      if (size <= NameBufferSize) {
        __builtin_memcpy(name, field + 5, size);
        length = StringFromBuffer(name, size);
      }
      SetNameEncoding(true);
    }
  }
  Release(extra);
  return length;
}

}  // namespace

bool WalkRunning() { return Running; }

bool ReadLocalHeader() {
  // Signed data descriptors are skipped in a loop, one after another.
  for (;;) {
    ArchiveEntry& entry = State.CurrentEntry;
    // One read for the header and its name; bytes read past the name are
    // not used (every later read starts with a seek). At the end of the file
    // the signature stays zero; a short header is refused whatever it holds.
    ArchiveEntry* block = reinterpret_cast<ArchiveEntry*>(HeaderBlock);
    block->Signature = 0;
    uint32_t got = ReadArchive(HeaderBlock, LocalHeaderSize + NameBufferSize);
    HeaderBytes = got;
    entry = *block;
    // A header cut short by the end of the file would mix in the fields of
    // the one before it: it ends the walk like any other truncation.
    if (got >= LocalHeaderSize && entry.Signature == State.LocalHeaderSignature) {
      State.CompressedLeft = static_cast<int32_t>(entry.CompressedSize);
      return true;
    }
    State.CompressedLeft = 0;
    if (got < 4) return false;
    // Formed from the local header signature, like it, rather than stored.
    uint32_t directoryDistance = 0x02020000;
    if (entry.Signature == State.LocalHeaderSignature - directoryDistance ||
        entry.Signature == State.LocalHeaderSignature + directoryDistance) {
      ReachedDirectory = true;
      return false;
    }
    if (entry.Signature != DataDescriptorSignature) return false;
    uint32_t next = State.LastSeek + DataDescriptorSize;
    if (State.LastSeek == SeekFailed || next < State.LastSeek) return false;
    SeekArchive(next, 0);
    if (State.LastSeek == SeekFailed) return false;
  }
}

bool FindSelectedEntry(ListHandle list, const char* name) {
  State.LastIndex = ListFind(list, State.LastIndex, name);
  return ListIsSelected(list, State.LastIndex);
}

void ProcessArchive(WindowHandle dialog, int listId, bool listOnly) {
  // A message dispatched during an extraction may ask for another walk; the
  // walk's state and the file position are single, so that one is refused.
  if (Running) return;
  Running = true;

  State.ExtractSucceeded = 0;
  FormLocalHeaderSignature();
  EntryReady = false;
  ForgetKnownFolder();

  ReachedDirectory = false;
  ListHandle list = GetEntryList(dialog, listId);

  SeekArchive(State.ArchiveStart, 0);
  if (State.LastSeek == SeekFailed) {
    ShowMessage("Error reading archive.", SfxCaption, IconHand);
    if (!listOnly) FinishExtraction(list, false);
    Running = false;
    return;
  }

  // The name is read with its header; one more byte than the longest
  // accepted name, for its terminator.
  HeaderBlock = static_cast<uint8_t*>(Allocate(LocalHeaderSize + NameBufferSize + 1));
  char* name = reinterpret_cast<char*>(HeaderBlock + LocalHeaderSize);
  State.LastIndex = -1;
  if (listOnly) ListClear(list);

  bool aborted = false;
  bool ended = false;   // the engine ended the walk, with its own report
  while (ReadLocalHeader()) {
    uint32_t headerPosition = State.LastSeek;
    const ArchiveEntry& entry = State.CurrentEntry;
    uint16_t nameLength = entry.NameLength;
    uint32_t next = headerPosition + LocalHeaderSize + nameLength + entry.ExtraLength +
                    entry.CompressedSize;

    // A name that does not fit is refused like an empty one: cutting it
    // would list (and later write) a different name.
    uint16_t length = 0;
    SetNameEncoding((entry.EntryFlags & FlagUtf8) != 0);
    if (nameLength <= NameBufferSize) {
      if (HeaderBytes - LocalHeaderSize < nameLength) break;  // the archive ends inside the name: damaged
      length = StringFromBuffer(name, nameLength);
      if (length > 0 && !State.Utf8Name && entry.ExtraLength > 0)
        length = TakeUnicodePath(name, nameLength, length, headerPosition);
    }
    name[length] = 0;
    if (length == 0) {
      ShowMessage("Invalid filename ", SfxCaption, IconHand);
      aborted = true;
      break;
    }

    if (listOnly) {
      ListAdd(list, name);
    } else if (FindSelectedEntry(list, name)) {
      EntryResult result = ExtractEntry(dialog, list, headerPosition, name);
      if (result == EndWalk) {
        ended = true;
        break;
      }
      if (result == AbortRun) {
        aborted = true;
        break;
      }
    }

    // 32-bit arithmetic: a position that wrapped around would walk back, so
    // it ends the walk like any other damage.
    if (next <= headerPosition) break;
    SeekArchive(next, 0);
    if (State.LastSeek == SeekFailed) break;
  }

  ShowProgress(dialog, nullptr);   // the last path, if its display is still due
  SetNameEncoding(false);
  if (!aborted) {
    if (listOnly) {
      if (ListCount(list) == 0)
        ShowMessage("Cannot read archive header", SfxCaption, IconExclamation);
    } else {
      // Entries after a damaged spot were never seen, selected or not.
      if (!ReachedDirectory && !ended)
        ShowMessage("Error reading archive.", SfxCaption, IconHand);
      FinishExtraction(list, ReachedDirectory || ended);
    }
  }
  Release(HeaderBlock);
  Running = false;
}
