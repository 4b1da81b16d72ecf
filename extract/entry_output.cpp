#include "extract/entry_output.h"

#include "archive/entry_time.h"
#include "archive/extra_field.h"
#include "base/config.h"
#include "base/reader.h"
#include "base/state.h"
#include "base/text.h"
#include "codec/winzip_aes.h"

void CopyBytes(char* dest, const char* source, size_t count) {
  for (size_t i = 0; i < count; i++) dest[i] = source[i];
}

void ShowMessageWith(const char* prefix, const char* detail, size_t detailLength, uint32_t icon) {
  size_t prefixLength = StrLength(prefix);
  char* text = (char*)Allocate(prefixLength + detailLength + 1);
  CopyBytes(text, prefix, prefixLength);
  CopyBytes(text + prefixLength, detail, detailLength);
  text[prefixLength + detailLength] = 0;
  Tell(text, icon);
  Release(text);
}

// The one verdict on an entry's data once it is decoded. Whatever its method
// and encryption, every write must have succeeded, the decoder must have
// reached the end of its stream having used exactly its data, and the bytes
// written must be the entry's size; its CRC-32 must match (AE-2 entries carry
// none), and an AES entry's authentication code, stored right after the
// encrypted data where the decoders stopped reading, must match the code over
// what they decrypted. A failed entry is named by what went wrong first: the
// writes, the code (which proves the data were altered), the decoding, the
// size, or else the CRC.
EntryOutcome DataVerdict(DecodeResult decoded, uint32_t crc, const ArchiveEntry& entry, bool aes) {
  bool crcMatches = (crc ^ 0xFFFFFFFF) == entry.EntryCrc;
  bool codeMatches = true;
  if (aes) {
    uint8_t code[AesCodeSize];
    codeMatches = ReadArchive(code, AesCodeSize) == AesCodeSize && AesCodeMatches(code);
    crcMatches = crcMatches || State.AesEntry.version == 2;
  }
  // Settings the decoder cannot serve say nothing about the data.
  if (decoded.end >= DecodeUnsupported) return (EntryOutcome)decoded.end;
  bool whole = decoded.end == DecodeDone && decoded.written == entry.UncompressedSize;
  if (codeMatches && crcMatches && whole) return EntryExtracted;
  if (decoded.end != DecodeWriteFailed && !codeMatches) return EntryCodeMismatch;
  if (decoded.end != DecodeDone) return (EntryOutcome)decoded.end;   // the same values
  return whole ? EntryCrcMismatch : EntrySizeMismatch;
}

void ReportCannotOpen(const EntryPaths& paths) {
  ShowMessageWith("Cannot open file ", paths.Output, paths.OutputLength, IconExclamation);
}

void ReportUnservable(EntryOutcome outcome, const char* name) {
  if (outcome == EntryUnsupported || outcome == EntryOutOfMemory)
    ShowMessageWith(outcome == EntryUnsupported ? "Unsupported compression settings in "
                                                : "Not enough memory to extract ",
                    name, StrLength(name), IconExclamation);
}

void ReadEntryTime(uint32_t headerPosition, FileStamp& stamp) {
  const ArchiveEntry& entry = State.CurrentEntry;
  uint32_t length;
  uint8_t* extra = ReadEntryExtra(headerPosition, &length);
  EntryStamp(extra, length, entry.EntryDate, entry.EntryTime, stamp);
  Release(extra);
}

// Closes an entry's temporary file; a failure is reported. Out of line: the
// compiler would copy it onto both ways of SettleOutput.
__attribute__((noinline)) static bool CloseOutputFile(FileHandle file, const EntryPaths& paths) {
  if (CloseFileHandle(file)) return true;
  ShowMessageWith("Cannot close file ", paths.Output, paths.OutputLength, IconExclamation);
  return false;
}

// Ends an entry's temporary file once its data are decoded and judged. A file
// that checked out takes the entry's time (after the last write, which would
// stamp the time of now), is kept when closed and moved onto its name, and its
// list item is deselected; any other goes with its handle. A failed close or
// move makes the outcome a write failure.
EntryOutcome SettleOutput(EntryOutcome outcome, FileHandle file, EntryPaths& paths,
                          const FileStamp& stamp, ListHandle list, int32_t listIndex) {
  if (outcome == EntryExtracted) {
    if (Config.KeepTimes) SetFileTimes(file, stamp);
    KeepNewFile(file);
  }
  if (!CloseOutputFile(file, paths) && outcome == EntryExtracted) outcome = EntryWriteFailed;
  if (outcome == EntryExtracted && !MoveOntoFile(paths.Temp, paths.Output)) {
    ReportCannotOpen(paths);
    outcome = EntryWriteFailed;
  }
  if (outcome == EntryExtracted)
    ListSelect(list, listIndex, false);
  else
    DeleteFileAt(paths.Temp);
  Release(paths.Temp);
  paths.Temp = nullptr;
  return outcome;
}
