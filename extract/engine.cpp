#include "extract/engine.h"

#include <stddef.h>
#include <stdint.h>

#include "archive/entry_log.h"
#include "archive/extra_field.h"
#include "base/config.h"
#include "base/entry.h"
#include "platform/held.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/crypt.h"
#include "codec/inflate.h"
#include "codec/lzma.h"
#include "codec/stored.h"
#include "codec/winzip_aes.h"
#include "extract/background.h"
#include "extract/entry_output.h"
#include "extract/names.h"
#include "extract/paths.h"

const char AllExtractedText[] = "All files have been extracted successful.";
const char NotExtractedText[] = "Couldn't get extracted the selected files.";

namespace {

const int PasswordTries = 3;

struct DataDescriptor {
  bool present;
  uint32_t compressedSize;
};

// The signed data descriptor at 'position', if its signature is there: its
// CRC-32 and uncompressed size become the current entry's.
DataDescriptor TakeDescriptor(ExtractState& state, uint32_t position) {
  DataDescriptor descriptor = {false, 0};
  SeekArchive(position, 0);
  if (state.LastSeek == SeekFailed) return descriptor;
  uint8_t bytes[DataDescriptorSize];
  if (ReadArchive(bytes, DataDescriptorSize) != DataDescriptorSize) return descriptor;
  if (Read32(bytes) != DataDescriptorSignature) return descriptor;
  descriptor.present = true;
  state.CurrentEntry.EntryCrc = Read32(bytes + 4);
  descriptor.compressedSize = Read32(bytes + 8);
  state.CurrentEntry.UncompressedSize = Read32(bytes + 12);
  return descriptor;
}

// Bytes of an encrypted entry's data around the compressed data: the
// traditional encryption header, or AES salt, verifier and authentication code.
uint32_t CipherOverhead(const ExtractState& state) {
  if (!state.AesActive) return EncryptionHeaderSize;
  return AesSaltSize(state.AesEntry.strength) + AesVerifierSize + AesCodeSize;
}

// For a method-99 entry: reads its extra field, sets State.AesActive when the AES
// field is there and usable, and puts the real method in place of 99 so the
// decoders are chosen as for any entry. Otherwise the entry keeps method 99,
// which no decoder takes.
void TakeAesParameters(ExtractState& state, uint32_t headerPosition) {
  uint32_t length;
  uint8_t* extra = ReadEntryExtra(headerPosition, &length);
  state.AesActive = FindAesExtra(extra, length, state.AesEntry);
  Release(extra);
  if (state.AesActive) state.CurrentEntry.Method = state.AesEntry.method;
}

// Takes what the prompt read as the current password.
void TakeTypedPassword(ExtractState& state, const char* typed) {
  uint32_t count = PasswordLength < 0 ? 0 : PasswordLength > 79 ? 79 : (uint32_t)PasswordLength;
  uint32_t length = StringFromBuffer(typed, count);
  CopyBytes(state.Password, typed, length);
  state.Password[length] = 0;
}

// How the password stage settled an entry's password.
enum PasswordResult { PasswordRefused, PasswordRemembered, PasswordTyped };

// Checks the state's password against the stored encryption header, which
// lies in the second half of 'header' (the first half receives the
// traditional header's decrypted bytes).
bool PasswordFits(ExtractState& state, uint8_t* header) {
  const ArchiveEntry& entry = state.CurrentEntry;
  if (state.AesActive) return AesCheckPassword(state.Password, header + EncryptionHeaderSize);
  return CheckPassword(header, EncryptionHeaderSize, entry.EntryFlags, state.Password,
                       entry.EntryTime, entry.EntryCrc);
}

// Reads the encryption header at the current read position (12 bytes, or
// the AES salt and verifier) and settles the password: the remembered one
// first (unless it already proved wrong for this entry), then up to three
// prompts.
PasswordResult PasswordStage(bool tryRemembered) {
  ExtractState& state = Held(State);
  const uint32_t largestAesHeader = 16 + AesVerifierSize;
  uint8_t* header = (uint8_t*)Allocate(EncryptionHeaderSize + largestAesHeader);
  uint32_t stored = state.AesActive ? AesSaltSize(state.AesEntry.strength) + AesVerifierSize : EncryptionHeaderSize;
  ReadArchive(header + EncryptionHeaderSize, stored);
  PasswordResult result = PasswordRefused;
  char* typed = Held(PasswordBuffer);
  if (tryRemembered && state.Password[0] != 0 && PasswordFits(state, header)) result = PasswordRemembered;
  // An unattended run never prompts: only the remembered (/P=) password is tried.
  for (int tries = state.Unattended ? PasswordTries : 0; result == PasswordRefused && tries < PasswordTries; tries++) {
    PasswordLength = (int32_t)AskPassword(typed);
    TakeTypedPassword(state, typed);
    if (PasswordFits(state, header)) result = PasswordTyped;
  }
  Release(header);
  return result;
}

// paths.Output := DestFolder without one trailing backslash, '\', name; both
// are UTF-8 (the name once ExtractEntry has converted it).
void BuildOutputPath(EntryPaths& paths, const char* name) {
  char* folder = RemoveBackslash(DestFolder);
  size_t folderLength = StringFromBuffer(folder, sizeof DestFolder);
  size_t nameLength = StrLength(name);
  paths.OutputLength = folderLength + 1 + nameLength;
  paths.Output = (char*)Allocate(paths.OutputLength + 1);
  CopyBytes(paths.Output, folder, folderLength);
  paths.Output[folderLength] = '\\';
  CopyBytes(paths.Output + folderLength + 1, name, nameLength);
  paths.Output[paths.OutputLength] = 0;
}

void ReleaseOutputPath(EntryPaths& paths) {
  Release(paths.Output);
  paths.Output = nullptr;
  paths.OutputLength = 0;
}

bool IsFolderName(const char* name) {
  size_t length = StrLength(name);
  return length > 0 && (name[length - 1] == '/' || name[length - 1] == '\\');
}

// The temporary file an entry is written to (paths.Temp), in its own
// folder so that the move onto its name stays on one volume. A name is taken
// only when nothing stands there yet, so no existing file is ever touched.

bool CreateTempFile(ExtractState& state, EntryPaths& paths, size_t folderLength) {
  static const char TempName[] = "\\~tv00.tmp";   // the digits are varied
  const size_t nameLength = sizeof TempName - 1;
  paths.Temp = (char*)Allocate(folderLength + nameLength + 1);
  CopyBytes(paths.Temp, paths.Output, folderLength);
  char* name = paths.Temp + folderLength;
  CopyBytes(name, TempName, nameLength + 1);
  for (int i = 0; i < 100; i++) {
    name[4] = (char)('0' + i / 10);
    name[5] = (char)('0' + i % 10);
    state.OutputFile = CreateNewFile(paths.Temp);
    if (state.OutputFile != NoFile) return true;
    if (FindPath(paths.Temp) == PathMissing) break;   // refused for another reason
  }
  Release(paths.Temp);
  paths.Temp = nullptr;
  return false;
}

// "Error in directory " with the first 'length' characters of paths.Output.
__attribute__((noinline)) void ReportFolderError(const EntryPaths& paths, size_t length) {
  ShowMessageWith("Error in directory ", paths.Output, length, IconExclamation);
}

// Does the folder part of paths.Output (its first 'length' characters) exist?
bool FolderPartExists(EntryPaths& paths, size_t length) {
  char saved = paths.Output[length];
  paths.Output[length] = 0;
  bool exists = PathExists(paths.Output);
  paths.Output[length] = saved;
  return exists;
}

// A folder entry is done once its folder exists: it is created with its
// parents when missing. A file standing in its place does not count.
EntryReport ExtractFolder(const ExtractState& state, EntryPaths& paths, ListHandle list) {
  SlashesToBackslashes(paths.Output);
  size_t length = paths.OutputLength;
  while (length > 0 && paths.Output[length - 1] == '\\') length--;
  paths.Output[length] = 0;
  SettleBackgroundBefore(paths.Output);
  ForceFolders(paths.Output, length);   // refuses a path too long for it
  // With its backslash the test asks whether the folder lists anything, which
  // every folder does (its own entry) and a file never does.
  paths.Output[length] = '\\';
  paths.Output[length + 1] = 0;
  if (PathExists(paths.Output)) {
    ListSelect(list, state.LastIndex, false);
    return {NextEntry, EntryExtracted};
  }
  ReportFolderError(paths, length);
  return {EndWalk, EntryWriteFailed};
}

// Whether the system may take 'name' for another file's: a '~' may make it
// another file's short name, and a trailing dot or blank is dropped.
bool MayNameAnotherFile(const char* name) {
  for (; *name; name++)
    if (*name == '~' || ((*name == '.' || *name == ' ') && name[1] == 0)) return true;
  return false;
}

// Ends the temporary file of an entry decoded in turn. Out of line: the stamp,
// a 16-byte local with a 64-bit field, makes the compiler realign the stack
// frame of the function that holds it. SettleOutput reads it only when it is
// filled here.
__attribute__((noinline)) EntryOutcome SettleWritten(EntryOutcome outcome, ExtractState& state,
                                                     EntryPaths& paths, ListHandle list,
                                                     uint32_t headerPosition) {
  FileStamp stamp;
  if (outcome == EntryExtracted && Config.KeepTimes) ReadEntryTime(headerPosition, stamp);
  outcome = SettleOutput(outcome, state.OutputFile, paths, stamp, list, state.LastIndex);
  state.OutputFile = NoFile;
  return outcome;
}

// Decodes the current entry's data (at the read position) into
// state.OutputFile, with the CRC over what it took.
DecodeResult DecodeEntry(ExtractState& state) {
  const ArchiveEntry& entry = state.CurrentEntry;
  state.Crc = 0xFFFFFFFF;
  state.CompressedLeft = (int32_t)entry.CompressedSize;
  if (entry.EntryFlags & FlagEncrypted) state.CompressedLeft -= (int32_t)CipherOverhead(state);
  return entry.Method == MethodStored                                   ? CopyStoredEntry(state)
         : entry.Method == MethodLzma || entry.Method == MethodSolid ? LzmaEntry(state)
                                                                       : InflateEntry(state);
}

// An entry that is not written (not selected, kept, or its file cannot be
// made): a solid one is decoded all the same, with no file, for the entries
// after it in its block. A dictionary it cannot have, or settings it cannot
// serve, become its outcome, so that they are named once.
__attribute__((noinline)) EntryReport PassEntry(ExtractState& state, EntryOutcome outcome) {
  if (state.CurrentEntry.Method == MethodSolid) {
    state.OutputFile = NoFile;
    DecodeEnd end = DecodeEntry(state).end;
    if (end >= DecodeUnsupported) outcome = (EntryOutcome)end;
  }
  return {NextEntry, outcome};
}

// Everything from the output path on, for an entry that passed the password
// stage; the read position is at the entry's (encrypted) data. The data goes
// to a temporary file that replaces the entry's file only once it checked
// out, so a damaged or cut entry never leaves anything under its name and an
// existing file stays as it was.
EntryReport WriteEntry(EntryPaths& paths, WindowHandle dialog, ListHandle list, const char* name,
                       uint32_t headerPosition) {
  ExtractState& state = Held(State);
  const ArchiveEntry& entry = state.CurrentEntry;
  if (state.Discard) return PassEntry(state, EntryKept);
  BuildOutputPath(paths, name);
  ShowProgress(dialog, paths.Output);
  if (IsFolderName(name)) return ExtractFolder(state, paths, list);

  SlashesToBackslashes(paths.Output);
  SettleBackgroundBefore(paths.Output);
  if (paths.OutputLength > 0xFFFF) {
    ReportCannotOpen(paths);
    return PassEntry(state, EntryWriteFailed);
  }
  // Only a file under exactly this name counts as existing: a folder in the
  // way, or another file the system finds under this name, is refused.
  // Replacing needs no look unless the name may be another file's: the move
  // refuses a folder. A look for a missing name is what costs most per file
  // in a large folder.
  PathKind existing = PathMissing;
  if (state.SkipExisting || MayNameAnotherFile(paths.Output + paths.OutputLength - StrLength(name)))
    existing = FindPath(paths.Output);
  if (existing == PathFile && state.SkipExisting) {
    ListSelect(list, state.LastIndex, false);
    return PassEntry(state, EntryKept);
  }
  if (existing == PathFolder || existing == PathOtherName) {
    ReportCannotOpen(paths);
    return PassEntry(state, EntryWriteFailed);
  }
  uint32_t folderLength = ExtractDir(paths.Output, paths.OutputLength);
  if (existing == PathMissing) {
    if (!ForceFolders(paths.Output, folderLength) && !FolderPartExists(paths, folderLength)) {
      ReportFolderError(paths, folderLength);
      return {EndWalk, EntryWriteFailed};
    }
  }
  if (entry.Method != MethodStored && entry.Method != MethodDeflated && entry.Method != MethodLzma &&
      entry.Method != MethodSolid) {
    Tell("Unknown compression type", IconHand);
    return {AbortRun, EntryUnknownMethod};
  }

  if (!CreateTempFile(state, paths, folderLength)) {
    ReportCannotOpen(paths);
    return PassEntry(state, EntryWriteFailed);
  }
  PumpOneMessage();
  SettleBackground(false);
  if (GoesToBackground(entry)) {
    uint8_t* data = (uint8_t*)TryAllocate(entry.CompressedSize);
    if (data) return {NextEntry, StartBackground(state, data, name, headerPosition, list, paths)};
  }

  DecodeResult decoded = DecodeEntry(state);
  EntryOutcome outcome = DataVerdict(decoded, state.Crc, entry, state.AesActive);
  outcome = SettleWritten(outcome, state, paths, list, headerPosition);
  return {NextEntry, outcome};
}

// ExtractEntry for a name that passed the check, in UTF-8 where the system
// takes paths so.
EntryReport ExtractSafeEntry(ExtractState& state, WindowHandle dialog, ListHandle list,
                             uint32_t headerPosition, const char* name) {
  const ArchiveEntry& entry = state.CurrentEntry;
  // The paths of the entry being written, built per write.
  EntryPaths paths = {};

  bool encrypted = (entry.EntryFlags & FlagEncrypted) != 0;
  if (encrypted && entry.Method == MethodAes) TakeAesParameters(state, headerPosition);
  // Of the entries that are not selected only solid ones are decoded.
  if (state.Discard && entry.Method != MethodSolid) return {NextEntry, EntryKept};

  // An encryption the engine cannot read: no password can help.
  if (entry.EntryFlags & FlagStrongEncryption) {
    Tell("Unknown compression type", IconHand);
    return {NextEntry, EntryUnknownMethod};
  }

  // A folder entry carries no data to decrypt or check; a folder it makes
  // keeps the time of its creation.
  if (IsFolderName(name)) {
    EntryReport report = WriteEntry(paths, dialog, list, name, 0);
    ReleaseOutputPath(paths);
    return report;
  }

  uint32_t dataStart = headerPosition + LocalHeaderSize + entry.NameLength + entry.ExtraLength;

  if (entry.EntryFlags & FlagDescriptor) {
    // Writers that stream set bit 3 and may leave the CRC, or the sizes too,
    // to the descriptor after the data.
    DataDescriptor descriptor = TakeDescriptor(state, dataStart + entry.CompressedSize);
    bool emptyStored = entry.Method == MethodStored && descriptor.present && descriptor.compressedSize == 0;
    if (entry.CompressedSize == 0 && !emptyStored) {
      // The data's end is unknown to a forward walk, so nothing after this
      // entry can be found either.
      ReportReadError();
      return {EndWalk, EntryDamaged};
    }
  }
  if (entry.CompressedSize > 0x7FFFFFFF ||
      (encrypted && entry.CompressedSize < CipherOverhead(state))) {
    // Reported like an unreadable archive; the item stays selected.
    ReportReadError();
    return {NextEntry, EntryDamaged};
  }

  SeekArchive(dataStart, 0);
  PasswordResult password = PasswordTyped;
  // A method-99 entry without a usable AES field asks for no password: it
  // ends at the unknown method.
  if (encrypted && entry.Method != MethodAes) password = PasswordStage(true);
  for (;;) {
    // Refused: an interactive run ends at once, without its final message;
    // an unattended one goes on with the next entry and fails at its end.
    if (password == PasswordRefused) return {state.Unattended ? NextEntry : AbortRun, EntryWrongPassword};
    EntryReport report = WriteEntry(paths, dialog, list, name, headerPosition);
    ReleaseOutputPath(paths);
    // A remembered password can pass the one-byte check of a traditionally
    // encrypted entry it does not open; the data tell, and the user is asked
    // once as for any other entry (the same password failing again is damage).
    // An AES verifier that matched is the password: a code that does not
    // match is damaged data, and nobody is asked. A failed write is never
    // the password's fault.
    bool dataFailed = report.outcome != EntryExtracted && report.outcome != EntryWriteFailed &&
                      report.outcome <= EntrySizeMismatch;
    if (!dataFailed || password != PasswordRemembered || state.AesActive || state.Unattended) {
      ReportUnservable(report.outcome, name);
      return report;
    }
    SeekArchive(dataStart, 0);
    password = PasswordStage(false);
  }
}

}  // namespace

