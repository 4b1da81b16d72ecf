#include "package/core.h"

#include <stddef.h>

#include "codec/crc32.h"
#include "codec/huffman.h"
#include "codec/inflate.h"
#include "codec/winzip_aes.h"
#include "base/state.h"
#include "base/config.h"
#include "platform/held.h"
#include "base/reader.h"
#include "package/header.h"

namespace {

// The traditional keys and the password lie together in the state.
const size_t PasswordEnd = offsetof(ExtractState, Password) + sizeof State.Password;
static_assert(offsetof(ExtractState, Password) == offsetof(ExtractState, Key2) + sizeof State.Key2,
              "the keys and the password are one block");

char* NewText(uint32_t size = ConfigTextSize) { return (char*)Allocate(size); }

}  // namespace

void StartCore(FileHandle package) {
  SfxConfig& config = Held(Config);
  // Allocate zero-fills, so every text starts empty.
  config.DefaultFolder = NewText(PathTextSize);
  config.Command = NewText(PathTextSize);
  config.Message = NewText();
  State.CrcTable = (uint32_t*)Allocate(CrcTableSize);
  BuildCrcTable();
  BuildLengthTables();
  UseArchiveFile(package);
  if (package != NoFile) ReadPackageHeader();
}

bool EndCore() {
  SfxConfig& config = Held(Config);
  ExtractState& state = Held(State);
  bool closed = true;
  if (state.ArchiveFile != NoFile) closed = CloseFileHandle(state.ArchiveFile);
  UseArchiveFile(NoFile);
  FreeFixedTables();
  Release(state.CrcTable);
  state.CrcTable = nullptr;
  Release(config.DefaultFolder);
  Release(config.Command);
  Release(config.Message);
  config.DefaultFolder = config.Command = config.Message = nullptr;
  // The passwords and keys are not left in memory after the run.
  ClearSecret(&state.Key0, PasswordEnd - offsetof(ExtractState, Key0));   // the keys and the password
  ClearSecret(PasswordBuffer, sizeof PasswordBuffer);
  AesForgetKeys();
  return closed;
}
