// The forward walk over the archive's local headers. The central directory is
// never read: the walk goes from header to header by the sizes each header
// states, and stops at the first four bytes that are neither a local header
// nor a signed data descriptor. Only a stop at the central directory (or, for
// an archive without entries, at the end record) is where the archive says it
// ends; any other stop means the package is cut short or damaged.
#include "archive/walk.h"

#include "archive/entry_log.h"

#include "archive/extra_field.h"
#include "base/config.h"
#include "base/entry.h"
#include "platform/held.h"
#include "base/reader.h"
#include "base/state.h"
#include "base/text.h"
#include "codec/crc32.h"

namespace {

// A header and the name after it, read together: LocalHeaderSize +
// NameBufferSize bytes and a terminator; 'bytes' of them were read. Each walk
// has its own, in its frame.
struct HeaderBlock {
  uint8_t* data;
  uint32_t bytes;
};

// The local header signature is formed at run time from the next value up,
// so the program's image never holds the four signature bytes themselves (the
// stub would otherwise find its own code looking like an archive entry). The
// empty asm hides the value from the compiler, which would fold it back.
void FormLocalHeaderSignature(ExtractState& state) {
  uint32_t seed = LocalHeaderSignature + 1;
  __asm__("" : "+r"(seed));
  state.LocalHeaderSignature = seed - 1;
}

bool FindSelectedEntryIn(ExtractState& state, ListHandle list, const char* name) {
  state.LastIndex = ListFind(list, state.LastIndex, name);
  return ListIsSelected(list, state.LastIndex);
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
// Without that field, a name written on Unix (its entry carries a Unix extra
// field) is read as UTF-8 when it is valid UTF-8: Unix writers store the
// bytes of their locale and seldom set the flag.
__attribute__((noinline)) uint32_t NameFromExtraFields(char* name, uint32_t nameLength, uint32_t length,
                                                       uint32_t headerPosition) {
  uint32_t extraLength;
  uint8_t* extra = ReadEntryExtra(headerPosition, &extraLength);
  uint32_t size;
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
  name[length] = 0;
  for (uint16_t tag : UnixExtraTags)
    if (FindExtraField(extra, extraLength, tag, &size) && IsValidUtf8(name)) SetNameEncoding(true);
  Release(extra);
  return length;
}

// Reads the next local header into state.CurrentEntry, with its name into
// 'header'. False when there is none, and 'end' says why.
bool ReadLocalHeader(ExtractState& state, HeaderBlock& header, WalkEnd& end) {
  // Signed data descriptors are skipped in a loop, one after another.
  for (;;) {
    ArchiveEntry& entry = state.CurrentEntry;
    // One read for the header and its name; bytes read past the name are
    // not used (every later read starts with a seek). At the end of the file
    // the signature stays zero; a short header is refused whatever it holds.
    ArchiveEntry* block = reinterpret_cast<ArchiveEntry*>(header.data);
    block->Signature = 0;
    uint32_t got = ReadArchive(header.data, LocalHeaderSize + NameBufferSize);
    header.bytes = got;
    entry = *block;
    // A header cut short by the end of the file would mix in the fields of
    // the one before it: it ends the walk like any other truncation.
    if (got >= LocalHeaderSize && entry.Signature == state.LocalHeaderSignature) {
      state.CompressedLeft = static_cast<int32_t>(entry.CompressedSize);
      return true;
    }
    state.CompressedLeft = 0;
    end = got == 0 ? WalkFileEnds : WalkNoHeader;
    if (got < 4) return false;
    // Formed from the local header signature, like it, rather than stored.
    uint32_t directoryDistance = 0x02020000;
    if (entry.Signature == state.LocalHeaderSignature - directoryDistance ||
        entry.Signature == state.LocalHeaderSignature + directoryDistance) {
      end = WalkComplete;
      return false;
    }
    if (entry.Signature == state.LocalHeaderSignature) end = WalkCutHeader;
    if (entry.Signature != DataDescriptorSignature) return false;
    uint32_t next = state.LastSeek + DataDescriptorSize;
    if (state.LastSeek == SeekFailed || next < state.LastSeek) return false;
    SeekArchive(next, 0);
    if (state.LastSeek == SeekFailed) return false;
  }
}

}  // namespace

bool WalkRunning() { return WalkRunning(State); }

// One function for the message's several callers: its text is then one
// address to relocate.
__attribute__((noinline)) void ReportReadError() { Tell("Error reading archive.", IconHand); }

bool FindSelectedEntry(ListHandle list, const char* name) { return FindSelectedEntryIn(State, list, name); }

WalkResult ProcessArchive(WindowHandle dialog, int listId, const EntryHandler* extraction) {
  ExtractState& state = Held(State);
  // A message dispatched during an extraction may ask for another walk; the
  // walk's state and the file position are single, so that one is refused.
  WalkResult result = {WalkBusy, 0};
  if (state.Walking) return result;
  state.Walking = true;

  state.ExtractSucceeded = 0;
  FormLocalHeaderSignature(state);
  ListHandle list = GetEntryList(dialog, listId);

  result.position = state.ArchiveStart;
  SeekArchive(state.ArchiveStart, 0);
  if (state.LastSeek == SeekFailed) {
    ReportReadError();
    if (extraction) extraction->Finish(list, false);
    state.Walking = false;
    result.end = WalkNoHeader;
    return result;
  }

  // The name is read with its header; one more byte than the longest
  // accepted name, for its terminator.
  HeaderBlock header = {static_cast<uint8_t*>(Allocate(LocalHeaderSize + NameBufferSize + 1)), 0};
  char* name = reinterpret_cast<char*>(header.data + LocalHeaderSize);
  state.LastIndex = -1;
  state.EntryNumber = 0;
  if (!extraction) ListClear(list);

  bool handled = false;   // some entry went to the handler
  for (;;) {
    // Every read of a header starts with a seek: LastSeek is where it stands.
    bool found = ReadLocalHeader(state, header, result.end);
    uint32_t headerPosition = result.position = state.LastSeek;
    if (!found) break;
    state.EntryNumber++;
    const ArchiveEntry& entry = state.CurrentEntry;
    uint32_t nameLength = entry.NameLength;
    uint32_t next = headerPosition + LocalHeaderSize + nameLength + entry.ExtraLength +
                    entry.CompressedSize;

    // A name that does not fit is refused like an empty one: cutting it
    // would list (and later write) a different name.
    uint32_t length = 0;
    SetNameEncoding((entry.EntryFlags & FlagUtf8) != 0);
    if (nameLength <= NameBufferSize) {
      if (header.bytes - LocalHeaderSize < nameLength) {   // the archive ends inside the name: damaged
        result.end = WalkCutName;
        break;
      }
      length = StringFromBuffer(name, nameLength);
      if (length > 0 && !state.Utf8Name && entry.ExtraLength > 0)
        length = NameFromExtraFields(name, nameLength, length, headerPosition);
    }
    name[length] = 0;
    if (length == 0) {
      Tell("Invalid filename ", IconHand);
      result.end = WalkRefusedName;
      break;
    }

    if (!extraction) {
      ListAdd(list, name, entry.UncompressedSize);
    } else {
      bool selected = FindSelectedEntryIn(state, list, name);
      state.Discard = !selected;
      // A solid entry is decoded, selected or not: the entries after it in
      // its block need its data. An AES entry may be solid: the engine reads
      // its real method, and lets an unselected one go unless it is (as any
      // other method above AES's: one comparison covers both).
      static_assert(MethodSolid > MethodAes, "solid and AES entries are the methods from AES's up");
      // An entry handed on unselected logs itself (as skipped).
      if (selected || entry.Method >= MethodAes) {
        handled |= selected;
        EntryResult step = extraction->Extract(dialog, list, headerPosition, name).next;
        if (step != NextEntry) {
          result.end = WalkStopped;
          if (step == AbortRun) handled = false;
          break;
        }
      } else {
        LogEntry(EntrySkipped, name);
      }
    }

    // 32-bit arithmetic: a position that wrapped around would walk back, so
    // it ends the walk like any other damage.
    result.position = next;
    result.end = WalkNoHeader;
    if (next <= headerPosition) break;
    SeekArchive(next, 0);
    if (state.LastSeek == SeekFailed) break;
  }

  ShowProgress(dialog, nullptr);   // the last path, if its display is still due
  SetNameEncoding(false);
  bool complete = result.end == WalkComplete || result.end == WalkStopped;
  if (result.end != WalkRefusedName) {
    if (!extraction) {
      if (ListCount(list) == 0) Tell("Cannot read archive header", IconExclamation);
    } else {
      // Entries after a damaged spot were never seen, selected or not.
      if (!complete) ReportReadError();
      if (handled || !complete) extraction->Finish(list, complete);
    }
  }
  Release(header.data);
  state.Walking = false;
  return result;
}