EntryReport ExtractEntry(WindowHandle dialog, ListHandle list, uint32_t headerPosition,
                         const char* name) {
  ExtractState& state = Held(State);
  state.AesActive = false;
  // A name that would leave the destination folder is refused before anything
  // else, a password prompt included. The run then ends with the failure message.
  EntryReport report = {NextEntry, EntryRefusedName};
  char* utf8Name = nullptr;
  // An entry that is not selected is only decoded.
  if (!state.Discard && !IsSafeEntryName(name, state.Utf8Name)) {
    ShowMessageWith("Invalid filename ", name, StrLength(name), IconHand);
  } else {
    // Paths are UTF-8: an ANSI name is taken in its UTF-8 form from here on,
    // and so are the texts that show it.
    if (!state.Utf8Name) {
      // An ANSI character takes at most three bytes in UTF-8.
      uint32_t size = 3 * StrLength(name) + 1;
      utf8Name = (char*)Allocate(size);
      if (AnsiToUtf8(name, utf8Name, size)) {
        name = utf8Name;
        state.Utf8Name = 1;
        SetUtf8Texts(true);
      }
    }
    report = ExtractSafeEntry(state, dialog, list, headerPosition, name);
  }
  // An entry on the second thread is logged when it is settled.
  if (report.outcome != EntryDecoding) LogEntry(state.Discard ? EntrySkipped : report.outcome, name);
  Release(utf8Name);
  return report;
}

void FinishExtraction(ListHandle list, bool complete) {
  SettleBackground(true);
  if (complete && ListSelectedCount(list) == 0) {
    Tell(AllExtractedText, IconInformation);
    State.ExtractSucceeded = 1;
  } else {
    Tell(NotExtractedText, IconHand);
    State.ExtractSucceeded = 0;
  }
}

static_assert(EntryDamaged == (int)DecodeDamaged && EntryEndsEarly == (int)DecodeInputEnds &&
                  EntryWriteFailed == (int)DecodeWriteFailed &&
                  EntryUnsupported == (int)DecodeUnsupported && EntryOutOfMemory == (int)DecodeOutOfMemory,
              "a decoder's end is its entry's outcome");

const EntryHandler Extraction = {ExtractEntry, FinishExtraction};

WalkResult ExtractArchive(WindowHandle dialog, int listId) {
  // The user may have removed folders since the last run.
  ForgetKnownFolder();
  WalkResult result = ProcessArchive(dialog, listId, &Extraction);
  // A run that ended without its final message still settles its last entry.
  SettleBackground(true);
  return result;
}
