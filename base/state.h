#pragma once
// The single global state of the archive walk, the package's
// configuration, and the buffers the engine shares with the dialogs.
#include <stdint.h>
#include "base/config.h"
#include "base/entry.h"
#include "platform/platform.h"

// The fields the engine and the walk use most lie in the first 128 bytes,
// where a function holding the state in a register reaches them with a
// one-byte displacement; the password, used only to derive the keys, is last.
struct ExtractState {
  FileHandle ArchiveFile;
  uint32_t ArchiveStart;
  uint32_t LastSeek;
  uint32_t LocalHeaderSignature;
  ArchiveEntry CurrentEntry;
  uint8_t SkipExisting;
  uint8_t ExtractSucceeded;
  // A walk is under way (WalkRunning); a second one is refused.
  uint8_t Walking;
  // The entry is not selected: only a solid entry is given to the engine so,
  // to be decoded for the entries after it, and nothing is written.
  uint8_t Discard;
  int32_t CompressedLeft;
  int32_t LastIndex;
  // The local headers the walk has read, this entry's included: a solid
  // entry continues the state of the entry numbered one less (codec/lzma.h).
  uint32_t EntryNumber;
  FileHandle OutputFile;
  uint32_t Crc;
  uint32_t* CrcTable;
  // An unattended run: no message box and no password prompt.
  uint8_t Unattended;
  // The current entry's name, and every path built from it, is UTF-8 (else ANSI).
  uint8_t Utf8Name;
  // The rest of the entry being extracted that the decoders see: its AES
  // parameters. Its paths are the engine's own.
  uint8_t AesActive;
  AesEntryInfo AesEntry;
  uint32_t Key0, Key1, Key2;
  char Password[80];
};
static_assert(sizeof(ExtractState) <= 128 + 80, "all but the password within a one-byte displacement");

extern ExtractState State;

extern char DestFolder[PathTextSize];   // UTF-8, at most 254 characters (FolderTextLimit)
extern char PasswordBuffer[80];   // what the password prompt read
extern int32_t PasswordLength;
// The process exit code (ExitCodes, or the code of a command the run waited for).
extern uint32_t ExitCode;

// Caption of every message box the program shows.
extern const char SfxCaption[];

// Overwrites a secret (a password, keys) with zeros; the stores are kept even
// where nothing reads the block again.
void ClearSecret(void* block, uint32_t size);

// Shows a message box with the program's caption, unless the run is unattended;
// the run's log takes the text either way.
void Tell(const char* text, uint32_t icon);

// What asks the user for a password: fills 'buffer' (80 bytes, at most 79
// characters, terminated) and returns the number of characters typed. The
// program that runs the engine sets it (the stub's dialog, a tool's
// terminal); an unattended run never calls it.
typedef uint32_t (*PasswordPrompt)(char* buffer);
extern PasswordPrompt AskPassword;
